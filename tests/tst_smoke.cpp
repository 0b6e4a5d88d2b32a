// Request Status end to end, over TCP and over the pseudo-terminal.
#include "testsupport.h"

#include "widgets/widgets.h"
#include "panels/statuspanel.h"

#include <QLabel>
#include <QTest>

using namespace plv;
using namespace plv::test;

class TstSmoke : public QObject {
    Q_OBJECT
private slots:
    void requestStatusShowsTheUnitsState_data()
    {
        QTest::addColumn<bool>("serial");
        QTest::newRow("tcp") << false;
        QTest::newRow("pty") << true;
    }
    void requestStatusShowsTheUnitsState()
    {
        QFETCH(bool, serial);
        Rig rig;
        QVERIFY(serial ? rig.attachSerial() : rig.attachTcp());
        rig.sim.setInterlockOpen(true);
        rig.sim.setFaultFlag(SimUnit::OverVoltage, true);
        rig.win->status().btn_REQSTAT_Click();
        QCOMPARE(rig.wire(), (QList<QByteArray>{"22,", "68,"}));
        QVERIFY(rig.win->status().led_INTRLKSTAT->value());
        QCOMPARE(rig.win->status().lbl_INTRLKSTAT->text(), QStringLiteral("Interlock Open"));
        QCOMPARE(rig.win->status().flagLabels[2]->text(), QStringLiteral("Over Voltage Error"));
        QCOMPARE(rig.win->status().flagLabels[0]->text(), QStringLiteral("Arc OK"));
        QCOMPARE(rig.s().CommErrors(), 0);
    }
};

QTEST_MAIN(TstSmoke)
#include "tst_smoke.moc"
