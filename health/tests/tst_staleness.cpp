// Stale values: "kv" is read by the update cycle, "model" is not.
#include "health/staleness.h"

#include <QSignalSpy>
#include <QtTest>

using namespace plv;

namespace {

QTime wallAt(qint64 ms) { return QTime(12, 0).addMSecs(int(ms)); }

// "event@ms" words: link lost auto manual cycle tick read:KEY fail:KEY.
void run(Staleness &s, const QString &script)
{
    for (const QString &word : script.split(u' ', Qt::SkipEmptyParts)) {
        const QString ev = word.section(u'@', 0, 0);
        const qint64 t = word.section(u'@', 1).toLongLong();
        const QString key = ev.section(u':', 1);
        if (ev == "link") s.setLinkUp(true, t);
        else if (ev == "lost") s.setLinkUp(false, t);
        else if (ev == "auto") s.setAutomatic(true, t);
        else if (ev == "manual") s.setAutomatic(false, t);
        else if (ev == "cycle") s.cycleCompleted(t);
        else if (ev == "tick") s.tick(t);
        else if (ev.startsWith("read:")) s.valueRead(key, t);
        else if (ev.startsWith("fail:")) s.valueFailed(key, t);
        else QFAIL(qPrintable("unknown event " + word));
    }
}

struct Fixture {
    Staleness s{wallAt};
    Fixture()
    {
        s.add("kv", Staleness::Refresh::Cycle);
        s.add("model", Staleness::Refresh::NotCycle);
    }
};

} // namespace

class TstStaleness : public QObject {
    Q_OBJECT
private slots:
    void staleFollowsEvents_data();
    void staleFollowsEvents();
    void cycleTimeIsMeasured_data();
    void cycleTimeIsMeasured();
    void signalsOnlyOnChange();
    void lastReadText();
};

void TstStaleness::staleFollowsEvents_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<bool>("kvStale");
    QTest::addColumn<bool>("modelStale");
    const QString autoRead = "link@0 auto@0 read:kv@100 read:model@100 ";

    QTest::newRow("nothing read yet is stale") << "link@0 auto@0" << true << true;
    QTest::newRow("a good reply clears") << autoRead << false << false;
    QTest::newRow("auto: fresh 1 ms short of two default cycles") << autoRead + "tick@2099" << false << false;
    QTest::newRow("auto: stale at two default cycles, not-cycle value stays fresh")
        << autoRead + "tick@2100" << true << false;
    QTest::newRow("auto: a read on time keeps it fresh") << autoRead + "read:kv@1100 tick@3099" << false << false;
    QTest::newRow("auto: a value the cycle does not read never ages") << autoRead + "tick@999999" << true << false;
    QTest::newRow("auto: measured 800 ms cycle, fresh at 1599 ms")
        << "link@0 auto@0 cycle@300 read:kv@500 cycle@1100 tick@2099" << false << true;
    QTest::newRow("auto: measured 800 ms cycle, stale at 1600 ms")
        << "link@0 auto@0 cycle@300 read:kv@500 cycle@1100 tick@2100" << true << true;
    QTest::newRow("auto: any input applies the time rule") << autoRead + "fail:model@2100" << true << false;
    QTest::newRow("auto: a failed query alone leaves both fresh")
        << autoRead + "fail:kv@1100 fail:model@1100" << false << false;
    QTest::newRow("auto: read again after going stale, stale again two cycles later")
        << autoRead + "tick@2100 read:kv@3000 tick@5000" << true << false;
    QTest::newRow("auto: entering automatic gives the cycle two cycles, fresh at 1999 ms")
        << "link@0 read:kv@0 auto@10000 tick@11999" << false << true;
    QTest::newRow("auto: entering automatic gives the cycle two cycles, stale at 2000 ms")
        << "link@0 read:kv@0 auto@10000 tick@12000" << true << true;
    QTest::newRow("auto: the link coming up gives the cycle two cycles")
        << "auto@0 read:kv@0 link@10000 tick@11999" << false << true;
    QTest::newRow("leaving automatic keeps a stale value stale") << autoRead + "tick@2100 manual@2200" << true << false;

    QTest::newRow("manual: time alone never ages a value") << "link@0 read:kv@0 read:model@0 tick@999999" << false << false;
    QTest::newRow("manual: its own failed query makes it stale")
        << "link@0 read:kv@0 read:model@0 fail:kv@500" << true << false;
    QTest::newRow("manual: a failed model number query makes it stale")
        << "link@0 read:kv@0 read:model@0 fail:model@500" << false << true;
    QTest::newRow("manual: the next good reply clears it")
        << "link@0 read:kv@0 fail:kv@500 read:kv@900" << false << true;

    QTest::newRow("losing the link makes every value stale") << autoRead + "lost@500" << true << true;
    QTest::newRow("the link coming back clears nothing") << autoRead + "lost@500 link@600" << true << true;
    QTest::newRow("after the link is back a read clears only that value")
        << autoRead + "lost@500 link@600 read:model@700" << true << false;
    QTest::newRow("without a link time does not matter") << "read:kv@0 tick@99999" << false << true;
}

void TstStaleness::staleFollowsEvents()
{
    QFETCH(QString, script);
    QFETCH(bool, kvStale);
    QFETCH(bool, modelStale);
    Fixture f;
    run(f.s, script);
    QCOMPARE(f.s.isStale("kv"), kvStale);
    QCOMPARE(f.s.isStale("model"), modelStale);
}

void TstStaleness::cycleTimeIsMeasured_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<qint64>("cycleMs");
    QTest::newRow("default until measured") << "link@0 auto@0" << qint64(1000);
    QTest::newRow("the first completion after entering automatic only starts the measure")
        << "link@0 auto@0 read:kv@100 cycle@300" << qint64(1000);
    QTest::newRow("span between completions with a good reply")
        << "link@0 auto@0 cycle@300 read:kv@500 cycle@1100" << qint64(800);
    QTest::newRow("a cycle without a good reply is not measured")
        << "link@0 auto@0 cycle@300 read:kv@500 cycle@1100 cycle@13100" << qint64(800);
    QTest::newRow("held to 500 ms at least") << "link@0 auto@0 cycle@300 read:kv@500 cycle@700" << qint64(500);
    QTest::newRow("held to 5 s at most") << "link@0 auto@0 cycle@300 read:kv@500 cycle@9300" << qint64(5000);
    QTest::newRow("re-entering automatic starts the measure again")
        << "link@0 auto@0 cycle@300 manual@400 read:kv@500 auto@600 cycle@700" << qint64(1000);
    QTest::newRow("a new link restores the default")
        << "link@0 auto@0 cycle@300 read:kv@500 cycle@1100 lost@1200 link@1300" << qint64(1000);
}

void TstStaleness::cycleTimeIsMeasured()
{
    QFETCH(QString, script);
    QFETCH(qint64, cycleMs);
    Fixture f;
    run(f.s, script);
    QCOMPARE(f.s.cycleMs(), cycleMs);
}

void TstStaleness::signalsOnlyOnChange()
{
    Fixture f;
    QSignalSpy spy(&f.s, &Staleness::staleChanged);
    run(f.s, "link@0 auto@0 read:kv@0 read:kv@500 tick@1000");
    QCOMPARE(spy.count(), 1);
    run(f.s, "lost@1100 lost@1200");   // "model" was never fresh
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.last(), QVariantList({QString("kv"), true}));
}

void TstStaleness::lastReadText()
{
    Fixture f;
    QCOMPARE(f.s.lastReadText("kv"), QString());
    run(f.s, "link@0 read:kv@5000 lost@9000");
    QCOMPARE(f.s.lastReadText("kv"), "last read 12:00:05");   // kept when it goes stale
}

QTEST_GUILESS_MAIN(TstStaleness)
#include "tst_staleness.moc"
