// The retry rule shared by the console's TCP reconnect, plvctl watch and the broker bridge.
#include "link/backoff.h"

#include <QTest>

using plv::Backoff;

class TestBackoff : public QObject {
    Q_OBJECT
private slots:
    void delays_data();
    void delays();
    void neverFurtherApartThanTheCapPlusJitter();
    void aResetStartsAgainAtTheFirstDelay();
};

void TestBackoff::delays_data()
{
    QTest::addColumn<double>("u");              // the random draw, [0, 1)
    QTest::addColumn<QList<int>>("expected");
    QTest::newRow("no spread doubles from 1 s to the 30 s cap")
        << 0.5 << QList<int>{1000, 2000, 4000, 8000, 16000, 30000, 30000};
    QTest::newRow("lowest draw is 25 % early")
        << 0.0 << QList<int>{750, 1500, 3000, 6000, 12000, 22500, 22500};
    QTest::newRow("highest draw is 25 % late")
        << 0.999999 << QList<int>{1250, 2500, 5000, 10000, 20000, 37500, 37500};
}

void TestBackoff::delays()
{
    QFETCH(double, u);
    QFETCH(QList<int>, expected);
    Backoff b({}, [u] { return u; });
    QList<int> got;
    for (qsizetype i = 0; i < expected.size(); ++i)
        got << b.next();
    QCOMPARE(got, expected);
    QCOMPARE(b.attempts(), int(expected.size()));
}

void TestBackoff::neverFurtherApartThanTheCapPlusJitter()
{
    Backoff b;   // the real random source
    int lowest = INT_MAX, highest = 0;
    for (int i = 0; i < 2000; ++i) {
        const int d = b.next();
        if (i >= 5) {   // at the cap from the sixth attempt on
            lowest = std::min(lowest, d);
            highest = std::max(highest, d);
        }
    }
    QVERIFY2(highest <= 37500, qPrintable(QString::number(highest)));
    QVERIFY2(lowest >= 22500, qPrintable(QString::number(lowest)));
    QVERIFY(highest > lowest);   // it is spread, not one fixed delay
}

void TestBackoff::aResetStartsAgainAtTheFirstDelay()
{
    Backoff b({}, [] { return 0.5; });
    for (int i = 0; i < 8; ++i)
        b.next();
    b.reset();
    QCOMPARE(b.next(), 1000);
    QCOMPARE(b.next(), 2000);
}

QTEST_GUILESS_MAIN(TestBackoff)
#include "tst_backoff.moc"
