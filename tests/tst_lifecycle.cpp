// Start-up state and the three ways the console ends: Exit, Shutdown and Exit, and
// closing the main window.
#include "testsupport.h"

#include "console/exitsequence.h"
#include "widgets/widgets.h"
#include "protocol/framing.h"
#include "panels/controlspanel.h"
#include "panels/setpointeditor.h"

#include <QAction>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace plv;
using namespace plv::test;

namespace {

const BuildData &buildNamed(const QString &id) { return id == QLatin1String("plr") ? plrBuild() : plvBuild(); }

// Payload of a frame as the console sent it.
QByteArray payloadOf(const QByteArray &frame, bool checksum)
{
    return frame.mid(1, frame.size() - (checksum ? 3 : 2));
}

bool attachLinks(Rig &rig, const QString &links)
{
    bool ok = true;
    if (links.contains(QLatin1String("tcp")))
        ok = ok && rig.attachTcp();
    if (links.contains(QLatin1String("pty")))
        ok = ok && rig.attachSerial();
    return ok;
}

} // namespace

class TstLifecycle : public QObject {
    Q_OBJECT
private slots:
    void startsWithNothingChosenAndNothingSent_data()
    {
        QTest::addColumn<QString>("build");
        QTest::addColumn<QString>("caption");
        QTest::newRow("plv") << "plv" << "PLV Interface";
        QTest::newRow("plr") << "plr" << "PLR Interface";
    }
    void startsWithNothingChosenAndNothingSent()
    {
        QFETCH(QString, build);
        QFETCH(QString, caption);
        Rig rig(buildNamed(build));
        QVERIFY(rig.sim.openPty());
        QCoreApplication::processEvents();
        MainWindow &w = *rig.win;
        Session &s = rig.s();
        QCOMPARE(w.windowTitle(), caption);
        QVERIFY(rig.sim.trace().isEmpty());
        QCOMPARE(rig.sim.tcpClientCount(), 0);
        QVERIFY(!s.serial().isOpen());
        QCOMPARE(rig.usb->searches, 0);
        for (const char *name : {"tmr_RCVTIMER", "tmr_NETRCVTMR", "tmr_COMMWDT", "tmr_UPDATE", "tmr_EXIT"}) {
            QObject *t = w.findChild<QObject *>(QLatin1String(name));
            QVERIFY2(t && !t->property("active").toBool(), name);
        }
        QCOMPARE(s.CommMode(), QString());
        QCOMPARE((QStringList{rig.panel(1), rig.panel(2), rig.panel(3), rig.panel(4)}),
                 (QStringList{"SET PORT!", "Comm Ch.", "RX", "TX"}));
        QCOMPARE(w.exitSequence().ExitSeq, 0);
        QVERIFY(!w.controls().btn_HVONOFF->value());
        QVERIFY(!s.AutoUpdate());
        QCOMPARE(s.CommErrors(), 0);
        QVERIFY(s.CommStatusFlag());
        for (const char *name : {"mnu_EXTRAS", "mnu_PASSTHRU"}) {
            QAction *a = find<QAction>(&w, name);
            QVERIFY2(!a->isVisible() && !a->isEnabled(), name);
        }
        for (const char *name : {"mnu_comm1", "mnu_comm2", "mnu_userComm", "mnu_ethernet", "mnu_USB"})
            QVERIFY2(!find<QAction>(&w, name)->isChecked(), name);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(w.editor().NewDAC[i], 0);
            QCOMPARE(w.editor().OldDAC[i], 0);
        }
    }

    void shutdownReturnsToLocalAndZeroesTheSetpoints_data()
    {
        QTest::addColumn<QString>("link");
        QTest::newRow("tcp") << "tcp";
        QTest::newRow("pty") << "pty";
        QTest::newRow("no link chosen") << "";
    }
    void shutdownReturnsToLocalAndZeroesTheSetpoints()
    {
        QFETCH(QString, link);
        Rig rig;
        QVERIFY(attachLinks(rig, link));
        rig.sim.setRemote(true);
        for (int ch = 0; ch < 4; ++ch)
            rig.sim.setSetpoint(ch, 1000 + ch);
        QSignalSpy ended(rig.win.get(), &MainWindow::programEnded);
        QElapsedTimer clock;
        clock.start();
        QList<QByteArray> frames;
        QList<qint64> sentAt;
        connect(&rig.s(), &Session::txFrame, this, [&](const QByteArray &f) {
            frames << f;
            sentAt << clock.elapsed();
        });

        rig.trigger("mnu_SHUTDOWN");
        QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 10000);
        QVERIFY(rig.win->ended());
        QVERIFY(!rig.win->isVisible());

        const bool tcp = link == QLatin1String("tcp");
        QList<QByteArray> payloads;
        for (const QByteArray &f : frames)
            payloads << payloadOf(f, !tcp);
        const QList<QByteArray> expected{"99,0,", "10,0,", "11,0,", "12,0,", "13,0,"};
        QCOMPARE(payloads, expected);
        for (int i = 2; i < sentAt.size(); ++i)
            QVERIFY2(sentAt[i] - sentAt[i - 1] >= 40, qPrintable(QStringLiteral("gap %1 ms").arg(sentAt[i] - sentAt[i - 1])));
        if (!tcp) {
            QCOMPARE(frames.mid(1), (QList<QByteArray>{"\x02" "10,0,W\x03", "\x02" "11,0,V\x03", "\x02" "12,0,U\x03",
                                                       "\x02" "13,0,T\x03"}));
        }
        QVERIFY(!rig.s().serial().isOpen());
        QCOMPARE(rig.s().tcp().socket().state() == QAbstractSocket::ConnectedState, false);

        if (link.isEmpty()) {
            QVERIFY(rig.sim.trace().isEmpty());
            return;
        }
        QVERIFY(rig.waitForCommands(5));
        QCOMPARE(rig.wire(), expected);
        QVERIFY(!rig.sim.remote());
        for (int ch = 0; ch < 4; ++ch)
            QCOMPARE(rig.sim.setpoint(ch), 0);
        if (tcp)
            QTRY_COMPARE_WITH_TIMEOUT(rig.sim.tcpClientCount(), 0, 5000);
    }

    void exitClosesTheChosenLinkAndSendsNothing_data()
    {
        QTest::addColumn<QString>("links");
        QTest::addColumn<bool>("tcpCloses");
        QTest::newRow("ethernet chosen") << "tcp" << true;
        QTest::newRow("serial chosen, tcp up from before") << "tcp+pty" << false;
    }
    void exitClosesTheChosenLinkAndSendsNothing()
    {
        QFETCH(QString, links);
        QFETCH(bool, tcpCloses);
        Rig rig;
        QVERIFY(attachLinks(rig, links));
        QSignalSpy ended(rig.win.get(), &MainWindow::programEnded);
        QSignalSpy tx(&rig.s(), &Session::txFrame);
        rig.trigger("mnu_EXIT");
        QCOMPARE(ended.count(), 1);
        QCOMPARE(tx.count(), 0);
        QVERIFY(!rig.s().serial().isOpen());
        if (tcpCloses) {
            QTRY_COMPARE_WITH_TIMEOUT(rig.sim.tcpClientCount(), 0, 5000);
        } else {
            QVERIFY(rig.s().tcp().isConnected());
            QCOMPARE(rig.sim.tcpClientCount(), 1);
        }
        QVERIFY(rig.sim.trace().isEmpty());
    }

    // The same links close on "Exit" and on closing the window.
    void closingTheWindowMovesTheSwitchToLocalQuietly_data() { exitClosesTheChosenLinkAndSendsNothing_data(); }
    void closingTheWindowMovesTheSwitchToLocalQuietly()
    {
        QFETCH(QString, links);
        QFETCH(bool, tcpCloses);
        Rig rig;
        QVERIFY(attachLinks(rig, links));
        rig.win->show();
        LampButton *lr = rig.win->controls().btn_local_remote;
        lr->setValue(true);
        QSignalSpy operated(lr, &LampButton::operated);
        QSignalSpy ended(rig.win.get(), &MainWindow::programEnded);
        QSignalSpy tx(&rig.s(), &Session::txFrame);
        QVERIFY(rig.win->close());
        QVERIFY(!lr->value());
        QCOMPARE(operated.count(), 0);
        QCOMPARE(ended.count(), 1);
        QCOMPARE(tx.count(), 0);
        QVERIFY(!rig.s().serial().isOpen());
        if (tcpCloses) {
            QTRY_COMPARE_WITH_TIMEOUT(rig.sim.tcpClientCount(), 0, 5000);
        } else {
            QVERIFY(rig.s().tcp().isConnected());
            QCOMPARE(rig.sim.tcpClientCount(), 1);
        }
        QVERIFY(rig.sim.trace().isEmpty());
    }

    // Exit in the middle of a reply wait ends the wait and the rest of its handler's
    // chain: nothing more goes out, and the USB link refuses to send.
    void exitDuringAWaitEndsAtOnce_data()
    {
        QTest::addColumn<bool>("usb");
        QTest::addColumn<int>("exitAfterMs");
        QTest::newRow("tcp") << false << 300;
        QTest::newRow("usb") << true << 30;
    }
    void exitDuringAWaitEndsAtOnce()
    {
        QFETCH(bool, usb);
        QFETCH(int, exitAfterMs);
        Rig rig;
        QVERIFY(usb ? rig.attachUsb() : rig.attachTcp());
        rig.sim.setFaults({.silent = true});
        bool exited = false;
        QList<QByteArray> afterExit;
        connect(&rig.s(), &Session::txFrame, this, [&](const QByteArray &f) {
            if (exited)
                afterExit << f;
        });
        QTimer::singleShot(exitAfterMs, this, [&] {
            exited = true;
            rig.trigger("mnu_EXIT");
        });
        QElapsedTimer clock;
        clock.start();
        rig.trigger("mnu_AUTOUPDATE");   // seven queries into silence
        QVERIFY(exited && rig.win->ended());
        QVERIFY2(clock.elapsed() < Session::kSerialTcpTimeoutMs, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(afterExit, QList<QByteArray>());
        const qsizetype written = rig.usb->written.size();
        QVERIFY(!rig.s().usb().send(frameCommand("22,", true)));
        QCOMPARE(rig.usb->written.size(), written);
    }
};

QTEST_MAIN(TstLifecycle)
#include "tst_lifecycle.moc"
