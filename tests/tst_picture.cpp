#include "protocol/picture.h"

#include <QtTest>
#include <limits>

using namespace plv;

class TstPicture : public QObject {
    Q_OBJECT
private slots:
    void formatsAsThePictureSays_data();
    void formatsAsThePictureSays();
    void extremeValuesDoNotBreakIt_data();
    void extremeValuesDoNotBreakIt();
};

void TstPicture::formatsAsThePictureSays_data()
{
    QTest::addColumn<QString>("picture");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("#0.00 whole") << "#0.00" << 70.0 << "70.00";
    QTest::newRow("#0.00 rounds") << "#0.00" << 35.008512 << "35.01";
    QTest::newRow("#0.00 keeps one integer digit") << "#0.00" << 0.25 << "0.25";
    QTest::newRow("0.00 rounds up") << "0.00" << 4.2857 << "4.29";
    QTest::newRow("0.00 rounds down") << "0.00" << 8.5714 << "8.57";
    QTest::newRow("0.00 zero") << "0.00" << 0.0 << "0.00";
    QTest::newRow("0.00 carries into integer") << "0.00" << 9.995 << "10.00";
    QTest::newRow("0.##0 three decimals") << "0.##0" << 1.221 << "1.221";
    QTest::newRow("0.##0 zero prints all") << "0.##0" << 0.0 << "0.000";
    QTest::newRow("0.##0 trailing zeros kept") << "0.##0" << 2.5 << "2.500";
    QTest::newRow("##.#0 whole") << "##.#0" << 15.0 << "15.00";
    QTest::newRow("##.#0 no integer digit") << "##.#0" << 0.5 << ".50";
    QTest::newRow("##.#0 negative") << "##.#0" << -2.489 << "-2.49";
    QTest::newRow("##.#0 small negative") << "##.#0" << -0.174272 << "-.17";
    QTest::newRow("##.0 whole") << "##.0" << 25.0 << "25.0";
    QTest::newRow("##.0 wider than picture") << "##.0" << 3000.0 << "3000.0";
    QTest::newRow("##.0 zero") << "##.0" << 0.0 << ".0";
    QTest::newRow("#0.##0 whole") << "#0.##0" << 50.0 << "50.000";
    QTest::newRow("half of 1.005 away from zero") << "0.00" << 1.005 << "1.01";
    QTest::newRow("half of 2.675 away from zero") << "0.00" << 2.675 << "2.68";
    QTest::newRow("negative half away from zero") << "0.00" << -1.005 << "-1.01";
    QTest::newRow("just below half") << "0.00" << 1.00499 << "1.00";
    QTest::newRow("negative rounding to zero has no sign") << "0.00" << -0.001 << "0.00";
    QTest::newRow("negative zero has no sign") << "##.0" << -0.0 << ".0";
    QTest::newRow("tiny value") << "0.00" << 5e-324 << "0.00";
}

void TstPicture::formatsAsThePictureSays()
{
    QFETCH(QString, picture);
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(formatPicture(value, picture), text);
}

void TstPicture::extremeValuesDoNotBreakIt_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("start");   // the text begins with this
    QTest::addColumn<int>("length");
    QTest::newRow("NaN") << qQNaN() << "NaN" << 3;
    QTest::newRow("+inf") << qInf() << "Inf" << 3;
    QTest::newRow("-inf") << -qInf() << "-Inf" << 4;
    QTest::newRow("1e20") << 1e20 << "100000000000000000000.00" << 24;
    // 309 integer digits, whatever digits follow the 17 significant ones.
    QTest::newRow("max") << std::numeric_limits<double>::max() << "17976931348623157" << 309 + 3;
    QTest::newRow("-max") << -std::numeric_limits<double>::max() << "-17976931348623157" << 1 + 309 + 3;
}

void TstPicture::extremeValuesDoNotBreakIt()
{
    QFETCH(double, value);
    QFETCH(QString, start);
    QFETCH(int, length);
    const QString text = formatPicture(value, "#0.00");
    QVERIFY2(text.startsWith(start), qPrintable(text));
    QCOMPARE(text.size(), length);
}

QTEST_GUILESS_MAIN(TstPicture)
#include "tst_picture.moc"
