// The high-voltage switch, the local/remote switch and the fault reset against the
// simulated unit, operated as the operator does.
#include "testsupport.h"

#include "widgets/widgets.h"
#include "panels/controlspanel.h"
#include "panels/readbackspanel.h"
#include "console/safety.h"
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

// A click where the operator means it: a switch on the half it does not show.
void operate(LampButton *control)
{
    control->window()->show();
    const QRect r = control->rect();
    const bool isSwitch = control->style() == LampButton::Style::Switch;
    QTest::mouseClick(control, Qt::LeftButton, {},
                      isSwitch ? QPoint(r.center().x(), control->value() ? r.height() * 3 / 4 : r.height() / 4) : r.center());
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
        rig.prompt.choices.enqueue(0);   // "Switch HV ON", when asked
        operate(hv);

        QCOMPARE(rig.wire(), QList<QByteArray>{sent});
        QCOMPARE(rig.prompt.questions.size(), startOn ? 0 : 1);
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

    // The switch's halves split at half its height; only the half it does not show, or
    // Space, operates it; HV ON asks first (No the default), HV OFF and LOCAL/REMOTE never.
    void deliberateSwitching_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<bool>("startOn");
        QTest::addColumn<QString>("how");   // upper, lower, space
        QTest::addColumn<int>("answer");    // -1: the default
        QTest::addColumn<QList<QByteArray>>("sent");
        QTest::addColumn<int>("questions");
        QTest::newRow("HV off: the lower half, beside HV OFF, does nothing")
            << "btn_HVONOFF" << false << "lower" << 0 << QList<QByteArray>{} << 0;
        QTest::newRow("HV off: the upper half asks; No by default sends nothing")
            << "btn_HVONOFF" << false << "upper" << -1 << QList<QByteArray>{} << 1;
        QTest::newRow("HV off: the upper half asks; Switch HV ON sends it")
            << "btn_HVONOFF" << false << "upper" << 0 << QList<QByteArray>{"98,1,"} << 1;
        QTest::newRow("HV off: Space asks too") << "btn_HVONOFF" << false << "space" << -1 << QList<QByteArray>{} << 1;
        QTest::newRow("HV on: the upper half does nothing") << "btn_HVONOFF" << true << "upper" << 0 << QList<QByteArray>{} << 0;
        QTest::newRow("HV on: the lower half switches off without a question")
            << "btn_HVONOFF" << true << "lower" << -1 << QList<QByteArray>{"98,0,"} << 0;
        QTest::newRow("local: the lower half does nothing") << "btn_local_remote" << false << "lower" << -1 << QList<QByteArray>{} << 0;
        QTest::newRow("local: the upper half, no question") << "btn_local_remote" << false << "upper" << -1 << QList<QByteArray>{"99,1,"} << 0;
        QTest::newRow("remote: the upper half does nothing") << "btn_local_remote" << true << "upper" << -1 << QList<QByteArray>{} << 0;
    }
    void deliberateSwitching()
    {
        QFETCH(QString, control);
        QFETCH(bool, startOn);
        QFETCH(QString, how);
        QFETCH(int, answer);
        QFETCH(QList<QByteArray>, sent);
        QFETCH(int, questions);
        Rig rig;
        QVERIFY(rig.attachTcp());
        if (startOn) {
            rig.sim.setHvOn(true);
            rig.sim.setRemote(true);
            rig.win->status().btn_REQSTAT_Click();
            rig.sim.clearTrace();
        }
        if (answer >= 0)
            rig.prompt.choices.enqueue(answer);
        auto *sw = find<LampButton>(rig.win.get(), control.toLatin1().constData());
        rig.win->show();
        rig.win->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(rig.win.get()));
        if (how == "space") {
            sw->setFocus(Qt::MouseFocusReason);
            QTest::keyClick(rig.win->windowHandle(), Qt::Key_Space);
        } else {
            const int h = sw->height();
            const QPoint at = sw->mapTo(rig.win.get(), QPoint(sw->width() / 2, how == "upper" ? h / 2 - 1 : h / 2));
            QTest::mouseClick(rig.win->windowHandle(), Qt::LeftButton, {}, at);
        }
        QCOMPARE(rig.wire(), sent);
        QCOMPARE(rig.prompt.questions.size(), questions);
        if (questions)
            QCOMPARE(rig.prompt.questions.first(), QStringLiteral("Switch high voltage ON?"));
    }

    // Two clicks on HV ON while a reply is awaited: the first switches on, the second,
    // queued with the same direction, is dropped rather than turned into an HV OFF.
    void aQueuedClickKeepsItsDirection()
    {
        Rig rig;
        QVERIFY(rig.attachTcp());
        rig.sim.setFaults({.replyDelayMs = 300});
        LampButton *hv = rig.win->controls().btn_HVONOFF;
        rig.prompt.choices << 0 << 0;
        connect(&rig.sim, &SimUnit::commandReceived, this, [&](const QByteArray &p) {
            if (p == "19,")
                for (int i = 0; i < 2; ++i)
                    operate(hv);
        });
        rig.win->readbacks().UpdateData();
        QTRY_VERIFY_WITH_TIMEOUT(!rig.s().waiting() && rig.wire().size() >= 2, 5000);
        QCOMPARE(rig.wire(), (QList<QByteArray>{"19,", "98,1,"}));
        QCOMPARE(rig.prompt.questions.size(), 1);
        QVERIFY(hv->value());
    }

    // HV ON clicked during a reply wait, then the emergency stop: the OFF goes first and
    // the queued ON is dropped without a question.
    void anEmergencyStopCancelsAQueuedOn()
    {
        Rig rig;
        QVERIFY(rig.attachTcp());
        rig.sim.setFaults({.replyDelayMs = 300});
        rig.prompt.choices << 0;
        connect(&rig.sim, &SimUnit::commandReceived, this, [&](const QByteArray &p) {
            if (p != "19,")
                return;
            operate(rig.win->controls().btn_HVONOFF);
            rig.win->safety().emergencyOff("key (F12)");
        });
        rig.win->readbacks().UpdateData();
        QTRY_VERIFY_WITH_TIMEOUT(!rig.s().waiting() && rig.wire().size() >= 2, 5000);
        QCOMPARE(rig.wire(), (QList<QByteArray>{"19,", "98,0,"}));
        QVERIFY(rig.prompt.questions.isEmpty());
    }

    // Tab never lands on the HV switch, after a mode change or otherwise.
    void tabNeverReachesTheHvSwitch()
    {
        Rig rig;
        QVERIFY(rig.attachTcp());
        rig.win->show();
        QVERIFY(QTest::qWaitForWindowActive(rig.win.get()));
        rig.win->cycle().mnu_AUTOUPDATE_Click();
        rig.win->cycle().mnu_MANUAL_Click();
        LampButton *hv = rig.win->controls().btn_HVONOFF;
        QVERIFY(!hv->hasFocus());
        for (int i = 0; i < 80; ++i) {
            QTest::keyClick(rig.win->windowHandle(), Qt::Key_Tab);
            QVERIFY2(!hv->hasFocus(), qPrintable(QString::number(i)));
        }
    }

    void aRefusedSwitchOnIsPutRightByTheNextStatus()
    {
        Rig rig;
        QVERIFY(rig.attachTcp());
        LampButton *hv = rig.win->controls().btn_HVONOFF;
        rig.sim.setInterlockOpen(true);   // the unit refuses high voltage
        rig.prompt.choices.enqueue(0);
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
        rig.prompt.choices.enqueue(0);   // HV ON: yes
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
