// Link label, stale values, HV banner and rating check, each driven by a script of
// events; "event@ms" carries the monotonic time, so nothing here waits.
#include "health/alarms.h"
#include "health/hvconfirm.h"
#include "health/linkhealth.h"
#include "health/ratingcheck.h"
#include "health/staleness.h"

#include <QSignalSpy>
#include <QtTest>

using namespace plv;

namespace {

const QString Where = QStringLiteral("10.0.0.5:4001");
const QList<int> PlvKVs = {70, 60, 50, 40, 30, 20};
const QList<int> PlrKVs = {140, 120, 100, 80, 60, 40};

QTime wallAt(qint64 ms) { return QTime(12, 0).addMSecs(int(ms)); }

struct Event {
    QString name, key;   // key: what follows ':' in the name
    qint64 ms;
};

QList<Event> events(const QString &script)
{
    QList<Event> out;
    for (const QString &w : script.split(u' ', Qt::SkipEmptyParts)) {
        const QString name = w.section(u'@', 0, 0);
        out.append({name.section(u':', 0, 0), name.section(u':', 1), w.section(u'@', 1).toLongLong()});
    }
    return out;
}

void run(LinkHealth &h, const QString &script)
{
    for (const auto &[ev, key, t] : events(script)) {
        if (ev == "eth") h.linkUp(LinkKind::Ethernet, Where, t);
        else if (ev == "usb") h.linkUp(LinkKind::Usb, QString(), t);
        else if (ev == "refused") h.linkDown(LinkDown::Refused, Where, t);
        else if (ev == "failed") h.linkDown(LinkDown::FailedToOpen, QStringLiteral("/dev/ttyS0"), t);
        else if (ev == "closed") h.linkDown(LinkDown::ClosedByUnit, Where, t);
        else if (ev == "disconnected") h.linkDown(LinkDown::Disconnected, Where, t);
        else if (ev == "auto" || ev == "manual") h.setAutomatic(ev == "auto", t);
        else if (ev == "good") h.goodReply(t);
        else if (ev == "miss") h.missedReply(t);
        else if (ev == "tick") h.tick(t);
        else QFAIL(qPrintable("unknown event " + ev));
    }
}

// "kv" is read by the update cycle, "model" is not.
struct Values {
    Staleness s{wallAt};
    Values() { s.add("kv", Staleness::Refresh::Cycle), s.add("model", Staleness::Refresh::NotCycle); }
    void run(const QString &script)
    {
        for (const auto &[ev, key, t] : events(script)) {
            if (ev == "link" || ev == "lost") s.setLinkUp(ev == "link", t);
            else if (ev == "auto" || ev == "manual") s.setAutomatic(ev == "auto", t);
            else if (ev == "cycle") s.cycleCompleted(t);
            else if (ev == "tick") s.tick(t);
            else if (ev == "read") s.valueRead(key, t);
            else if (ev == "fail") s.valueFailed(key, t);
            else QFAIL(qPrintable("unknown event " + ev));
        }
    }
};

// Words: on off timeout s0 s1 s? (status: HV off, on, unreadable), or r<data>: a whole
// reply whose position 5 is <data>'s first character.
void run(HvConfirmation &h, const QString &script)
{
    for (const QString &w : script.split(u' ', Qt::SkipEmptyParts)) {
        if (w == "on" || w == "off") h.requested(w == "on");
        else if (w == "resent") h.resent();
        else if (w == "timeout") h.replied('\0');
        else if (w == "s0" || w == "s1") h.statusReply(w == "s1");
        else if (w == "s?") h.statusReply(std::nullopt);
        else if (w.startsWith(u'r')) h.replied(w.size() > 1 ? char(w.at(1).toLatin1()) : '\0');
        else QFAIL(qPrintable("unknown event " + w));
    }
}

// One word per reply or operator act: "+temp,+ps" rises both in one reply, "-temp" clears,
// "ack:temp" and "ackall" acknowledge. The list reads back as "temp=AU* ps=CU": active or
// cleared, unacknowledged or acknowledged, '*' for first out.
const QList<std::pair<QString, AlarmCondition>> AlarmKeys = {
    {"arc", AlarmCondition::Arc}, {"temp", AlarmCondition::Temp}, {"ps", AlarmCondition::SupplyFault},
    {"ilk", AlarmCondition::InterlockOpen}, {"link", AlarmCondition::LinkLost}};

AlarmCondition alarmKey(const QString &k)
{
    for (const auto &[name, c] : AlarmKeys)
        if (name == k)
            return c;
    return AlarmCondition::HvOffNotConfirmed;
}

QString alarmRows(const AlarmList &l)
{
    QStringList rows;
    for (const AlarmList::Alarm &a : l.alarms()) {
        QString key;
        for (const auto &[name, c] : AlarmKeys)
            if (c == a.condition)
                key = name;
        rows << key + '=' + (a.active ? 'A' : 'C') + (a.acknowledged ? 'A' : 'U') + (a.firstOut ? "*" : "");
    }
    return rows.join(' ');
}

} // namespace

class TstHealth : public QObject {
    Q_OBJECT
private slots:
    void linkLabel_data();
    void linkLabel();
    void lastReplyAndModeTexts();
    void staleValues_data();
    void staleValues();
    void cycleTime_data();
    void cycleTime();
    void staleSignalOnlyOnChangeAndLastReadKept();
    void hvBanner_data();
    void hvBanner();
    void hvOffSeenThrough_data();
    void hvOffSeenThrough();
    void alarms_data();
    void alarms();
    void unitKvFromModel_data();
    void unitKvFromModel();
    void ratingTexts_data();
    void ratingTexts();
    void pickingTheMatchingRatingClearsTheWarning();
};

void TstHealth::linkLabel_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("text");
    const QString ok = "CONNECTED \u2014 Ethernet 10.0.0.5:4001";
    const QString down = "NOT CONNECTED \u2014 ";
    const QString autoUp = "eth@0 auto@0 good@5000 ";

    QTest::newRow("before any link the label is empty") << "" << "";
    QTest::newRow("link up shows the link") << "eth@0" << ok;
    QTest::newRow("USB without a device name") << "usb@0" << "CONNECTED \u2014 USB";
    QTest::newRow("refused") << "refused@0" << down + "refused (10.0.0.5:4001)";
    QTest::newRow("failed to open") << "failed@0" << down + "failed to open (/dev/ttyS0)";
    QTest::newRow("closed by the unit") << "eth@0 closed@9" << down + "closed by the unit (10.0.0.5:4001)";
    QTest::newRow("disconnected by the operator") << "eth@0 disconnected@9" << down + "disconnected (10.0.0.5:4001)";
    QTest::newRow("replies and misses without a link change nothing")
        << "refused@0 miss@1000 miss@2000 good@3000" << down + "refused (10.0.0.5:4001)";

    QTest::newRow("auto: one miss is not yet NO REPLY") << autoUp + "miss@6066" << ok;
    QTest::newRow("auto: the second miss is NO REPLY, since the last good reply")
        << autoUp + "miss@6066 miss@7132" << "NO REPLY since 12:00:05 (2 missed)";
    QTest::newRow("auto: a good reply between misses restarts the count") << autoUp + "miss@6066 good@6200 miss@7266" << ok;
    QTest::newRow("auto: one miss and 2499 ms silent is not NO REPLY") << autoUp + "miss@6066 tick@7499" << ok;
    QTest::newRow("auto: one miss and 2500 ms silent is NO REPLY")
        << autoUp + "miss@6066 tick@7500" << "NO REPLY since 12:00:05 (1 missed)";
    QTest::newRow("auto: silence without a miss is not NO REPLY") << autoUp + "tick@60000" << ok;
    QTest::newRow("auto: choosing automatic again does not restart the silence clock")
        << "eth@0 auto@0 good@0 auto@2000 miss@2100 tick@2500" << "NO REPLY since 12:00:00 (1 missed)";
    QTest::newRow("auto: entering automatic restarts the silence clock") << "eth@0 good@0 auto@10000 miss@11066 tick@12499" << ok;
    QTest::newRow("auto: no reply yet on this link counts from its opening")
        << "eth@3000 auto@3000 miss@4066 miss@5132" << "NO REPLY since 12:00:03 (2 missed)";
    QTest::newRow("NO REPLY counts every further miss")
        << autoUp + "miss@6066 miss@7132 miss@8198" << "NO REPLY since 12:00:05 (3 missed)";
    QTest::newRow("the first good reply clears NO REPLY") << autoUp + "miss@6066 miss@7132 good@7300" << ok;
    QTest::newRow("leaving automatic does not clear NO REPLY")
        << autoUp + "miss@6066 miss@7132 manual@7200" << "NO REPLY since 12:00:05 (2 missed)";
    QTest::newRow("losing the link ends NO REPLY")
        << autoUp + "miss@6066 miss@7132 closed@7200" << down + "closed by the unit (10.0.0.5:4001)";
    QTest::newRow("a new link ends NO REPLY") << autoUp + "miss@6066 miss@7132 eth@8000" << ok;
    QTest::newRow("manual: the first miss is NO REPLY") << "eth@0 good@5000 miss@7000" << "NO REPLY since 12:00:05 (1 missed)";
}

void TstHealth::linkLabel()
{
    QFETCH(QString, script);
    QFETCH(QString, text);
    LinkHealth h(wallAt);
    QSignalSpy spy(&h, &LinkHealth::textChanged);
    run(h, script);
    QCOMPARE(h.text(), text);
    QCOMPARE(spy.isEmpty() ? QString() : spy.last().at(0).toString(), text);
    QCOMPARE(h.isUp(), text.startsWith("CONNECTED") || text.startsWith("NO REPLY"));
}

// The freshness label repaints once per shown second, not on every reply.
void TstHealth::lastReplyAndModeTexts()
{
    LinkHealth h(wallAt);
    QSignalSpy spy(&h, &LinkHealth::lastGoodReplyTextChanged);
    QCOMPARE(h.modeText(), "MANUAL");
    run(h, "eth@0 auto@0 miss@1066");
    QCOMPARE(h.modeText(), "AUTO");
    QCOMPARE(h.lastGoodReplyText(), QString());
    run(h, "good@5000 good@5400 good@5999 good@6000 miss@7066 miss@8132");
    QCOMPARE(h.lastGoodReplyText(), "Last reply 12:00:06");
    QCOMPARE(spy.count(), 2);
}

void TstHealth::staleValues_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<bool>("kvStale");
    QTest::addColumn<bool>("modelStale");
    const QString autoRead = "link@0 auto@0 read:kv@100 read:model@100 ";

    QTest::newRow("nothing read yet is stale") << "link@0 auto@0" << true << true;
    QTest::newRow("a good reply clears") << autoRead << false << false;
    QTest::newRow("auto: fresh 1 ms short of two default cycles") << autoRead + "tick@2099" << false << false;
    QTest::newRow("auto: stale at two default cycles, not-cycle value stays fresh") << autoRead + "tick@2100" << true << false;
    QTest::newRow("auto: a value the cycle does not read never ages") << autoRead + "tick@999999" << true << false;
    QTest::newRow("auto: measured 800 ms cycle, fresh at 1599 ms")
        << "link@0 auto@0 cycle@300 read:kv@500 cycle@1100 tick@2099" << false << true;
    QTest::newRow("auto: measured 800 ms cycle, stale at 1600 ms")
        << "link@0 auto@0 cycle@300 read:kv@500 cycle@1100 tick@2100" << true << true;
    QTest::newRow("auto: a failed query alone leaves both fresh") << autoRead + "fail:kv@1100 fail:model@1100" << false << false;
    QTest::newRow("auto: read again after going stale, stale again two cycles later")
        << autoRead + "tick@2100 read:kv@3000 tick@5000" << true << false;
    QTest::newRow("auto: entering automatic gives the cycle two cycles, fresh at 1999 ms")
        << "link@0 read:kv@0 auto@10000 tick@11999" << false << true;
    QTest::newRow("auto: entering automatic gives the cycle two cycles, stale at 2000 ms")
        << "link@0 read:kv@0 auto@10000 tick@12000" << true << true;
    QTest::newRow("auto: the link coming up gives the cycle two cycles") << "auto@0 read:kv@0 link@10000 tick@11999" << false << true;
    QTest::newRow("leaving automatic keeps a stale value stale") << autoRead + "tick@2100 manual@2200" << true << false;

    QTest::newRow("manual: time alone never ages a value") << "link@0 read:kv@0 read:model@0 tick@999999" << false << false;
    QTest::newRow("manual: its own failed query makes it stale") << "link@0 read:kv@0 read:model@0 fail:kv@500" << true << false;
    QTest::newRow("manual: a failed model number query makes it stale")
        << "link@0 read:kv@0 read:model@0 fail:model@500" << false << true;

    QTest::newRow("losing the link makes every value stale") << autoRead + "lost@500" << true << true;
    QTest::newRow("the link coming back clears nothing, a read clears its value")
        << autoRead + "lost@500 link@600 read:model@700" << true << false;
}

void TstHealth::staleValues()
{
    QFETCH(QString, script);
    QFETCH(bool, kvStale);
    QFETCH(bool, modelStale);
    Values v;
    v.run(script);
    QCOMPARE(v.s.isStale("kv"), kvStale);
    QCOMPARE(v.s.isStale("model"), modelStale);
}

void TstHealth::cycleTime_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<qint64>("cycleMs");
    const QString measuring = "link@0 auto@0 cycle@300 read:kv@500 ";
    QTest::newRow("the first completion after entering automatic only starts the measure")
        << "link@0 auto@0 read:kv@100 cycle@300" << qint64(1000);
    QTest::newRow("span between completions with a good reply") << measuring + "cycle@1100" << qint64(800);
    QTest::newRow("a cycle without a good reply is not measured") << measuring + "cycle@1100 cycle@13100" << qint64(800);
    QTest::newRow("held to 500 ms at least") << measuring + "cycle@700" << qint64(500);
    QTest::newRow("held to 5 s at most") << measuring + "cycle@9300" << qint64(5000);
    QTest::newRow("re-entering automatic starts the measure again")
        << "link@0 auto@0 cycle@300 manual@400 read:kv@500 auto@600 cycle@700" << qint64(1000);
    QTest::newRow("a new link restores the default") << measuring + "cycle@1100 lost@1200 link@1300" << qint64(1000);
}

void TstHealth::cycleTime()
{
    QFETCH(QString, script);
    QFETCH(qint64, cycleMs);
    Values v;
    v.run(script);
    QCOMPARE(v.s.cycleMs(), cycleMs);
}

void TstHealth::staleSignalOnlyOnChangeAndLastReadKept()
{
    Values v;
    QSignalSpy spy(&v.s, &Staleness::staleChanged);
    QCOMPARE(v.s.lastReadText("kv"), QString());
    v.run("link@0 auto@0 read:kv@0 read:kv@5000 tick@6000");
    QCOMPARE(spy.count(), 1);
    v.run("lost@6100 lost@6200");   // "model" was never fresh
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.last(), QVariantList({QString("kv"), true}));
    QCOMPARE(v.s.lastReadText("kv"), "last read 12:00:05");
}

void TstHealth::hvBanner_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("banner");
    QTest::newRow("nothing requested, nothing shown") << "" << "";
    QTest::newRow("accepted") << "on r$," << "";
    QTest::newRow("no banner while the reply is awaited") << "off" << "";
    QTest::newRow("OFF without a reply") << "off timeout" << "HV OFF NOT CONFIRMED";
    QTest::newRow("ON without a reply") << "on timeout" << "HV ON NOT CONFIRMED";
    QTest::newRow("reply too short to reach position 5") << "off r" << "HV OFF NOT CONFIRMED";
    QTest::newRow("\"$\" at position 6 does not accept") << "off r,$" << "HV OFF NOT CONFIRMED";
    QTest::newRow("any other character at position 5 does not accept") << "off r0," << "HV OFF NOT CONFIRMED";
    QTest::newRow("ON refused with 1") << "on r1," << "HV ON REFUSED";
    QTest::newRow("OFF refused with 2") << "off r2," << "HV OFF REFUSED";

    QTest::newRow("status showing the requested state confirms") << "off timeout s0" << "";
    QTest::newRow("status still showing the other state keeps it") << "off timeout s1" << "HV OFF NOT CONFIRMED";
    QTest::newRow("unreadable status keeps it") << "on timeout s?" << "HV ON NOT CONFIRMED";
    QTest::newRow("a status before the reply does not confirm in advance") << "off s0 timeout" << "HV OFF NOT CONFIRMED";
    QTest::newRow("a status while a repeat awaits its reply confirms") << "off timeout off s0" << "";
    QTest::newRow("the opposite request clears it") << "off timeout on" << "";
    QTest::newRow("the same request again keeps it until its reply") << "off timeout off" << "HV OFF NOT CONFIRMED";
    QTest::newRow("the same request again, accepted, clears it") << "off timeout off r$," << "";
    QTest::newRow("the opposite request unanswered shows its own") << "off timeout on timeout" << "HV ON NOT CONFIRMED";

    QTest::newRow("the next status clears a refusal, whatever it shows") << "on r1, s0" << "";
    QTest::newRow("the opposite request clears a refusal") << "on r1, off" << "";
    QTest::newRow("a reply with nothing requested is ignored") << "on r$, r1," << "";
}

void TstHealth::hvBanner()
{
    QFETCH(QString, script);
    QFETCH(QString, banner);
    HvConfirmation h;
    QSignalSpy spy(&h, &HvConfirmation::bannerChanged);
    run(h, script);
    QCOMPARE(h.bannerText(), banner);
    QCOMPARE(spy.isEmpty() ? QString() : spy.last().at(0).toString(), banner);
}

// "resent" is the console's own second HV OFF going out, as the window does on resendOff().
void TstHealth::hvOffSeenThrough_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("resends");
    QTest::addColumn<QString>("banner");
    QTest::newRow("status still on: one resend, banner kept") << "off timeout s1" << 1 << "HV OFF NOT CONFIRMED";
    QTest::newRow("status off first: nothing resent") << "off timeout s0 s1" << 0 << "";
    QTest::newRow("unreadable status: nothing resent") << "off timeout s?" << 0 << "HV OFF NOT CONFIRMED";
    QTest::newRow("accepted OFF: nothing resent") << "off r$, s1" << 0 << "";
    QTest::newRow("refused OFF: nothing resent") << "off r2, s1" << 0 << "";
    QTest::newRow("a status before the reply: nothing resent") << "off s1 timeout" << 0 << "HV OFF NOT CONFIRMED";
    QTest::newRow("an unconfirmed ON is never resent") << "on timeout s0 s0" << 0 << "HV ON NOT CONFIRMED";
    QTest::newRow("still on after the resend") << "off timeout s1 resent r$, s1" << 1 << "HV STILL ON";
    QTest::newRow("resend unanswered, still on") << "off timeout s1 resent timeout s1" << 1 << "HV STILL ON";
    QTest::newRow("only once: still on stays") << "off timeout s1 resent timeout s1 s1 s1" << 1 << "HV STILL ON";
    QTest::newRow("a status awaiting the resend's reply decides nothing")
        << "off timeout s1 resent s1" << 1 << "HV OFF NOT CONFIRMED";
    QTest::newRow("off at last clears it") << "off timeout s1 resent timeout s1 s0" << 1 << "";
    QTest::newRow("the operator's HV ON clears it") << "off timeout s1 resent timeout s1 on" << 1 << "";
    QTest::newRow("a new HV OFF unconfirmed is resent once more")
        << "off timeout s1 resent timeout s1 off timeout s1" << 2 << "HV OFF NOT CONFIRMED";
}

void TstHealth::hvOffSeenThrough()
{
    QFETCH(QString, script);
    QFETCH(int, resends);
    QFETCH(QString, banner);
    HvConfirmation h;
    QSignalSpy resend(&h, &HvConfirmation::resendOff);
    run(h, script);
    QCOMPARE(resend.count(), resends);
    QCOMPARE(h.bannerText(), banner);
}

void TstHealth::alarms_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("rows");
    QTest::addColumn<QString>("header");
    QTest::newRow("nothing: no header") << "" << "" << "";
    QTest::newRow("a rise is first out") << "+temp" << "temp=AU*" << "ALARMS 1 (1 unacknowledged)";
    QTest::newRow("seen in one reply only: latched") << "+temp -temp" << "temp=CU*" << "ALARMS 1 (1 unacknowledged)";
    QTest::newRow("acknowledging a cleared one removes it") << "+temp -temp ack:temp" << "" << "";
    QTest::newRow("acknowledging never clears an active one") << "+temp ack:temp" << "temp=AA*" << "ALARMS 1 (0 unacknowledged)";
    QTest::newRow("acknowledged, then cleared: gone") << "+temp ack:temp -temp" << "" << "";
    QTest::newRow("all rising in the first reply are first out")
        << "+temp,+ps +ilk" << "temp=AU* ps=AU* ilk=AU" << "ALARMS 3 (3 unacknowledged)";
    QTest::newRow("a cleared, unacknowledged one keeps the burst going")
        << "+temp -temp +arc" << "temp=CU* arc=AU" << "ALARMS 2 (2 unacknowledged)";
    QTest::newRow("a new burst once the list is empty") << "+temp -temp ackall +arc" << "arc=AU*" << "ALARMS 1 (1 unacknowledged)";
    QTest::newRow("rising again keeps its row, unacknowledged") << "+temp -temp +temp" << "temp=AU*" << "ALARMS 1 (1 unacknowledged)";
    QTest::newRow("acknowledge all: active stay, cleared go")
        << "+temp,+link -temp ackall" << "link=AA*" << "ALARMS 1 (0 unacknowledged)";
    QTest::newRow("acknowledged and active, rising again: unchanged") << "+ps ack:ps +ps" << "ps=AA*" << "ALARMS 1 (0 unacknowledged)";
    QTest::newRow("a clear with nothing listed is nothing") << "-temp" << "" << "";
}

void TstHealth::alarms()
{
    QFETCH(QString, script);
    QFETCH(QString, rows);
    QFETCH(QString, header);
    AlarmList l;
    QSignalSpy transitions(&l, &AlarmList::transition);
    QSignalSpy changed(&l, &AlarmList::changed);
    int steps = 0;
    for (const QString &w : script.split(u' ', Qt::SkipEmptyParts)) {
        const int before = transitions.count();
        if (w == "ackall") {
            l.acknowledgeAll();
        } else if (w.startsWith("ack:")) {
            l.acknowledge(alarmKey(w.mid(4)));
        } else {
            QList<std::pair<AlarmCondition, bool>> seen;
            for (const QString &c : w.split(u','))
                seen.append({alarmKey(c.mid(1)), c.startsWith(u'+')});
            l.observe(seen, QDateTime(QDate(2026, 1, 1), QTime(12, 0)));
        }
        steps += transitions.count() > before;
    }
    QCOMPARE(alarmRows(l), rows);
    QCOMPARE(l.headerText(), header);
    QCOMPARE(changed.count(), steps);   // one notice per reply or act that changed anything
}

void TstHealth::unitKvFromModel_data()
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
    QTest::newRow("letter after the kV") << "PLV" << "PLV70X-0600" << 0;
    QTest::newRow("cut to five characters") << "PLR" << "PLR14-X1200" << 0;
    QTest::newRow("too many digits") << "PLV" << "PLV4294967366" << 0;
    QTest::newRow("failed query") << "PLV" << "Unknown" << 0;
}

void TstHealth::unitKvFromModel()
{
    QFETCH(QString, letters);
    QFETCH(QString, model);
    QFETCH(int, kV);
    QCOMPARE(RatingCheck::unitKvFromModel(model, letters, letters == "PLV" ? PlvKVs : PlrKVs).value_or(0), kV);
}

void TstHealth::ratingTexts_data()
{
    QTest::addColumn<int>("selectedKV");
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<QString>("warning");
    QTest::newRow("mismatch warns with both numbers")
        << 20 << "PLV70-X0600" << "Unit 70 kV" << "Selected rating 20 kV does not match the unit (70 kV)";
    QTest::newRow("match is silent") << 70 << "PLV70-X0600" << "Unit 70 kV" << "";
    QTest::newRow("unknown unit never warns") << 20 << "PLV80-X0600" << "Unit rating not known" << "";
    QTest::newRow("the other product line warns at any rating")
        << 70 << "PLR70-X0600" << "Unit rating not known" << "PLR unit on the PLV console (PLR70-X0600)";
    QTest::newRow("the other line's letters further in are no line")
        << 70 << "XPLR70-X0600" << "Unit rating not known" << "";
}

void TstHealth::ratingTexts()
{
    QFETCH(int, selectedKV);
    QFETCH(QString, model);
    QFETCH(QString, unit);
    QFETCH(QString, warning);
    RatingCheck r("PLV", PlvKVs, "PLR");
    r.select(selectedKV, 600);
    r.setModelNumber(model);
    QCOMPARE(r.ratingText(), QString("Rating %1 kV / 600 W").arg(selectedKV));
    QCOMPARE(r.unitText(), unit);
    QCOMPARE(r.warningText(), warning);
}

void TstHealth::pickingTheMatchingRatingClearsTheWarning()
{
    RatingCheck r("PLV", PlvKVs, "PLR");
    QSignalSpy spy(&r, &RatingCheck::warningChanged);
    r.setModelNumber("PLV70-X0600");
    r.select(20, 1200);
    r.select(30, 300);
    r.select(70, 300);
    QCOMPARE(spy.count(), 3);
    QCOMPARE(spy.at(1).at(0).toString(), "Selected rating 30 kV does not match the unit (70 kV)");
    QCOMPARE(r.warningText(), QString());
}

QTEST_GUILESS_MAIN(TstHealth)
#include "tst_health.moc"
