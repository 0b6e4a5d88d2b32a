// What the operator sees when the link dies or high voltage is on: NO REPLY and stale
// values, their clearing, the HV command's fate, the emergency key through any dialog,
// the safety header, the latched alarms and the exit question.
#include "testsupport.h"

#include "console/linkchoice.h"
#include "console/logbook.h"
#include "console/safety.h"
#include "health/alarms.h"
#include "panels/alarmswindow.h"
#include "panels/mainpanel.h"
#include "panels/savefile.h"
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
#include <QApplication>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QScrollArea>
#include <QScrollBar>
#include <QTableWidget>
#include <QRegularExpression>
#include <QSignalSpy>
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
    return rig.s().AutoUpdate();
}

QString linkText(Rig &rig) { return rig.win->healthStrip().lbl_LINKHEALTH->text(); }

bool showActive(Rig &rig)
{
    rig.win->show();
    rig.win->activateWindow();
    return QTest::qWaitForWindowActive(rig.win.get());
}

// "TEMP fault=CLEARED, unacknowledged*" for each listed alarm, '*' for first out.
QStringList eventTexts(Rig &rig, const QString &start)
{
    QStringList out;
    const logs::EventLog &log = rig.win->logbook().events();
    for (int i = 0; i < log.count(); ++i)
        if (log.at(i).text.startsWith(start))
            out << log.at(i).text;
    return out;
}

QStringList alarmRows(Rig &rig)
{
    QStringList rows;
    for (const AlarmList::Alarm &a : rig.win->safety().alarms().alarms())
        rows << alarmName(a.condition) + '=' + AlarmList::stateText(a.state()) + (a.firstOut ? "*" : "");
    return rows;
}

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

    // A stale box keeps its own colour and black text and shows the mark; one reading
    // "Unknown" or "Invalid" is never marked, whichever came first; a stale lamp is grey.
    void staleMarksKeepTheSignals_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QColor>("color");
        QTest::addColumn<bool>("textFirst");
        QTest::addColumn<bool>("marked");
        QTest::newRow("a value: marked") << "35.01" << QColor(Qt::white) << true << true;
        QTest::newRow("Unknown: red kept, not marked") << "Unknown" << QColor(255, 0, 0) << true << false;
        QTest::newRow("Unknown after the mark: not marked") << "Unknown" << QColor(255, 0, 0) << false << false;
        QTest::newRow("Invalid: yellow kept, not marked") << "Invalid" << QColor(255, 255, 0) << true << false;
    }
    void staleMarksKeepTheSignals()
    {
        QFETCH(QString, text);
        QFETCH(QColor, color);
        QFETCH(bool, textFirst);
        QFETCH(bool, marked);
        QWidget w;
        QLineEdit *box = makeValueBox("txt_X", "1.00", &w);
        setBoxColor(box, color);
        if (textFirst)
            box->setText(text);
        setStale(box, true, "last read 12:00:00");
        if (!textFirst)
            box->setText(text);
        QCOMPARE(box->property("stale").toBool(), marked);
        QCOMPARE(box->palette().brush(QPalette::Base), QBrush(color));
        QCOMPARE(box->palette().color(QPalette::Text), QColor(Qt::black));
        auto *mark = box->findChild<QAction *>("staleMark");
        QCOMPARE(mark && mark->isVisible(), marked);
        QVERIFY(box->toolTip().endsWith("last read 12:00:00"));

        LampButton lamp(LampButton::Style::Lamp);
        lamp.setColors(Qt::yellow, Qt::red);
        lamp.resize(20, 20);
        setStale(&lamp, true, {});
        const QImage shot = lamp.grab().toImage();
        const QColor centre = shot.pixelColor(shot.width() / 2 + 2, shot.height() / 2);
        QVERIFY2(centre.red() == centre.green() && centre.green() == centre.blue(), qPrintable(centre.name()));
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
            QTest::keyClick(rig.win->windowHandle(), Qt::Key_F12);
        });
        QVERIFY(showActive(rig));
        rig.win->readbacks().UpdateData();
        QVERIFY(rig.waitForCommands(4, 10000));
        QCOMPARE(rig.wire().mid(0, 4), (QList<QByteArray>{"19,", "98,0,", "22,", "68,"}));
    }

    // F12 sends "98,0," from inside any modal box, the console's own HV ON question
    // included (which it answers No), pressed on the box's own active window.
    void emergencyKeyThroughModalBoxes_data()
    {
        QTest::addColumn<QString>("box");
        QTest::newRow("link error message box") << "message";
        QTest::newRow("input box") << "input";
        QTest::newRow("file dialog") << "file";
        QTest::newRow("the HV ON question, answered No") << "question";
    }
    void emergencyKeyThroughModalBoxes()
    {
        QFETCH(QString, box);
        Rig rig;
        QVERIFY(rig.attachTcp());
        rig.sim.setHvOn(box != "question");
        rig.win->status().btn_REQSTAT_Click();
        rig.sim.clearTrace();
        QVERIFY(showActive(rig));
        setPrompter(nullptr);   // real boxes, shown modal
        QString wireWhileOpen = "no modal box came up";
        QTimer::singleShot(0, this, [&] {
            QWidget *modal = nullptr;
            if (QTest::qWaitFor([&] { return (modal = QApplication::activeModalWidget()) != nullptr; }, 5000)
                && QTest::qWaitForWindowActive(modal)) {
                QTest::keyClick(modal->windowHandle(), Qt::Key_F12);
                (void)QTest::qWaitFor([&] { return !rig.wire().isEmpty(); }, 5000);
                wireWhileOpen = QString::fromLatin1(rig.wire().value(0));
            }
            if (QWidget *still = QApplication::activeModalWidget())
                still->close();
        });
        QString text;
        if (box == "message")
            prompter().message(rig.win.get(), "TCP Error: The remote host closed the connection", {}, Prompter::Icon::None);
        else if (box == "input")
            prompter().input(rig.win.get(), "Password", {}, text);
        else if (box == "file")
            chooseFileToWrite(rig.win.get(), "Record Readbacks", QDir::tempPath() + "/x.csv", {"CSV (*.csv)"}, nullptr, false);
        else
            QTest::mouseClick(rig.win->windowHandle(), Qt::LeftButton, {},
                              rig.win->controls().btn_HVONOFF->mapTo(rig.win.get(), QPoint(45, 8)));
        setPrompter(&rig.prompt);
        QCOMPARE(wireWhileOpen, QStringLiteral("98,0,"));
        QCOMPARE(rig.wire(), QList<QByteArray>{"98,0,"});
        QVERIFY(!rig.sim.hvOn());
        QVERIFY(!QApplication::activeModalWidget());
    }

    // The Controls menu's last item is the same emergency stop, with F12 beside it.
    void emergencyMenuItem()
    {
        Rig rig;
        QVERIFY(rig.attachTcp());
        rig.sim.setHvOn(true);
        rig.win->status().btn_REQSTAT_Click();
        rig.sim.clearTrace();
        auto *controls = find<QMenu>(rig.win.get(), "ControlMenu");
        QAction *last = controls->actions().last();
        QCOMPARE(last->objectName(), QStringLiteral("mnu_EMERGENCYOFF"));
        QCOMPARE(last->text(), QStringLiteral("Emergency HV Off\tF12"));
        last->trigger();
        QCOMPARE(rig.wire(), QList<QByteArray>{"98,0,"});
        QCOMPARE(eventTexts(rig, "emergency HV OFF").size(), 1);
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

    // An HV OFF lost in a silence: the first status that still shows HV on sends it once
    // more by itself, logged; then the unit follows and the header clears.
    void hvOffSeenThroughAfterASilence()
    {
        Rig rig;
        QVERIFY(rig.attachTcp());
        rig.sim.setHvOn(true);
        rig.win->status().btn_REQSTAT_Click();
        rig.sim.setFaults({.silent = true});
        emit rig.win->controls().btn_HVONOFF->operated();
        QLabel *command = rig.win->healthStrip().lbl_HVCOMMAND;
        QCOMPARE(command->text(), QStringLiteral("HV OFF NOT CONFIRMED"));
        rig.sim.setFaults({});
        QVERIFY(rig.sim.hvOn());
        rig.sim.clearTrace();
        rig.win->status().btn_REQSTAT_Click();
        QTRY_COMPARE_WITH_TIMEOUT(rig.wire(), (QList<QByteArray>{"22,", "68,", "98,0,"}), 5000);
        QVERIFY(!rig.sim.hvOn());
        rig.win->status().btn_REQSTAT_Click();
        QCOMPARE(command->text(), QString());
        QCOMPARE(eventTexts(rig, "HV OFF sent again").size(), 1);
        QVERIFY(!rig.wire().contains("98,1,"));
    }

    // A TEMP fault seen in one status reply only stays listed until acknowledged, first
    // out; the header counts it; acknowledging a cleared one removes it.
    void aTransientFaultLatches()
    {
        Rig rig;
        QVERIFY(rig.attachTcp());
        rig.sim.setFaultFlag(SimUnit::Temperature, true);
        rig.win->status().btn_REQSTAT_Click();
        rig.sim.setFaultFlag(SimUnit::Temperature, false);
        rig.win->status().btn_REQSTAT_Click();
        QCOMPARE(alarmRows(rig), QStringList{"TEMP fault=CLEARED, unacknowledged*"});
        QLabel *header = rig.win->healthStrip().lbl_ALARMS;
        QVERIFY(!header->isHidden());
        QCOMPARE(header->text(), QStringLiteral("ALARMS 1 (1 unacknowledged)"));
        rig.trigger("mnu_ALARMS");
        AlarmsWindow &w = rig.win->safety().alarmsWindow();
        QVERIFY(w.isVisible());
        QCOMPARE(w.tbl_ALARMS->rowCount(), 1);
        QCOMPARE(w.tbl_ALARMS->item(0, 2)->text(), QStringLiteral("CLEARED, unacknowledged"));
        w.btn_ACKALL->click();
        QCOMPARE(w.tbl_ALARMS->rowCount(), 0);
        QVERIFY(header->isHidden());
        QCOMPARE(eventTexts(rig, "alarm "), (QStringList{"alarm TEMP fault: ACTIVE (first out)", "alarm TEMP fault: CLEARED, unacknowledged",
                                      "alarm TEMP fault: acknowledged"}));
    }

    // HV that goes off without this console's HV OFF is an alarm; the operator's own OFF
    // and Ports > Disconnect raise none.
    void alarmsOfTheConsolesOwnKnowledge_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("HV drops by itself") << "trip" << QStringList{"HV dropped without HV OFF=CLEARED, unacknowledged*"};
        QTest::newRow("HV OFF from the switch") << "switch" << QStringList{};
        QTest::newRow("Ports > Disconnect") << "disconnect" << QStringList{};
    }
    void alarmsOfTheConsolesOwnKnowledge()
    {
        QFETCH(QString, what);
        QFETCH(QStringList, rows);
        Rig rig;
        QVERIFY(choose(rig, false));
        rig.win->cycle().mnu_MANUAL_Click();
        rig.sim.setHvOn(true);
        rig.win->status().btn_REQSTAT_Click();
        if (what == "trip")
            rig.sim.setHvOn(false);
        else if (what == "switch")
            emit rig.win->controls().btn_HVONOFF->operated();
        else
            rig.trigger("mnu_DISCONNECT");
        if (what != "disconnect")
            rig.win->status().btn_REQSTAT_Click();
        QCOMPARE(alarmRows(rig), rows);
    }

    // The header stays in view wherever the panels are scrolled, on a screen as small as
    // 1920x1080 at twice the scale; the title says HV ON exactly once.
    void headerStaysInViewWhileScrolled()
    {
        Rig rig;
        QVERIFY(rig.attachTcp());
        rig.sim.setHvOn(true);
        rig.win->status().btn_REQSTAT_Click();
        rig.win->resize(960, 500);
        QVERIFY(showActive(rig));
        QScrollArea *scroll = rig.win->findChild<QScrollArea *>("scr_PANELS");
        QScrollBar *bar = scroll->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        bar->setValue(bar->maximum());
        HealthStrip &strip = rig.win->healthStrip();
        const QRect inWindow(strip.mapTo(rig.win.get(), QPoint(0, 0)), strip.size());
        QVERIFY(rig.win->rect().contains(inWindow));
        QVERIFY(strip.lbl_HVBANNER->isVisible());
        QVERIFY(!strip.isAncestorOf(scroll) && !scroll->isAncestorOf(&strip));
        QCOMPARE(rig.win->windowTitle(), rig.win->build().windowCaption + QStringLiteral(" \u2014 HV ON"));
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

    // The model number names the unit's kV and product line: a mismatch is an alarm and
    // red in the header; with HV on, a new rating is asked for first.
    void ratingAgainstTheUnit()
    {
        Rig rig;
        QVERIFY(choose(rig, false));
        rig.win->cycle().mnu_MANUAL_Click();
        QLabel *rating = rig.win->healthStrip().lbl_RATING;
        QCOMPARE(rating->text(), QStringLiteral("Rating 70 kV / 600 W"));
        rig.trigger("Menu20KV600W");
        QCOMPARE(rating->text(), QStringLiteral("Rating 20 kV / 600 W \u2014 RATING MISMATCH: "
                                                "Selected rating 20 kV does not match the unit (70 kV)"));
        QCOMPARE(rating->palette().color(QPalette::Window), QColor(255, 0, 0));
        QCOMPARE(alarmRows(rig), QStringList{"rating mismatch=ACTIVE*"});

        rig.sim.setHvOn(true);
        rig.win->status().btn_REQSTAT_Click();
        rig.trigger("Menu70KV600W");   // Keep, the default
        QCOMPARE(rig.prompt.questions.value(0), QStringLiteral("High voltage is ON. Change the rating to 70 kV / 600 W?"));
        QVERIFY(find<QAction>(rig.win.get(), "Menu20KV600W")->isChecked());
        QVERIFY(!find<QAction>(rig.win.get(), "Menu70KV600W")->isChecked());
        rig.prompt.choices.enqueue(0);
        rig.trigger("Menu70KV600W");
        QCOMPARE(rating->text(), QStringLiteral("Rating 70 kV / 600 W"));
        QCOMPARE(alarmRows(rig), QStringList{"rating mismatch=CLEARED, unacknowledged*"});
    }

    // The other product line's unit warns at every rating.
    void otherProductLineIsAnAlarm()
    {
        Rig rig(plrBuild());
        QVERIFY(choose(rig, false));
        rig.win->cycle().mnu_MANUAL_Click();
        QVERIFY2(rig.win->healthStrip().lbl_RATING->text().contains(
                     "PLV unit on the PLR console (PLV70"),
                 qPrintable(rig.win->healthStrip().lbl_RATING->text()));
        QVERIFY(alarmRows(rig).contains("rating mismatch=ACTIVE*"));
    }

    // The unit closing the connection shows at once; the console knocks again on its own,
    // with no message box, and is back with fresh values in the mode it was in once the
    // unit listens again, having written nothing but queries. Disconnect ends the retries.
    void tcpComesBackByItself_data()
    {
        QTest::addColumn<QString>("then");
        QTest::newRow("the unit listens again") << "listen";
        QTest::newRow("the operator disconnects") << "disconnect";
    }
    void tcpComesBackByItself()
    {
        QFETCH(QString, then);
        Rig rig;
        QVERIFY(choose(rig, false));
        QLineEdit *kv = rig.win->readbacks().txt_ADC2;
        QTRY_VERIFY_WITH_TIMEOUT(linkText(rig).startsWith("CONNECTED") && !kv->property("stale").toBool(), 5000);
        const quint16 port = rig.sim.tcpPort();
        auto *retry = find<QTimer>(rig.win.get(), "tmr_TCPRECONNECT");
        QVERIFY(retry);
        QSignalSpy attempts(rig.s().tcpReconnect(), &TcpReconnect::attemptFailed);
        QSignalSpy logged(&rig.win->links(), &LinkChoice::retryFailed);

        rig.sim.stopTcp();
        QTRY_COMPARE_WITH_TIMEOUT(linkText(rig), QStringLiteral("NOT CONNECTED \u2014 closed by the unit (127.0.0.1:%1)").arg(port),
                                  1000);
        QVERIFY(retry->isActive());
        const int messages = int(rig.prompt.messages.size());
        QVERIFY(attempts.wait(3000));
        QCOMPARE(attempts.first().first().toBool(), true);   // refused
        if (then == "disconnect") {
            rig.trigger("mnu_DISCONNECT");
            QVERIFY(!retry->isActive() && !rig.s().tcpReconnect()->retrying());
            return;
        }
        rig.sim.clearTrace();
        QVERIFY(rig.sim.listenTcp(port));
        QTRY_VERIFY_WITH_TIMEOUT(linkText(rig).startsWith("CONNECTED"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!kv->property("stale").toBool(), 5000);
        QVERIFY(rig.s().AutoUpdate() && rig.s().tmr_UPDATE->isActive());
        QVERIFY(!retry->isActive());
        QCOMPARE(rig.wire().mid(0, 2), (QList<QByteArray>{"22,", "68,"}));
        static const QRegularExpression query(QStringLiteral("^(1[4-79]|2[0-6]|68),$"));
        for (const QByteArray &p : rig.wire())
            QVERIFY2(query.match(QString::fromLatin1(p)).hasMatch(), p.constData());
        QCOMPARE(rig.prompt.messages.size(), messages);
        QCOMPARE(logged.size(), 1);   // the outcome never changed: refused
    }

    // Disconnect closes the link, stops the cycle and nothing reopens or queries it.
    void disconnectStopsEverything()
    {
        Rig rig;
        QVERIFY(choose(rig, true));
        rig.trigger("mnu_DISCONNECT");
        Session &s = rig.s();
        QVERIFY(!s.serial().isOpen());
        QVERIFY(!s.AutoUpdate() && !s.tmr_UPDATE->isActive() && !s.tmr_COMMWDT->isActive());
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
