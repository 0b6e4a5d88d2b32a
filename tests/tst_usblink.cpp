// The USB link makes its bridge calls on a worker thread: a read blocked in the bridge
// leaves the window running, and the program's end does not wait for it.
#include "testsupport.h"

#include "protocol/framing.h"

#include <QElapsedTimer>
#include <QTest>
#include <QThread>
#include <QTimer>

using namespace plv;
using namespace plv::test;

class TstUsbLink : public QObject {
    Q_OBJECT
private slots:
    void bridgeReadsBlockTheWorkerNotTheWindow()
    {
        Rig rig;
        QVERIFY(rig.attachUsb());
        Session &s = rig.s();
        FakeTessel::State &bridge = *rig.usb;
        // A reply nobody read comes at once, well inside the limit; then the unit is silent
        // and the next read waits in the bridge.
        bridge.reports << unitFrame("10,$,", true);
        bridge.readWaitMs = 300;
        int ticksInRead = 0;
        QTimer ticker;
        ticker.setInterval(10);
        connect(&ticker, &QTimer::timeout, this, [&] { ticksInRead += bridge.waitingInRead ? 1 : 0; });
        ticker.start();
        QElapsedTimer clock;
        clock.start();
        const QByteArray reply = s.transact("22,");
        const qint64 took = clock.elapsed();
        ticker.stop();
        QVERIFY2(ticksInRead > 0, "the window's timers stood still while the bridge read");
        // The read that completed past the limit ended the wait, not the limit itself.
        QVERIFY2(took >= 300 && took < 600, qPrintable(QString::number(took)));
        QVERIFY(reply.isEmpty());
        QCOMPARE(s.EchoMismatches(), 1);
        // No read is left running to hold up the next write, and none was made past it.
        clock.restart();
        QVERIFY(s.usb().send(frameCommand("23,", true)));
        QVERIFY2(clock.elapsed() < 150, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(bridge.reads.load(), 2);

        // Exit while a read waits in the bridge for its full second: the wait ends at once,
        // and the link goes without waiting for that read.
        bridge.readWaitMs = 1000;
        QTimer::singleShot(50, this, [&] { rig.trigger("mnu_EXIT"); });
        clock.restart();
        s.transact("23,");
        QVERIFY(rig.win->ended());
        QVERIFY2(clock.elapsed() < 500, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(bridge.waitingInRead);
        clock.restart();
        rig.win.reset();
        QVERIFY2(clock.elapsed() < 500, qPrintable(QString::number(clock.elapsed())));
        // The worker finishes the read on its own, hands the report to nobody and then
        // releases the bridge, the fake's hold on the shared state.
        QTRY_COMPARE_WITH_TIMEOUT(rig.usb.use_count(), 1L, 3000);
        QVERIFY(!bridge.waitingInRead);

        const QSet<Qt::HANDLE> callers = bridge.callerThreads();
        QCOMPARE(callers.size(), 1);
        QVERIFY(!callers.contains(QThread::currentThreadId()));
        QVERIFY(!bridge.overlapped);
    }
};

QTEST_MAIN(TstUsbLink)
#include "tst_usblink.moc"
