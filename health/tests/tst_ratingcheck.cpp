// The unit's kV from its model number, and the warning when the selection differs.
#include "health/ratingcheck.h"

#include <QSignalSpy>
#include <QtTest>

using namespace plv;

namespace {
const QList<int> PlvKVs = {70, 60, 50, 40, 30, 20};
const QList<int> PlrKVs = {140, 120, 100, 80, 60, 40};
} // namespace

class TstRatingCheck : public QObject {
    Q_OBJECT
private slots:
    void unitKvFromModel_data();
    void unitKvFromModel();
    void texts_data();
    void texts();
    void pickingTheMatchingRatingClearsTheWarning();
};

void TstRatingCheck::unitKvFromModel_data()
{
    QTest::addColumn<QString>("letters");
    QTest::addColumn<QString>("model");
    QTest::addColumn<int>("kV");   // 0: not known
    QTest::newRow("letters and a table kV before the dash") << "PLV" << "PLV70-X0600" << 70;
    QTest::newRow("no dash: the whole text is the field") << "PLV" << "PLV20" << 20;
    QTest::newRow("three-digit kV") << "PLR" << "PLR140-X1200" << 140;
    QTest::newRow("kV not in the table") << "PLV" << "PLV80-X0600" << 0;
    QTest::newRow("the other build's letters") << "PLV" << "PLR60-X0600" << 0;
    QTest::newRow("lower-case letters") << "PLV" << "plv70-X0600" << 0;
    QTest::newRow("leading zero") << "PLV" << "PLV070-X0600" << 0;
    QTest::newRow("sign") << "PLV" << "PLV+70-X0600" << 0;
    QTest::newRow("blank before the kV") << "PLV" << "PLV 70-X0600" << 0;
    QTest::newRow("letter after the kV") << "PLV" << "PLV70X-0600" << 0;
    QTest::newRow("letters only") << "PLV" << "PLV-70" << 0;
    QTest::newRow("cut to five characters") << "PLR" << "PLR14-X1200" << 0;
    QTest::newRow("too many digits") << "PLV" << "PLV4294967366" << 0;
    QTest::newRow("failed query") << "PLV" << "Unknown" << 0;
    QTest::newRow("empty") << "PLV" << "" << 0;
}

void TstRatingCheck::unitKvFromModel()
{
    QFETCH(QString, letters);
    QFETCH(QString, model);
    QFETCH(int, kV);
    const auto got = RatingCheck::unitKvFromModel(model, letters, letters == "PLV" ? PlvKVs : PlrKVs);
    QCOMPARE(got.value_or(0), kV);
}

void TstRatingCheck::texts_data()
{
    QTest::addColumn<int>("selectedKV");
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<QString>("warning");
    QTest::newRow("mismatch warns with both numbers") << 20 << "PLV70-X0600" << "Unit 70 kV"
                                                      << "Selected rating 20 kV does not match the unit (70 kV)";
    QTest::newRow("match is silent") << 70 << "PLV70-X0600" << "Unit 70 kV" << "";
    QTest::newRow("unknown unit never warns") << 20 << "PLV80-X0600" << "Unit rating not known" << "";
    QTest::newRow("nothing read yet never warns") << 20 << "Rev. ??" << "Unit rating not known" << "";
}

void TstRatingCheck::texts()
{
    QFETCH(int, selectedKV);
    QFETCH(QString, model);
    QFETCH(QString, unit);
    QFETCH(QString, warning);
    RatingCheck r("PLV", PlvKVs);
    r.select(selectedKV, 600);
    r.setModelNumber(model);
    QCOMPARE(r.ratingText(), QString("Rating %1 kV / 600 W").arg(selectedKV));
    QCOMPARE(r.unitText(), unit);
    QCOMPARE(r.warningText(), warning);
}

void TstRatingCheck::pickingTheMatchingRatingClearsTheWarning()
{
    RatingCheck r("PLV", PlvKVs);
    QSignalSpy spy(&r, &RatingCheck::warningChanged);
    r.setModelNumber("PLV70-X0600");
    r.select(20, 1200);
    r.select(30, 300);
    r.select(70, 300);
    QCOMPARE(spy.count(), 3);
    QCOMPARE(spy.at(1).at(0).toString(), "Selected rating 30 kV does not match the unit (70 kV)");
    QCOMPARE(r.warningText(), QString());
    r.select(20, 600);
    r.setModelNumber("");   // a new link: the unit is not known until read again
    QCOMPARE(r.warningText(), QString());
}

QTEST_GUILESS_MAIN(TstRatingCheck)
#include "tst_ratingcheck.moc"
