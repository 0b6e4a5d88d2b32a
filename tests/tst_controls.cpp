// The high-voltage switch, the local/remote switch and the fault reset against the
// simulated unit, operated as the operator does.
#include "testsupport.h"

#include "widgets/widgets.h"
#include "panels/controlspanel.h"
#include "panels/statuspanel.h"
#include "unit/updatecycle.h"

#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

using namespace plv;
using namespace plv::test;

namespace {

bool attach(Rig &rig, const QString &link) { return link == QLatin1String("pty") ? rig.attachSerial() : rig.attachTcp(); }

void answerAs(Rig &rig, const QString &answer)
{
    rig.sim.setFaults({.silent = answer == QLatin1String("silent"), .refuseAll = answer == QLatin1String("refuse")});
    if (answer == QLatin1String("other"))
        rig.replyWith(QByteArray("2,"));
}

void operate(LampButton *control)
{
    control->window()->show();
    QTest::mouseClick(control, Qt::LeftButton, {}, control->rect().center());
}

} // namespace

class TstControls : public QObject {
    Q_OBJECT
private slots:
    void highVoltageSwitch_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<bool>("startOn");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<bool>("switchOn");
        QTest::addColumn<bool>("lampLit");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QColor>("labelColor");   // invalid: not looked at
        QTest::addColumn<QString>("lastError");
        QTest::addColumn<int>("errors");
        QTest::newRow("off, accepted: on, lamp lit, HV ON in red")
            << "tcp" << false << "unit" << QByteArray("98,1,") << true << true << "HV ON" << QColor(255, 0, 0) << "" << 0;
        QTest::newRow("on, accepted: off, HV OFF in black")
            << "pty" << true << "unit" << QByteArray("98,0,") << false << false << "HV OFF" << QColor(0, 0, 0) << "" << 0;
        QTest::newRow("off, refused: switch on, last error 1, lamp unchanged")
            << "tcp" << false << "refuse" << QByteArray("98,1,") << true << false << "HV OFF" << QColor() << "1" << 0;
        QTest::newRow("on, refused: switch off, lamp still lit")
            << "pty" << true << "refuse" << QByteArray("98,0,") << false << true << "HV ON" << QColor() << "1" << 0;
        QTest::newRow("on, silent: switch off, one error, lamp still lit")
            << "tcp" << true << "silent" << QByteArray("98,0,") << false << true << "HV ON" << QColor() << "" << 1;
        QTest::newRow("off, silent: switch on, one error")
            << "pty" << false << "silent" << QByteArray("98,1,") << true << false << "HV OFF" << QColor() << "" << 1;
        QTest::newRow("off, answer 2: switch on, nothing else")
            << "tcp" << false << "other" << QByteArray("98,1,") << true << false << "HV OFF" << QColor() << "" << 0;
    }
    void highVoltageSwitch()
    {
        QFETCH(QString, link);
        QFETCH(bool, startOn);
        QFETCH(QString, answer);
        QFETCH(QByteArray, sent);
        QFETCH(bool, switchOn);
        QFETCH(bool, lampLit);
        QFETCH(QString, label);
        QFETCH(QColor, labelColor);
        QFETCH(QString, lastError);
        QFETCH(int, errors);
        Rig rig;
        QVERIFY(attach(rig, link));
        StatusPanel &status = rig.win->status();
        LampButton *hv = rig.win->controls().btn_HVONOFF;
        if (startOn) {
            rig.sim.setHvOn(true);
            status.btn_REQSTAT_Click();
            QVERIFY(hv->value() && status.led_HVSTAT->value());
            rig.sim.clearTrace();
        }
        answerAs(rig, answer);
        operate(hv);

        QCOMPARE(rig.wire(), QList<QByteArray>{sent});
        QCOMPARE(hv->value(), switchOn);
        QCOMPARE(status.led_HVSTAT->value(), lampLit);
        QCOMPARE(status.lbl_HVSTAT->text(), label);
        if (labelColor.isValid())
            QCOMPARE(textColor(status.lbl_HVSTAT), labelColor);
        QCOMPARE(rig.win->extras().txt_LASTERROR->text(), lastError);
        QCOMPARE(rig.s().CommErrors(), errors);
        QCOMPARE(rig.win->extras().txt_COMMERRORS->text(), QString::number(errors));
        if (answer == QLatin1String("unit"))
            QCOMPARE(rig.sim.hvOn(), switchOn);
    }

    void aRefusedSwitchOnIsPutRightByTheNextStatus()
    {
        Rig rig;
        QVERIFY(rig.attachTcp());
        LampButton *hv = rig.win->controls().btn_HVONOFF;
        rig.sim.setInterlockOpen(true);   // the unit refuses high voltage
        operate(hv);
        QVERIFY(hv->value());
        QCOMPARE(rig.win->extras().txt_LASTERROR->text(), QStringLiteral("1"));
        rig.sim.setInterlockOpen(false);
        rig.win->status().btn_REQSTAT_Click();
        QVERIFY(!hv->value());
        QVERIFY(!rig.win->status().led_HVSTAT->value());
    }

    void localRemoteSwitch_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<bool>("startRemote");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<bool>("remoteAfter");
        QTest::newRow("local, accepted: remote") << "tcp" << false << "unit" << QByteArray("99,1,") << true;
        QTest::newRow("local, silent: stays local") << "pty" << false << "silent" << QByteArray("99,1,") << false;
        QTest::newRow("local, refused: stays local") << "tcp" << false << "refuse" << QByteArray("99,1,") << false;
        QTest::newRow("remote, accepted: local") << "pty" << true << "unit" << QByteArray("99,0,") << false;
        QTest::newRow("remote, silent: stays remote") << "tcp" << true << "silent" << QByteArray("99,0,") << true;
        QTest::newRow("remote, refused: stays remote") << "pty" << true << "refuse" << QByteArray("99,0,") << true;
    }
    void localRemoteSwitch()
    {
        QFETCH(QString, link);
        QFETCH(bool, startRemote);
        QFETCH(QString, answer);
        QFETCH(QByteArray, sent);
        QFETCH(bool, remoteAfter);
        Rig rig;
        QVERIFY(attach(rig, link));
        LampButton *lr = rig.win->controls().btn_local_remote;
        if (startRemote) {
            rig.sim.setRemote(true);
            rig.win->status().btn_REQSTAT_Click();
            QVERIFY(lr->value());
            rig.sim.clearTrace();
        }
        answerAs(rig, answer);
        operate(lr);
        QCOMPARE(rig.wire(), QList<QByteArray>{sent});
        QCOMPARE(lr->value(), remoteAfter);
        QCOMPARE(rig.s().CommErrors(), 0);
        if (answer == QLatin1String("unit"))
            QCOMPARE(rig.sim.remote(), remoteAfter);
    }

    void faultResetEndsShowingReset_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::newRow("unit resets") << "unit";
        QTest::newRow("unit silent") << "silent";
        QTest::newRow("unit refuses") << "refuse";
    }
    void faultResetEndsShowingReset()
    {
        QFETCH(QString, answer);
        Rig rig;
        QVERIFY(rig.attachSerial());
        rig.sim.setFault(true);
        answerAs(rig, answer);
        LampButton *reset = rig.win->controls().btn_RSTTIME;
        QSignalSpy shown(reset, &LampButton::valueChanged);
        operate(reset);
        QCOMPARE(rig.wire(), QList<QByteArray>{"31,"});
        QCOMPARE(shown.count(), 2);
        QCOMPARE(shown[0][0].toBool(), true);
        QVERIFY(!reset->value());
        QCOMPARE(reset->text(), QStringLiteral("RESET"));
        QCOMPARE(rig.s().CommErrors(), 0);
        QCOMPARE(rig.sim.fault(), answer != QLatin1String("unit"));
    }

    void inAutomaticModeEachActionPausesTheUpdateTimer_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QByteArray>("command");
        QTest::newRow("high voltage") << "btn_HVONOFF" << QByteArray("98,");
        QTest::newRow("local/remote") << "btn_local_remote" << QByteArray("99,");
        QTest::newRow("fault reset") << "btn_RSTTIME" << QByteArray("31,");
    }
    void inAutomaticModeEachActionPausesTheUpdateTimer()
    {
        QFETCH(QString, control);
        QFETCH(QByteArray, command);
        Rig rig;
        QVERIFY(rig.attachTcp());
        rig.win->cycle().mnu_AUTOUPDATE_Click();
        QVERIFY(rig.s().tmr_UPDATE->isActive());
        QList<bool> updateRunningAtSend;
        connect(&rig.sim, &SimUnit::commandReceived, this, [&](const QByteArray &p) {
            if (p.startsWith(command))
                updateRunningAtSend << rig.s().tmr_UPDATE->isActive();
        });
        operate(find<LampButton>(rig.win.get(), control.toLatin1().constData()));
        QTRY_COMPARE_WITH_TIMEOUT(updateRunningAtSend, QList<bool>{false}, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(rig.s().tmr_UPDATE->isActive() && !rig.s().waiting(), 5000);
        QVERIFY(rig.s().AutoUpdate());
        rig.win->cycle().mnu_MANUAL_Click();
    }

    void onlyTheOperatorStartsAnAction()
    {
        Rig rig;
        QVERIFY(rig.attachTcp());
        ControlsPanel &c = rig.win->controls();
        LampButton *controls[] = {c.btn_HVONOFF, c.btn_local_remote, c.btn_RSTTIME};
        QList<QSignalSpy *> spies;
        for (LampButton *b : controls)
            spies << new QSignalSpy(b, &LampButton::operated);
        for (LampButton *b : controls) {
            b->setValue(true);
            b->setValue(false);
        }
        rig.sim.setHvOn(true);
        rig.sim.setRemote(true);
        rig.win->status().btn_REQSTAT_Click();
        QVERIFY(c.btn_HVONOFF->value() && c.btn_local_remote->value());
        for (QSignalSpy *s : spies)
            QCOMPARE(s->count(), 0);
        QCOMPARE(rig.wire(), (QList<QByteArray>{"22,", "68,"}));

        // One click, one action: had the switch moved by itself, the action would ask for
        // what it already shows ("98,1,").
        rig.sim.clearTrace();
        operate(c.btn_HVONOFF);
        QCOMPARE(spies[0]->count(), 1);
        QCOMPARE(rig.wire(), QList<QByteArray>{"98,0,"});
        QVERIFY(!c.btn_HVONOFF->value());
        qDeleteAll(spies);
    }
};

QTEST_MAIN(TstControls)
#include "tst_controls.moc"
