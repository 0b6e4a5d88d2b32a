// What the operator sees when the link dies or high voltage is on: NO REPLY and stale
// values, their clearing, the HV command's fate, the emergency key and the exit question.
#include "testsupport.h"

#include "console/linkchoice.h"
#include "panels/controlspanel.h"
#include "panels/healthstrip.h"
#include "panels/readbackspanel.h"
#include "panels/statuspanel.h"
#include "unit/updatecycle.h"
#include "widgets/widgets.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTest>
#include <QTimer>

using namespace plv;
using namespace plv::test;

namespace {

// Through the Ports menu, so the console knows the link opened.
bool choose(Rig &rig, bool serial)
{
    if (serial) {
        if (!rig.sim.openPty())
            return false;
        rig.prompt.inputs.enqueue(rig.sim.ptyPath());
        rig.prompt.dialogs.enqueue([](QDialog &d) {
            d.accept();
            return int(QDialog::Accepted);
        });
        rig.trigger("mnu_userComm");
    } else {
        rig.prompt.dialogs.enqueue([&rig](QDialog &d) {
            auto *host = qobject_cast<RemoteHostDialog *>(&d);
            host->txtHost->setText(QStringLiteral("127.0.0.1"));
            host->txtPortNumber->setText(QString::number(rig.sim.tcpPort()));
            host->accept();
            return int(QDialog::Accepted);
        });
        rig.trigger("mnu_ethernet");
    }
    return rig.s().AutoUpdate;
}

QString linkText(Rig &rig) { return rig.win->healthStrip().lbl_LINKHEALTH->text(); }

} // namespace

class TstLinkHealth : public QObject {
    Q_OBJECT
private slots:
    // A unit that falls silent in automatic mode shows NO REPLY within 3 s and its
    // values go stale but stay on screen; the first good reply clears both. Replies
    // without their ETX are no better than silence.
    void silenceShowsAndClears_data()
    {
        QTest::addColumn<bool>("serial");
        QTest::addColumn<bool>("partial");
        QTest::newRow("tcp") << false << false;
        QTest::newRow("pty") << true << false;
        QTest::newRow("tcp, replies without their ETX") << false << true;
    }
    void silenceShowsAndClears()
    {
        QFETCH(bool, serial);
        QFETCH(bool, partial);
        Rig rig;
        QVERIFY(choose(rig, serial));
        QLineEdit *kv = rig.win->readbacks().txt_ADC2;
        LampButton *hv = rig.win->status().led_HVSTAT;
        QTRY_VERIFY_WITH_TIMEOUT(linkText(rig).startsWith("CONNECTED") && !kv->property("stale").toBool(), 5000);
        const QString shown = kv->text();

        rig.sim.setFaults({.silent = !partial, .noEtx = partial});
        QElapsedTimer silent;
        silent.start();
        QTRY_VERIFY_WITH_TIMEOUT(linkText(rig).startsWith("NO REPLY since "), 5000);
        QVERIFY2(silent.elapsed() < 3000 + 500, qPrintable(QString::number(silent.elapsed())));
        QTRY_VERIFY_WITH_TIMEOUT(kv->property("stale").toBool() && hv->isStale(), 5000);
        QCOMPARE(kv->text(), shown);
        QVERIFY(kv->isEnabled());
        QVERIFY(kv->toolTip().contains("\nlast read "));

        rig.sim.setFaults({});
        QTRY_VERIFY_WITH_TIMEOUT(linkText(rig).startsWith("CONNECTED"), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!kv->property("stale").toBool() && !hv->isStale(), 5000);
        rig.win->cycle().mnu_MANUAL_Click();
    }

    // F12 during a reply wait: "98,0," is the very next command, ahead of an action that
    // was queued first, and never inside the wait.
    void emergencyKeyGoesFirst()
    {
        Rig rig;
        QVERIFY(rig.attachTcp());
        rig.sim.setFaults({.replyDelayMs = 300});
        connect(&rig.sim, &SimUnit::commandReceived, this, [&](const QByteArray &p) {
            if (p != "19,")
                return;
            find<QPushButton>(rig.win.get(), "btn_REQSTAT")->click();
            rig.win->findChild<QShortcut *>("sc_EMERGENCYOFF")->activated();
        });
        rig.win->readbacks().UpdateData();
        QVERIFY(rig.waitForCommands(4, 10000));
        QCOMPARE(rig.wire().mid(0, 4), (QList<QByteArray>{"19,", "98,0,", "22,", "68,"}));
    }

    // An HV OFF that gets no answer says so until a status shows it off.
    void unconfirmedHvOff()
    {
        Rig rig;
        QVERIFY(rig.attachTcp());
        rig.sim.setHvOn(true);
        rig.win->status().btn_REQSTAT_Click();
        QVERIFY(rig.win->status().led_HVSTAT->value());
        rig.sim.setFaults({.silent = true});
        emit rig.win->controls().btn_HVONOFF->operated();
        QLabel *command = rig.win->healthStrip().lbl_HVCOMMAND;
        QCOMPARE(command->text(), QStringLiteral("HV OFF NOT CONFIRMED"));
        QVERIFY(rig.win->status().led_HVSTAT->value());   // the last confirmed state
        rig.sim.setFaults({});
        rig.sim.setHvOn(false);
        rig.win->status().btn_REQSTAT_Click();
        QCOMPARE(command->text(), QString());
    }

    // Exit while HV shows on asks first; Cancel (the default) stays, "leave it on" ends.
    void exitWithHvOnAsks_data()
    {
        QTest::addColumn<bool>("hvOn");
        QTest::addColumn<QList<int>>("answers");
        QTest::addColumn<int>("questions");
        QTest::addColumn<bool>("ended");
        QTest::newRow("hv off: no question") << false << QList<int>{} << 0 << true;
        QTest::newRow("hv on: cancel is the default") << true << QList<int>{} << 1 << false;
        QTest::newRow("hv on: exit and leave it on") << true << QList<int>{1} << 1 << true;
    }
    void exitWithHvOnAsks()
    {
        QFETCH(bool, hvOn);
        QFETCH(QList<int>, answers);
        QFETCH(int, questions);
        QFETCH(bool, ended);
        Rig rig;
        QVERIFY(rig.attachTcp());
        rig.sim.setHvOn(hvOn);
        rig.win->status().btn_REQSTAT_Click();
        for (int a : answers)
            rig.prompt.choices.enqueue(a);
        rig.trigger("mnu_EXIT");
        QCOMPARE(rig.prompt.questions.size(), questions);
        QCOMPARE(rig.win->ended(), ended);
        if (questions)
            QCOMPARE(rig.prompt.questions[0], QStringLiteral("High voltage is ON."));
    }

    // Switching HV off from the question sends "98,0," and then the shutdown sequence.
    void exitSwitchingHvOff()
    {
        Rig rig;
        QVERIFY(rig.attachTcp());
        rig.sim.setHvOn(true);
        rig.win->status().btn_REQSTAT_Click();
        rig.sim.clearTrace();
        rig.prompt.choices.enqueue(0);
        rig.trigger("mnu_EXIT");
        QTRY_VERIFY_WITH_TIMEOUT(rig.win->ended(), 5000);
        QVERIFY(rig.waitForCommands(6));
        QCOMPARE(rig.wire(), (QList<QByteArray>{"98,0,", "99,0,", "10,0,", "11,0,", "12,0,", "13,0,"}));
        QVERIFY(!rig.sim.hvOn());
    }

    // The model number names the unit's kV: a different selected rating warns.
    void ratingAgainstTheUnit()
    {
        Rig rig;
        QVERIFY(choose(rig, false));
        rig.win->cycle().mnu_MANUAL_Click();
        QCOMPARE(rig.win->healthStrip().lbl_RATING->text(), QStringLiteral("Rating 70 kV / 600 W"));
        QVERIFY(!linkText(rig).contains("does not match"));
        rig.trigger("Menu20KV600W");
        QVERIFY2(linkText(rig).contains("Selected rating 20 kV does not match the unit (70 kV)"), qPrintable(linkText(rig)));
        rig.trigger("Menu70KV300W");
        QVERIFY(!linkText(rig).contains("does not match"));
    }

    // Disconnect closes the link, stops the cycle and nothing reopens or queries it.
    void disconnectStopsEverything()
    {
        Rig rig;
        QVERIFY(choose(rig, true));
        rig.trigger("mnu_DISCONNECT");
        Session &s = rig.s();
        QVERIFY(!s.serial().isOpen());
        QVERIFY(!s.AutoUpdate && !s.tmr_UPDATE->isActive() && !s.tmr_COMMWDT->isActive());
        QVERIFY(!s.tmr_RCVTIMER->isActive());
        QCOMPARE(rig.panel(1), QStringLiteral("SET PORT!"));
        QCOMPARE(rig.panel(2), QStringLiteral("Comm Ch."));
        QVERIFY2(linkText(rig).startsWith("NOT CONNECTED"), qPrintable(linkText(rig)));
        for (const char *n : {"mnu_comm1", "mnu_comm2", "mnu_userComm", "mnu_ethernet", "mnu_USB"})
            QVERIFY(!find<QAction>(rig.win.get(), n)->isChecked());
        // COMM USER offers the last entry of this run.
        rig.prompt.inputs.enqueue(std::nullopt);
        rig.trigger("mnu_userComm");
        QCOMPARE(rig.prompt.prompts.size(), 2);
    }
};

QTEST_MAIN(TstLinkHealth)
#include "tst_linkhealth.moc"
