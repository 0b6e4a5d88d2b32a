// The analog readbacks and the automatic update cycle, as the unit sees them.
#include "testsupport.h"

#include "widgets/widgets.h"
#include "panels/readbackspanel.h"
#include "unit/updatecycle.h"

#include <QAction>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

using namespace plv;
using namespace plv::test;

namespace {

using Wire = QList<QByteArray>;
const Wire kEntering = {"19,", "20,", "24,", "26,", "21,", "23,", "25,"};
// One query per step; step 5 asks twice.
const QList<Wire> kSteps = {{"19,"}, {"14,"}, {"15,"}, {"16,"}, {"17,"}, {"22,", "68,"},
                            {"21,"}, {"20,"}, {"21,"}, {"25,"}};

Wire stepsFrom(int first, int count)
{
    Wire w;
    for (int i = 0; i < count; ++i)
        w += kSteps[(first + i) % 10];
    return w;
}

const char *const kQueryButtons[] = {"btn_UPDATEDATA", "btn_KVSET", "btn_EMI",  "btn_FILLIM", "btn_FILPREHEAT", "btn_REQSTAT",
                                     "btn_HWREV",      "btn_MODNUM", "btn_SWREV", "btn_WEBREV", "totalHours"};

bool queryButtonsEnabled(QWidget *win, bool on)
{
    for (const char *name : kQueryButtons) {
        auto *w = find<QWidget>(win, name);
        if (!w || w->isEnabled() != on)
            return false;
    }
    return true;
}

} // namespace

class TstCycle : public QObject {
    Q_OBJECT
private slots:
    void wireOrder_data()
    {
        QTest::addColumn<bool>("serial");
        QTest::addColumn<int>("startStep");
        QTest::addColumn<Wire>("cycle");
        // Ten steps and a wrap past step 9.
        QTest::newRow("tcp from step 0") << false << 0 << stepsFrom(0, 11);
        QTest::newRow("pty from step 0") << true << 0 << stepsFrom(0, 11);
        QTest::newRow("tcp entered at step 4") << false << 4 << stepsFrom(4, 10);
    }
    void wireOrder()
    {
        QFETCH(bool, serial);
        QFETCH(int, startStep);
        QFETCH(Wire, cycle);
        Rig rig;
        QVERIFY(serial ? rig.attachSerial() : rig.attachTcp());
        UpdateCycle &c = rig.win->cycle();
        c.ctr_AutoUpdate = startStep;   // not reset by entering automatic mode
        c.mnu_AUTOUPDATE_Click();
        QCOMPARE(rig.wire(), kEntering);   // run at once, before the first tick
        QVERIFY(rig.s().AutoUpdate());
        QVERIFY(rig.s().tmr_UPDATE->isActive());
        QVERIFY(queryButtonsEnabled(rig.win.get(), false));
        QVERIFY(find<QAction>(rig.win.get(), "mnu_AUTOUPDATE")->isChecked());
        QVERIFY(!find<QAction>(rig.win.get(), "mnu_MANUAL")->isChecked());

        QVERIFY(rig.waitForCommands(int(kEntering.size() + cycle.size()), 20000));
        c.mnu_MANUAL_Click();
        QCOMPARE(rig.wire().mid(0, kEntering.size() + cycle.size()), kEntering + cycle);
        QCOMPARE(rig.s().CommErrors(), 0);
        QCOMPARE(rig.sim.badChecksums(), 0);
    }

    // The three boxes of the command's panel: "19" kV, mA, filament; "20" supply and
    // the two converter channels.
    void readbacks_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<bool>("waiting");   // the busy lamp after the exchange
        const QStringList design19 = {"Channel 2", "Channel 3", ""}, design20 = {"Channel 1", "Channel 0", "N/A"};
        QTest::newRow("19 full scale at 70 kV 600 W") << QByteArray("19") << QByteArray("4095,2048,1000,")
                                                      << QStringList{"70.00 kV", "4.29 mA", "1.221 A"} << false;
        QTest::newRow("19 two fields: filament keeps its text") << QByteArray("19") << QByteArray("4095,2048,")
                                                                << QStringList{"70.00 kV", "4.29 mA", ""} << false;
        QTest::newRow("19 second field not a number: kV only")
            << QByteArray("19") << QByteArray("4095,abc,1000,") << QStringList{"70.00 kV", "Channel 3", ""} << false;
        QTest::newRow("19 last field without comma is not trusted")
            << QByteArray("19") << QByteArray("0,0,10") << QStringList{"0.00 kV", "0.00 mA", ""} << false;
        // "\x02" "19," ETX is five characters: no usable reply, and nothing counted.
        QTest::newRow("19 echo only keeps the lamp waiting") << QByteArray("19") << QByteArray() << design19 << true;
        QTest::newRow("20 supply and two channels") << QByteArray("20") << QByteArray("1562,25,3000,")
                                                    << QStringList{"-15.00 V", "25.0", "3000.0"} << false;
        QTest::newRow("20 supply not a number ends the decode")
            << QByteArray("20") << QByteArray("x,25,3000,") << design20 << false;
    }
    void readbacks()
    {
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, data);
        QFETCH(QStringList, boxes);
        QFETCH(bool, waiting);
        Rig rig;
        QVERIFY(rig.attachTcp());
        rig.sim.overrideReply(command, data);
        ReadbacksPanel &r = rig.win->readbacks();
        const bool data19 = command == "19";
        data19 ? r.UpdateData() : r.UpdateTemps();
        const QList<QLineEdit *> shown =
            data19 ? QList<QLineEdit *>{r.txt_ADC2, r.txt_ADC3, r.txt_ADC13} : QList<QLineEdit *>{r.txt_ADC1, r.txt_ADC0, r.txt_ADC6};
        QStringList texts;
        for (QLineEdit *box : shown)
            texts << box->text();
        QCOMPARE(texts, boxes);
        QCOMPARE(r.btn_UPDATEDATA->value(), waiting);
        QCOMPARE(r.btn_UPDATEDATA->text(), waiting ? QStringLiteral("WAITING!") : QStringLiteral("UPDATE"));
        QCOMPARE(rig.s().CommErrors(), 0);
        QCOMPARE(rig.wire(), Wire{command + ','});
    }

    void silentUnitCountsEachExchangeAndTheCycleGoesOn()
    {
        ScriptedRig rig(false);
        bool silent = false;
        int errorsWhenNextStepAsked = -1;
        rig.link->respond = [&](const QByteArray &p) {
            if (!silent)
                return ScriptedLink::Answer{{1, unitFrame(p == "19," ? "19,0,0,0," : p.left(3) + "$,", false)}};
            if (p == "14,")
                errorsWhenNextStepAsked = rig.s().CommErrors();
            return ScriptedLink::Answer{};
        };
        ReadbacksPanel &r = rig.win->readbacks();
        r.UpdateData();
        QVERIFY(!r.btn_UPDATEDATA->value());
        silent = true;
        r.UpdateData();
        QCOMPARE(rig.s().CommErrors(), 1);
        QVERIFY(r.btn_UPDATEDATA->value());
        QCOMPARE(r.btn_UPDATEDATA->text(), QStringLiteral("WAITING!"));
        QVERIFY(!rig.win->extrasLoaded());   // this query counts without showing the count

        // In the cycle: the step after an unanswered "19," still runs.
        silent = false;
        UpdateCycle &c = rig.win->cycle();
        c.mnu_AUTOUPDATE_Click();
        silent = true;
        c.ctr_AutoUpdate = 0;
        rig.link->written.clear();
        rig.link->writtenAt.clear();
        const int before = rig.s().CommErrors();
        QTRY_VERIFY_WITH_TIMEOUT(rig.link->written.size() >= 2, 10000);   // steps come on the cycle's real timer
        c.mnu_MANUAL_Click();
        QCOMPARE(rig.wire().mid(0, 2), (Wire{"19,", "14,"}));
        QCOMPARE(errorsWhenNextStepAsked, before + 1);
        QVERIFY(rig.link->writtenAt.at(1) - rig.link->writtenAt.at(0) >= Session::kSerialTcpTimeoutMs);
        QVERIFY(r.btn_UPDATEDATA->value());
    }

    void manualModeStopsTheCycle()
    {
        Rig rig;
        QVERIFY(rig.attachTcp());
        UpdateCycle &c = rig.win->cycle();
        c.mnu_AUTOUPDATE_Click();
        QVERIFY(rig.waitForCommands(int(kEntering.size()) + 2));
        c.mnu_MANUAL_Click();
        QVERIFY(!rig.s().AutoUpdate());
        QVERIFY(!rig.s().tmr_UPDATE->isActive());
        QVERIFY(queryButtonsEnabled(rig.win.get(), true));
        QVERIFY(find<QAction>(rig.win.get(), "mnu_MANUAL")->isChecked());
        QVERIFY(!find<QAction>(rig.win.get(), "mnu_AUTOUPDATE")->isChecked());

        QSignalSpy asked(&rig.sim, &SimUnit::commandReceived);
        QVERIFY(!asked.wait(500));   // several tick intervals with nothing sent
        // A manual query afterwards does not restart the cycle.
        rig.win->readbacks().UpdateData();
        QVERIFY(!rig.s().tmr_UPDATE->isActive());
    }
};

QTEST_MAIN(TstCycle)
#include "tst_cycle.moc"
