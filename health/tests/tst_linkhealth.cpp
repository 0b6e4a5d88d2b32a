// Link state and label text, driven by scripts of timed events.
#include "health/linkhealth.h"

#include <QSignalSpy>
#include <QtTest>

using namespace plv;

namespace {

const QString Where = QStringLiteral("10.0.0.5:4001");

QTime wallAt(qint64 ms) { return QTime(12, 0).addMSecs(int(ms)); }

// "event@ms" words: eth usb refused failed closed disconnected auto manual good miss tick.
void run(LinkHealth &h, const QString &script)
{
    for (const QString &word : script.split(u' ', Qt::SkipEmptyParts)) {
        const QString ev = word.section(u'@', 0, 0);
        const qint64 t = word.section(u'@', 1).toLongLong();
        if (ev == "eth") h.linkUp(LinkKind::Ethernet, Where, t);
        else if (ev == "usb") h.linkUp(LinkKind::Usb, QString(), t);
        else if (ev == "refused") h.linkDown(LinkDown::Refused, Where, t);
        else if (ev == "failed") h.linkDown(LinkDown::FailedToOpen, QStringLiteral("/dev/ttyS0"), t);
        else if (ev == "closed") h.linkDown(LinkDown::ClosedByUnit, Where, t);
        else if (ev == "disconnected") h.linkDown(LinkDown::Disconnected, Where, t);
        else if (ev == "auto") h.setAutomatic(true, t);
        else if (ev == "manual") h.setAutomatic(false, t);
        else if (ev == "good") h.goodReply(t);
        else if (ev == "miss") h.missedReply(t);
        else if (ev == "tick") h.tick(t);
        else QFAIL(qPrintable("unknown event " + word));
    }
}

} // namespace

class TstLinkHealth : public QObject {
    Q_OBJECT
private slots:
    void labelFollowsEvents_data();
    void labelFollowsEvents();
    void lastReplyTextChangesOnlyWithTheShownSecond();
    void modeText();
};

void TstLinkHealth::labelFollowsEvents_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("text");
    const QString ok = "CONNECTED \u2014 Ethernet 10.0.0.5:4001";
    const QString autoUp = "eth@0 auto@0 good@5000 ";

    QTest::newRow("before any link the label is empty") << "" << "";
    QTest::newRow("link up shows the link") << "eth@0" << ok;
    QTest::newRow("USB without a device name") << "usb@0" << "CONNECTED \u2014 USB";
    QTest::newRow("refused") << "refused@0" << "NOT CONNECTED \u2014 refused (10.0.0.5:4001)";
    QTest::newRow("failed to open") << "failed@0" << "NOT CONNECTED \u2014 failed to open (/dev/ttyS0)";
    QTest::newRow("closed by the unit") << "eth@0 closed@9" << "NOT CONNECTED \u2014 closed by the unit (10.0.0.5:4001)";
    QTest::newRow("disconnected by the operator") << "eth@0 disconnected@9" << "NOT CONNECTED \u2014 disconnected (10.0.0.5:4001)";
    QTest::newRow("replies and misses without a link change nothing")
        << "refused@0 miss@1000 miss@2000 good@3000" << "NOT CONNECTED \u2014 refused (10.0.0.5:4001)";

    QTest::newRow("auto: one miss is not yet NO REPLY") << autoUp + "miss@6066" << ok;
    QTest::newRow("auto: the second miss is NO REPLY, since the last good reply")
        << autoUp + "miss@6066 miss@7132" << "NO REPLY since 12:00:05 (2 missed)";
    QTest::newRow("auto: a good reply between misses restarts the count")
        << autoUp + "miss@6066 good@6200 miss@7266" << ok;
    QTest::newRow("auto: one miss and 2499 ms silent is not NO REPLY") << autoUp + "miss@6066 tick@7499" << ok;
    QTest::newRow("auto: one miss and 2500 ms silent is NO REPLY")
        << autoUp + "miss@6066 tick@7500" << "NO REPLY since 12:00:05 (1 missed)";
    QTest::newRow("auto: silence without a miss is not NO REPLY") << autoUp + "tick@60000" << ok;
    QTest::newRow("auto: entering automatic restarts the silence clock")
        << "eth@0 good@0 auto@10000 miss@11066 tick@12499" << ok;
    QTest::newRow("auto: no reply yet on this link counts from its opening")
        << "eth@3000 auto@3000 miss@4066 miss@5132" << "NO REPLY since 12:00:03 (2 missed)";
    QTest::newRow("NO REPLY counts every further miss")
        << autoUp + "miss@6066 miss@7132 miss@8198" << "NO REPLY since 12:00:05 (3 missed)";
    QTest::newRow("the first good reply clears NO REPLY") << autoUp + "miss@6066 miss@7132 good@7300" << ok;
    QTest::newRow("leaving automatic does not clear NO REPLY")
        << autoUp + "miss@6066 miss@7132 manual@7200" << "NO REPLY since 12:00:05 (2 missed)";
    QTest::newRow("losing the link ends NO REPLY")
        << autoUp + "miss@6066 miss@7132 closed@7200" << "NOT CONNECTED \u2014 closed by the unit (10.0.0.5:4001)";
    QTest::newRow("a new link ends NO REPLY") << autoUp + "miss@6066 miss@7132 eth@8000" << ok;

    QTest::newRow("manual: the first miss is NO REPLY")
        << "eth@0 good@5000 miss@7000" << "NO REPLY since 12:00:05 (1 missed)";
    QTest::newRow("manual: silence alone is not NO REPLY") << "eth@0 good@5000 tick@90000" << ok;
}

void TstLinkHealth::labelFollowsEvents()
{
    QFETCH(QString, script);
    QFETCH(QString, text);
    LinkHealth h(wallAt);
    QSignalSpy spy(&h, &LinkHealth::textChanged);
    run(h, script);
    QCOMPARE(h.text(), text);
    if (!text.isEmpty())
        QCOMPARE(spy.last().at(0).toString(), text);
    QCOMPARE(h.isUp(), text.startsWith("CONNECTED") || text.startsWith("NO REPLY"));
}

void TstLinkHealth::lastReplyTextChangesOnlyWithTheShownSecond()
{
    LinkHealth h(wallAt);
    QSignalSpy spy(&h, &LinkHealth::lastGoodReplyTextChanged);
    run(h, "eth@0 auto@0 miss@1066");
    QCOMPARE(h.lastGoodReplyText(), QString());
    run(h, "good@5000 good@5400 good@5999 good@6000 miss@7066 miss@8132");
    QCOMPARE(h.lastGoodReplyText(), "Last reply 12:00:06");
    QCOMPARE(spy.count(), 2);
}

void TstLinkHealth::modeText()
{
    LinkHealth h(wallAt);
    QCOMPARE(h.modeText(), "MANUAL");
    QSignalSpy spy(&h, &LinkHealth::modeChanged);
    run(h, "auto@0 auto@100");
    QCOMPARE(h.modeText(), "AUTO");
    run(h, "manual@200");
    QCOMPARE(h.modeText(), "MANUAL");
    QCOMPARE(spy.count(), 2);
}

QTEST_GUILESS_MAIN(TstLinkHealth)
#include "tst_linkhealth.moc"
