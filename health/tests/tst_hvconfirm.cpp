// Banner for HV requests the unit did not confirm or refused.
#include "health/hvconfirm.h"

#include <QSignalSpy>
#include <QtTest>

using namespace plv;

namespace {

// Words: on off timeout s0 s1 s? (status: HV off, on, unreadable), or r<data>: a reply
// whose text after STX and the echo "98," is <data>, so its first data character is
// at position 5.
void run(HvConfirmation &h, const QString &script)
{
    for (const QString &w : script.split(u' ', Qt::SkipEmptyParts)) {
        if (w == "on") h.requested(true);
        else if (w == "off") h.requested(false);
        else if (w == "timeout") h.replied({});
        else if (w == "s0") h.statusReply(false);
        else if (w == "s1") h.statusReply(true);
        else if (w == "s?") h.statusReply(std::nullopt);
        else if (w.startsWith(u'r')) h.replied("\x02" "98," + w.mid(1).toLatin1());
        else QFAIL(qPrintable("unknown event " + w));
    }
}

} // namespace

class TstHvConfirm : public QObject {
    Q_OBJECT
private slots:
    void bannerFollowsEvents_data();
    void bannerFollowsEvents();
};

void TstHvConfirm::bannerFollowsEvents_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("banner");
    QTest::newRow("nothing requested, nothing shown") << "" << "";
    QTest::newRow("ON accepted") << "on r$," << "";
    QTest::newRow("OFF accepted") << "off r$," << "";
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
    QTest::newRow("an unreadable status clears a refusal") << "on r2, s?" << "";
    QTest::newRow("the opposite request clears a refusal") << "on r1, off" << "";
    QTest::newRow("a reply with nothing requested is ignored") << "on r$, r1," << "";
}

void TstHvConfirm::bannerFollowsEvents()
{
    QFETCH(QString, script);
    QFETCH(QString, banner);
    HvConfirmation h;
    QSignalSpy spy(&h, &HvConfirmation::bannerChanged);
    run(h, script);
    QCOMPARE(h.bannerText(), banner);
    QCOMPARE(spy.isEmpty() ? QString() : spy.last().at(0).toString(), banner);
}

QTEST_GUILESS_MAIN(TstHvConfirm)
#include "tst_hvconfirm.moc"
