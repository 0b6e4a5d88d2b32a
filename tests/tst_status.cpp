// The status request ("22," then "68,") decoded into the status lamps, labels and the
// two switches, against the simulated unit.
#include "testsupport.h"

#include "panels/dialogs.h"
#include "widgets/widgets.h"
#include "panels/controlspanel.h"
#include "panels/statuspanel.h"

#include <QLabel>
#include <QLineEdit>
#include <QTest>

using namespace plv;
using namespace plv::test;

namespace {
const QColor kRed(255, 0, 0), kBlack(0, 0, 0);
}

class TstStatus : public QObject {
    Q_OBJECT
private slots:
    void mainStatus_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<bool>("hvSwitchBefore");
        QTest::addColumn<bool>("remoteBefore");
        QTest::addColumn<bool>("hvLamp");
        QTest::addColumn<QString>("hvText");
        QTest::addColumn<bool>("hvSwitch");
        QTest::addColumn<QString>("interlock");
        QTest::addColumn<QColor>("interlockColor");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QColor>("faultColor");
        QTest::addColumn<bool>("remote");

        QTest::newRow("hv on, closed, no fault, remote")
            << QByteArray("1,0,0,1,") << false << false << true << "HV ON" << true << "Interlock Closed" << kBlack
            << "NO P.S. FAULT" << kBlack << true;
        QTest::newRow("open interlock puts the hv switch off after hv on")
            << QByteArray("1,1,0,0,") << true << true << true << "HV ON" << false << "Interlock Open" << kRed
            << "NO P.S. FAULT" << kBlack << false;
        QTest::newRow("hv off puts the switch off whatever it showed")
            << QByteArray("0,0,1,0,") << true << true << false << "HV OFF" << false << "Interlock Closed" << kBlack
            << "P.S. FAULT" << kRed << false;
        // Positions 7, 9 and 11 then hold commas: those items keep their design state.
        QTest::newRow("two-digit first field shifts the rest off their positions")
            << QByteArray("10,0,0,0,") << false << true << true << "HV ON" << true << "INTERLOCK" << kBlack
            << "NO PS  FAULT" << kBlack << true;
    }
    void mainStatus()
    {
        QFETCH(QByteArray, data);
        QFETCH(bool, hvSwitchBefore);
        QFETCH(bool, remoteBefore);
        Rig rig;
        QVERIFY(rig.attachTcp());
        rig.sim.overrideReply("22", data);
        LampButton *hvSwitch = rig.win->controls().btn_HVONOFF;
        LampButton *localRemote = rig.win->controls().btn_local_remote;
        hvSwitch->setValue(hvSwitchBefore);
        localRemote->setValue(remoteBefore);

        StatusPanel &st = rig.win->status();
        st.btn_REQSTAT_Click();
        QCOMPARE(rig.wire(), (QList<QByteArray>{"22,", "68,"}));
        QTEST(st.led_HVSTAT->value(), "hvLamp");
        QTEST(st.lbl_HVSTAT->text(), "hvText");
        QTEST(hvSwitch->value(), "hvSwitch");
        QTEST(st.lbl_INTRLKSTAT->text(), "interlock");
        QTEST(textColor(st.lbl_INTRLKSTAT), "interlockColor");
        QTEST(st.lbl_FAULT->text(), "fault");
        QTEST(textColor(st.lbl_FAULT), "faultColor");
        QTEST(localRemote->value(), "remote");
        QCOMPARE(st.led_INTRLKSTAT->value(), st.lbl_INTRLKSTAT->text() == "Interlock Open");
        QCOMPARE(st.led_FAULT->value(), st.lbl_FAULT->text() == "P.S. FAULT");
        QCOMPARE(textColor(st.lbl_HVSTAT), kBlack);   // only the Ethernet receive timer reddens it
        QCOMPARE(rig.s().CommErrors(), 0);
    }

    // Flags as a string, one character per flag from arc to under current:
    // 'E' lamp unlit + "... Error", 'O' lamp lit + "... OK", '-' design state.
    void faultFlags_data()
    {
        QTest::addColumn<QByteArray>("before");   // an earlier "68," reply, or none
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("flags");
        QTest::newRow("all zero: six lamps lit with OK") << QByteArray() << QByteArray("0,0,0,0,0,0,") << "OOOOOO";
        QTest::newRow("third set: over voltage error only") << QByteArray() << QByteArray("0,0,1,0,0,0,")
                                                           << "OOEOOO";
        QTest::newRow("reply ending after position 9 keeps the last three")
            << QByteArray("1,1,1,1,1,1,") << QByteArray("0,0,0") << "OOOEEE";
        QTest::newRow("other characters change nothing") << QByteArray("0,0,0,0,0,0,") << QByteArray("1,x,1,?,1,$,")
                                                         << "EOEOEO";
    }
    void faultFlags()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, data);
        QFETCH(QString, flags);
        Rig rig;
        QVERIFY(rig.attachTcp());
        StatusPanel &st = rig.win->status();
        if (!before.isEmpty()) {
            rig.sim.overrideReply("68", before);
            st.btn_REQSTAT_Click();
        }
        rig.sim.overrideReply("68", data);
        st.btn_REQSTAT_Click();

        static const char *const names[6] = {"Arc", "Temp", "Over Voltage", "Under Voltage", "Over Current",
                                             "Under Current"};
        static const char *const design[6] = {"ARC", "TEMP", "Over Voltage", "Under Voltage", "Over Current",
                                              "Under Current"};
        for (int i = 0; i < 6; ++i) {
            const QChar f = flags.at(i);
            const QString want = f == 'E' ? QString("%1 Error").arg(names[i])
                : f == 'O'                ? QString("%1 OK").arg(names[i])
                                          : QString(design[i]);
            QCOMPARE(st.flagLabels[i]->text(), want);
            QCOMPARE(st.flagLeds[i]->value(), f == 'O');
        }
        QCOMPARE(rig.s().CommErrors(), 0);   // "68," never counts
    }

    void noReplyToMainStatusCountsOnceAndStillAsksForFlags()
    {
        Rig rig;
        QVERIFY(rig.attachTcp());
        rig.sim.setInterlockOpen(true);
        rig.sim.setFaultFlag(SimUnit::Arc, true);
        rig.sim.overrideReply("22", std::nullopt);
        StatusPanel &st = rig.win->status();
        st.btn_REQSTAT_Click();
        QCOMPARE(rig.wire(), (QList<QByteArray>{"22,", "68,"}));
        QCOMPARE(rig.s().CommErrors(), 1);
        QCOMPARE(rig.win->extras().txt_COMMERRORS->text(), QStringLiteral("1"));
        QCOMPARE(st.lbl_INTRLKSTAT->text(), QStringLiteral("INTERLOCK"));
        QVERIFY(!st.led_INTRLKSTAT->value());
        QCOMPARE(st.flagLabels[0]->text(), QStringLiteral("Arc Error"));
        QCOMPARE(st.flagLabels[1]->text(), QStringLiteral("Temp OK"));
    }

    // The timer states as they were while the unit was being asked, sampled when each
    // command reached the simulated unit (same thread, inside the console's wait).
    void timersPausedForTheRequest_data()
    {
        QTest::addColumn<bool>("serial");
        QTest::addColumn<bool>("automatic");
        QTest::newRow("tcp automatic") << false << true;
        QTest::newRow("tcp manual") << false << false;
        QTest::newRow("pty automatic") << true << true;
        QTest::newRow("pty manual") << true << false;
    }
    void timersPausedForTheRequest()
    {
        QFETCH(bool, serial);
        QFETCH(bool, automatic);
        Rig rig;
        QVERIFY(serial ? rig.attachSerial() : rig.attachTcp());
        Session &s = rig.s();
        QStringList seen;
        connect(&rig.sim, &SimUnit::commandReceived, this, [&](const QByteArray &p) {
            seen << QString("%1 upd=%2 rcv=%3 net=%4")
                        .arg(QString::fromLatin1(p))
                        .arg(s.tmr_UPDATE->isActive())
                        .arg(s.tmr_RCVTIMER->isActive())
                        .arg(s.tmr_NETRCVTMR->isActive());
        });
        s.setAutoUpdate(automatic);
        if (automatic)
            s.tmr_UPDATE->start();   // no tick can run: the request below starts at once

        rig.win->status().btn_REQSTAT_Click();
        const bool updateAfter = s.tmr_UPDATE->isActive();
        s.setAutoUpdate(false);
        s.tmr_UPDATE->stop();

        // Every reply wait re-arms the serial receive timer, so it runs during "68,";
        // the Ethernet one stays paused until the request ends.
        QCOMPARE(seen, (QStringList{"22, upd=0 rcv=0 net=0", "68, upd=0 rcv=1 net=0"}));
        QCOMPARE(updateAfter, automatic);
        QCOMPARE(s.tmr_NETRCVTMR->isActive(), !serial);
        QCOMPARE(s.tmr_RCVTIMER->isActive(), true);
    }
};

QTEST_MAIN(TstStatus)
#include "tst_status.moc"
