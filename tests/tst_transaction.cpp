// The reply wait on each link and the receive timers that pick up frames arriving
// outside a transaction.
#include "testsupport.h"

#include "panels/dialogs.h"
#include "widgets/widgets.h"
#include "protocol/framing.h"
#include "panels/controlspanel.h"
#include "panels/statuspanel.h"
#include "panels/infopanel.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace plv;
using namespace plv::test;

namespace {

bool attach(Rig &rig, const QString &link)
{
    return link == "pty" ? rig.attachSerial() : link == "tcp" ? rig.attachTcp() : rig.attachUsb();
}

QByteArray exchange(Session &s, const QByteArray &payload)
{
    s.pause();
    s.outputOutputString(payload);
    const QByteArray reply = s.WaitForReply();
    s.rearm();
    return reply;
}

} // namespace

class TstTransaction : public QObject {
    Q_OBJECT
private slots:
    void completeReply_data()
    {
        QTest::addColumn<bool>("serial");
        QTest::addColumn<QByteArray>("after");      // what the unit writes behind its ETX
        QTest::addColumn<QByteArray>("tail");       // what of it the reply keeps
        QTest::addColumn<QByteArray>("msComm");     // what the diagnostics buffer shows
        QTest::newRow("pty: one character past the ETX, the next to the buffer box")
            << true << QByteArray("AB") << QByteArray("A") << QByteArray("B");
        QTest::newRow("pty: nothing past the ETX") << true << QByteArray() << QByteArray() << QByteArray();
        QTest::newRow("pty: the reply ends at its first ETX") << true << QByteArray("\x03" "B") << QByteArray("\x03")
                                                              << QByteArray("B");
        QTest::newRow("tcp: the whole read that brought the ETX") << false << QByteArray("AB") << QByteArray("AB")
                                                                 << QByteArray();
    }
    void completeReply()
    {
        QFETCH(bool, serial);
        QFETCH(QByteArray, after);
        QFETCH(QByteArray, tail);
        QFETCH(QByteArray, msComm);
        Rig rig;
        QVERIFY(serial ? rig.attachSerial() : rig.attachTcp());
        rig.sim.setFaults({.junkAfterEtx = after});
        QElapsedTimer clock;
        clock.start();
        const QByteArray reply = exchange(rig.s(), "23,");
        // The ETX ends the wait, wherever it stands in the read.
        QVERIFY2(clock.elapsed() < Session::kSerialTcpTimeoutMs, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(reply, unitFrame("23,SW 8.0.1234,", serial) + tail);
        QCOMPARE(rig.panel(3), QStringLiteral("RX: ") + renderFrame(reply));
        // Only the serial wait writes the buffer box (and so loads the window).
        QCOMPARE(rig.win->extrasLoaded(), serial);
        if (serial)
            QCOMPARE(rig.win->extras().txt_MSCOMMBUFF->text(), renderFrame(msComm));
    }

    void usbReplyAcrossReports()
    {
        Rig rig;
        QVERIFY(rig.attachUsb());
        for (const char *report : {"\x02" "22,1,", "0,0,1,", "p\x03", "\x02" "extra\x03"})
            rig.usb->reports.enqueue(report);
        QCOMPARE(exchange(rig.s(), "22,"), QByteArray("\x02" "22,1,0,0,1,p\x03"));
        QCOMPARE(rig.usb->reports.size(), 1);   // nothing read past the ETX
    }

    // The bridge keeps a reply nobody read (CANCEL's "$"): the next command skips it by
    // its echo instead of taking it, and a checksum that is off is reported, not enforced.
    void usbSkipsAnUnreadReply()
    {
        Rig rig;
        QVERIFY(rig.attachUsb());
        const QByteArray stale = unitFrame("10,$,", true), status = unitFrame("22,0,0,0,1,", true);
        rig.usb->reports << stale << status;
        QCOMPARE(exchange(rig.s(), "22,"), status);
        QCOMPARE(rig.s().EchoMismatches, 1);
        QVERIFY2(rig.win->extras().txt_LASTERROR->text().contains("10"), qPrintable(rig.win->extras().txt_LASTERROR->text()));
        QCOMPARE(rig.s().ChecksumMismatches, 0);

        QByteArray badSum = unitFrame("23,SW 8,", true);
        badSum[badSum.size() - 2] = '!';
        rig.usb->reports << badSum;
        QCOMPARE(exchange(rig.s(), "23,"), badSum);
        QCOMPARE(rig.s().ChecksumMismatches, 1);
        QVERIFY(rig.win->extras().txt_LASTERROR->text().contains("checksum"));
    }

    // The wait ends on the clock alone; the handler treats what came as a reply.
    void partialReplyIsASuccess_data()
    {
        QTest::addColumn<bool>("serial");
        QTest::newRow("pty") << true;
        QTest::newRow("tcp") << false;
    }
    void partialReplyIsASuccess()
    {
        QFETCH(bool, serial);
        Rig rig;
        QVERIFY(serial ? rig.attachSerial() : rig.attachTcp());
        rig.sim.setFaults({.noEtx = true});
        QElapsedTimer clock;
        clock.start();
        rig.win->info().btn_SWREV_Click();
        QVERIFY(clock.elapsed() >= Session::kSerialTcpTimeoutMs);
        QByteArray partial = unitFrame("23,SW 8.0.1234,", serial);
        partial.chop(1);
        QCOMPARE(rig.panel(3), QStringLiteral("RX: ") + renderFrame(partial));
        QCOMPARE(rig.win->info().txt_SWREV->text(), QStringLiteral("SW 8.0.1234"));
        QCOMPARE(rig.s().CommErrors, 0);
    }

    void silentUnit_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<int>("boundMs");   // far above the time-out, far below the next one up
        QTest::newRow("pty") << "pty" << Session::kSerialTcpTimeoutMs << 5000;
        QTest::newRow("tcp") << "tcp" << Session::kSerialTcpTimeoutMs << 5000;
        QTest::newRow("usb") << "usb" << Session::kUsbTimeoutMs << 600;
    }
    void silentUnit()
    {
        QFETCH(QString, link);
        QFETCH(int, timeoutMs);
        QFETCH(int, boundMs);
        Rig rig;
        QVERIFY(attach(rig, link));
        rig.sim.setFaults({.silent = true});
        QElapsedTimer clock;
        clock.start();
        rig.win->info().PollTotalHours();
        const qint64 took = clock.elapsed();
        QVERIFY2(took >= timeoutMs && took < boundMs, qPrintable(QString::number(took)));
        QCOMPARE(rig.panel(3), QStringLiteral("RX: "));
        QCOMPARE(rig.s().CommErrors, 1);
        QCOMPARE(rig.win->extras().txt_COMMERRORS->text(), QStringLiteral("1"));
    }

    void watchdogArmedBySerialWaitOnly_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<bool>("armed");
        QTest::newRow("pty arms it") << "pty" << true;
        QTest::newRow("tcp leaves it off") << "tcp" << false;
        QTest::newRow("usb leaves it off") << "usb" << false;
    }
    void watchdogArmedBySerialWaitOnly()
    {
        QFETCH(QString, link);
        QFETCH(bool, armed);
        Rig rig;
        QVERIFY(attach(rig, link));
        auto *wdt = find<QTimer>(rig.win.get(), "tmr_COMMWDT");
        QVERIFY(wdt && !wdt->isActive());
        rig.usb->reports.enqueue("\x02" "23,x,\x03");
        exchange(rig.s(), "23,");
        QCOMPARE(wdt->isActive(), armed);
    }

    // Frames the unit sends on its own, decoded into the three status indicators.
    void unsolicitedFrame_data()
    {
        QTest::addColumn<bool>("serial");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QByteArray>("shown");   // panel 3, without prefix
        QTest::addColumn<bool>("hvBefore");
        QTest::addColumn<bool>("hvAfter");       // lamp and switch alike
        QTest::addColumn<bool>("hvLabelRed");
        QTest::addColumn<QString>("interlock");
        QTest::addColumn<QString>("fault");
        const QByteArray on = unitFrame("22,1,1,1,0,", true);
        QTest::newRow("pty: stray byte before the STX is dropped")
            << true << QByteArray("x" + on) << on << false << true << false << "Interlock Open" << "P.S. FAULT";
        const QByteArray off = unitFrame("22,0,0,0,1,", true);
        QTest::newRow("pty: hv 0 leaves hv on as it was")
            << true << off << off << true << true << false << "Interlock Closed" << "NO P.S. FAULT";
        QTest::newRow("pty: hv 0 leaves hv off as it was")
            << true << off << off << false << false << false << "Interlock Closed" << "NO P.S. FAULT";
        const QByteArray mixed = unitFrame("22,1,0,1,0,", false);
        QTest::newRow("tcp: hv 1 also turns the label red")
            << false << mixed << mixed << false << true << true << "Interlock Closed" << "P.S. FAULT";
        const QByteArray junk = unitFrame("22,x,?,2,1,", false);
        QTest::newRow("tcp: other characters change nothing")
            << false << junk << junk << false << false << false << "INTERLOCK" << "NO PS  FAULT";
    }
    void unsolicitedFrame()
    {
        QFETCH(bool, serial);
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, shown);
        QFETCH(bool, hvBefore);
        QFETCH(bool, hvAfter);
        QFETCH(bool, hvLabelRed);
        QFETCH(QString, interlock);
        QFETCH(QString, fault);
        Rig rig;
        QVERIFY(serial ? rig.attachSerial() : rig.attachTcp());
        StatusPanel &st = rig.win->status();
        LampButton *hvSwitch = rig.win->controls().btn_HVONOFF;
        st.led_HVSTAT->setValue(hvBefore);
        hvSwitch->setValue(hvBefore);

        rig.sim.sendRaw(sent);
        QTRY_COMPARE_WITH_TIMEOUT(rig.panel(3), renderFrame(shown), 5000);
        QCOMPARE(st.led_HVSTAT->value(), hvAfter);
        QCOMPARE(hvSwitch->value(), hvAfter);
        QCOMPARE(textColor(st.lbl_HVSTAT) == QColor(255, 0, 0), hvLabelRed);
        QCOMPARE(st.lbl_INTRLKSTAT->text(), interlock);
        QCOMPARE(st.lbl_FAULT->text(), fault);
        if (interlock == "Interlock Open")
            QCOMPARE(textColor(st.lbl_INTRLKSTAT), QColor(255, 0, 0));
    }

    // On Ethernet a frame is never assembled across reads: the piece without an ETX is
    // dropped, and the piece with it is decoded from its own position 5.
    void tcpFrameInTwoReadsIsLost()
    {
        Rig rig;
        QVERIFY(rig.attachTcp());
        QTcpSocket &sock = rig.s().tcp().socket();
        QSignalSpy arrived(&sock, &QIODevice::readyRead);
        const QByteArray first = "\x02" "22,1,1", second = ",1,0,\x03";
        rig.sim.sendRaw(first);
        QVERIFY(arrived.wait(5000));
        QTRY_COMPARE_WITH_TIMEOUT(sock.bytesAvailable(), qint64(0), 5000);
        rig.sim.sendRaw(second);
        QTRY_COMPARE_WITH_TIMEOUT(rig.panel(3), renderFrame(second), 5000);
        StatusPanel &st = rig.win->status();
        QVERIFY(!st.led_HVSTAT->value());
        QCOMPARE(st.lbl_HVSTAT->text(), QStringLiteral("HV OFF"));
        QCOMPARE(st.lbl_INTRLKSTAT->text(), QStringLiteral("INTERLOCK"));
    }

    // A reply to another command that comes after its wait ended is shown, never read
    // as status: "21,1010," by position would light HV ON and open the interlock.
    void lateReplyIsShownNotDecoded_data()
    {
        QTest::addColumn<bool>("serial");
        QTest::newRow("pty") << true;
        QTest::newRow("tcp") << false;
    }
    void lateReplyIsShownNotDecoded()
    {
        QFETCH(bool, serial);
        Rig rig;
        QVERIFY(serial ? rig.attachSerial() : rig.attachTcp());
        rig.sim.setHours(1010);   // "21,1010,": '1' at positions 5 and 7
        rig.sim.setFaults({.replyDelayMs = 2000});
        QVERIFY(exchange(rig.s(), "21,").isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(rig.panel(3), renderFrame(unitFrame("21,1010,", serial)), 5000);
        StatusPanel &st = rig.win->status();
        QVERIFY(!st.led_HVSTAT->value());
        QVERIFY(!rig.win->controls().btn_HVONOFF->value());
        QCOMPARE(st.lbl_INTRLKSTAT->text(), QStringLiteral("INTERLOCK"));
    }
};

QTEST_MAIN(TstTransaction)
#include "tst_transaction.moc"
