// The reply wait on each link, the frames that reach the unit, and the receive timers
// that pick up frames arriving outside a transaction. When a wait ends is asserted on
// scripted links in virtual time; a few cases run end to end over the real links.
#include "testsupport.h"

#include "panels/dialogs.h"
#include "widgets/widgets.h"
#include "protocol/framing.h"
#include "panels/controlspanel.h"
#include "panels/statuspanel.h"
#include "panels/infopanel.h"
#include "panels/setpointeditor.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
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

QByteArray hex(const char *spaced) { return QByteArray::fromHex(QByteArray(spaced).replace(' ', "")); }

using Answer = ScriptedLink::Answer;

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
    // The reply arrives 5 ms after the command, in one read with what follows it.
    void completeReply()
    {
        QFETCH(bool, serial);
        QFETCH(QByteArray, after);
        QFETCH(QByteArray, tail);
        QFETCH(QByteArray, msComm);
        ScriptedRig rig(serial);
        const QByteArray frame = unitFrame("23,SW 8.0.1234,", serial);
        rig.link->answers << Answer{{5, frame + after}};
        const QByteArray reply = exchange(rig.s(), "23,");
        // The ETX ends the wait, wherever it stands in the read.
        QCOMPARE(rig.clock->nowMs(), 5);
        QCOMPARE(reply, frame + tail);
        QCOMPARE(rig.panel(3), QStringLiteral("RX: ") + renderFrame(reply));
        // Only the serial wait writes the buffer box (and so loads the window).
        QCOMPARE(rig.win->extrasLoaded(), serial);
        if (serial)
            QCOMPARE(rig.win->extras().txt_MSCOMMBUFF->text(), renderFrame(msComm));
    }

    void completeReplyEndToEnd_data()
    {
        QTest::addColumn<bool>("serial");
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<QByteArray>("tail");
        QTest::addColumn<QByteArray>("msComm");
        QTest::newRow("pty: one character past the ETX, the next to the buffer box")
            << true << QByteArray("AB") << QByteArray("A") << QByteArray("B");
        QTest::newRow("tcp: the whole read that brought the ETX") << false << QByteArray("AB") << QByteArray("AB")
                                                                 << QByteArray();
    }
    void completeReplyEndToEnd()
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
        QCOMPARE(rig.s().EchoMismatches(), 1);
        QVERIFY2(rig.win->extras().txt_LASTERROR->text().contains("10"), qPrintable(rig.win->extras().txt_LASTERROR->text()));
        QCOMPARE(rig.s().ChecksumMismatches(), 0);

        QByteArray badSum = unitFrame("23,SW 8,", true);
        badSum[badSum.size() - 2] = '!';
        rig.usb->reports << badSum;
        QCOMPARE(exchange(rig.s(), "23,"), badSum);
        QCOMPARE(rig.s().ChecksumMismatches(), 1);
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
        ScriptedRig rig(serial);
        QByteArray partial = unitFrame("23,SW 8.0.1234,", serial);
        partial.chop(1);
        rig.link->answers << Answer{{5, partial}};
        rig.win->info().btn_SWREV_Click();
        QCOMPARE(rig.clock->nowMs(), kWaitGivesUpAtMs);
        QCOMPARE(rig.panel(3), QStringLiteral("RX: ") + renderFrame(partial));
        QCOMPARE(rig.win->info().txt_SWREV->text(), QStringLiteral("SW 8.0.1234"));
        QCOMPARE(rig.s().CommErrors(), 0);
    }

    // Wherever the reply is cut, the wait puts it together and ends with its last piece.
    void replySplitAnywhere_data()
    {
        QTest::addColumn<bool>("serial");
        QTest::addColumn<int>("at");
        for (bool serial : {true, false}) {
            const int size = int(unitFrame("21,1234,", serial).size());
            for (int at = 1; at < size; ++at)
                QTest::addRow("%s: split after byte %d", serial ? "pty" : "tcp", at) << serial << at;
        }
    }
    void replySplitAnywhere()
    {
        QFETCH(bool, serial);
        QFETCH(int, at);
        ScriptedRig rig(serial);
        const QByteArray frame = unitFrame("21,1234,", serial);
        rig.link->answers << Answer{{10, frame.left(at)}, {20, frame.mid(at)}};
        QCOMPARE(exchange(rig.s(), "21,"), frame);
        QCOMPARE(rig.clock->nowMs(), 20);
        QCOMPARE(rig.s().EchoMismatches(), 0);
    }

    // A frame that does not echo the command is set aside; the wait goes on for the
    // reply until its first deadline, which the stray frame does not move.
    void replyAfterAStrayFrame_data()
    {
        QTest::addColumn<bool>("serial");
        QTest::addColumn<qint64>("strayAt");
        QTest::addColumn<qint64>("replyAt");   // -1: never
        QTest::addColumn<bool>("answered");
        QTest::addColumn<qint64>("returnsAt");
        for (bool serial : {true, false}) {
            const char *l = serial ? "pty" : "tcp";
            QTest::addRow("%s: the real reply after another command's", l) << serial << 100LL << 200LL << true << 200LL;
            QTest::addRow("%s: both in one read", l) << serial << 100LL << 100LL << true << 100LL;
            QTest::addRow("%s: only the stray frame: the wait runs to its deadline", l)
                << serial << 500LL << -1LL << false << kWaitGivesUpAtMs;
            QTest::addRow("%s: the real reply at the deadline after a stray frame", l)
                << serial << 500LL << 1000LL << true << 1000LL;
            QTest::addRow("%s: the real reply past the deadline after a stray frame", l)
                << serial << 500LL << 1001LL << false << kWaitGivesUpAtMs;
            QTest::addRow("%s: a stray frame at the time-out does not end the wait early", l)
                << serial << 1000LL << -1LL << false << kWaitGivesUpAtMs;
        }
    }
    void replyAfterAStrayFrame()
    {
        QFETCH(bool, serial);
        QFETCH(qint64, strayAt);
        QFETCH(qint64, replyAt);
        QFETCH(bool, answered);
        QFETCH(qint64, returnsAt);
        ScriptedRig rig(serial);
        const QByteArray stray = unitFrame("22,0,1,0,0,", serial), frame = unitFrame("21,1234,", serial);
        Answer answer{{strayAt, stray}};
        if (replyAt == strayAt)
            answer = {{strayAt, stray + frame}};   // one read
        else if (replyAt >= 0)
            answer << ScriptedLink::Step{replyAt, frame};
        rig.link->answers << answer;
        QCOMPARE(exchange(rig.s(), "21,"), answered ? frame : QByteArray());
        QCOMPARE(rig.clock->nowMs(), returnsAt);
        QCOMPARE(rig.s().EchoMismatches(), 1);
        QVERIFY2(rig.win->extras().txt_LASTERROR->text().contains("22"),
                 qPrintable(rig.win->extras().txt_LASTERROR->text()));
        // The stray frame was the unit's status: it is shown as such.
        QCOMPARE(rig.win->status().lbl_INTRLKSTAT->text(), QStringLiteral("Interlock Open"));
    }

    // Text without an ETX is kept up to the limit, however many reads bring it, and the
    // wait still ends on its clock.
    void replyIsBounded_data()
    {
        QTest::addColumn<bool>("serial");
        QTest::addColumn<int>("pieces");
        QTest::newRow("pty: in one read") << true << 1;
        QTest::newRow("pty: in ten reads") << true << 10;
        QTest::newRow("tcp: in one read") << false << 1;
        QTest::newRow("tcp: in ten reads") << false << 10;
    }
    void replyIsBounded()
    {
        QFETCH(bool, serial);
        QFETCH(int, pieces);
        ScriptedRig rig(serial);
        QByteArray junk;
        for (int i = 0; junk.size() < 3 * Session::kReplyLimit; ++i)
            junk += QByteArray::number(i) + ' ';
        Answer answer;
        const qsizetype piece = junk.size() / pieces + 1;
        for (int i = 0; i < pieces; ++i)
            answer << ScriptedLink::Step{10 * i, junk.mid(i * piece, piece)};
        rig.link->answers << answer;
        QCOMPARE(exchange(rig.s(), "21,"), junk.left(Session::kReplyLimit));
        QCOMPARE(rig.clock->nowMs(), kWaitGivesUpAtMs);
    }

    void silentUnitScripted_data()
    {
        QTest::addColumn<bool>("serial");
        QTest::newRow("pty") << true;
        QTest::newRow("tcp") << false;
    }
    void silentUnitScripted()
    {
        QFETCH(bool, serial);
        ScriptedRig rig(serial);
        rig.win->info().PollTotalHours();
        QCOMPARE(rig.clock->nowMs(), kWaitGivesUpAtMs);
        QCOMPARE(rig.link->payloads(), QList<QByteArray>{"21,"});
        QCOMPARE(rig.panel(3), QStringLiteral("RX: "));
        QCOMPARE(rig.s().CommErrors(), 1);
        QCOMPARE(rig.win->extras().txt_COMMERRORS->text(), QStringLiteral("1"));
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
        QCOMPARE(rig.s().CommErrors(), 1);
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

    // A status frame the unit sends on its own reaches the lamps wherever it lands: split
    // over reads, behind a reply, in input dropped before a command or after a reply,
    // and after the commands whose answer nobody waits for.
    void statusFrameIsNeverLost_data()
    {
        QTest::addColumn<bool>("serial");
        QTest::addColumn<QString>("when");
        QTest::newRow("tcp: split over two reads") << false << "split";
        QTest::newRow("tcp: in the read that brings a reply") << false << "behindReply";
        QTest::newRow("pty: right behind a reply") << true << "behindReply";
        QTest::newRow("tcp: begun in the read that brings a reply") << false << "begunBehindReply";
        QTest::newRow("tcp: waiting when a command goes out") << false << "beforeCommand";
        QTest::newRow("pty: waiting when a command goes out") << true << "beforeCommand";
        QTest::newRow("tcp: after CANCEL") << false << "cancel";
        QTest::newRow("pty: after CANCEL") << true << "cancel";
        QTest::newRow("tcp: after TRY OUT") << false << "tryOut";
        QTest::newRow("tcp: after PROGRAM") << false << "program";
        QTest::newRow("tcp: after the unit baud rate is saved") << false << "baud";
    }
    void statusFrameIsNeverLost()
    {
        QFETCH(bool, serial);
        QFETCH(QString, when);
        ScriptedRig rig(serial);
        Session &s = rig.s();
        const QByteArray status = unitFrame("22,0,1,1,0,", serial), reply = unitFrame("23,SW 8,", serial);
        const QByteArray ack = unitFrame("10,$,", serial);
        auto arrive = [&](const QByteArray &bytes) {
            rig.link->arriveAt(rig.clock->nowMs() + 5, bytes);
            rig.advanceTo(rig.clock->nowMs() + 10);
        };
        SetpointEditor &ed = rig.win->editor();
        if (when == "split") {
            arrive(status.left(5));
            arrive(status.mid(5));
        } else if (when == "behindReply") {
            rig.link->answers << Answer{{5, reply + status}};
            QCOMPARE(exchange(s, "23,").left(reply.size()), reply);
        } else if (when == "begunBehindReply") {
            rig.link->answers << Answer{{5, reply + status.left(5)}};
            QCOMPARE(exchange(s, "23,").left(reply.size()), reply);
            arrive(status.mid(5));
        } else if (when == "beforeCommand") {
            s.pause();
            arrive(status);
            rig.link->answers << Answer{{5, reply}};
            QCOMPARE(exchange(s, "23,"), reply);
        } else {
            rig.link->respond = [&](const QByteArray &) { return Answer{{1, ack}}; };
            if (when == "cancel") {
                ed.btn_CANCEL->click();
            } else if (when == "tryOut") {
                ed.btn_UPDATE->click();
            } else if (when == "program") {
                ed.btn_ACCEPT->click();
            } else {
                rig.prompt.dialogs.enqueue([](QDialog &d) {
                    static_cast<UnitBaudRateDialog &>(d).save->click();
                    return d.result();
                });
                rig.trigger("mnu_BaudRate");
            }
            arrive(ack);   // a late answer is picked up as well
            arrive(status);
        }
        rig.advanceTo(rig.clock->nowMs() + 1);
        StatusPanel &st = rig.win->status();
        QCOMPARE(st.lbl_INTRLKSTAT->text(), QStringLiteral("Interlock Open"));
        QCOMPARE(st.lbl_FAULT->text(), QStringLiteral("P.S. FAULT"));
    }

    // A command sent during another's wait (the exit sequence's) leaves that wait
    // expecting its own reply: the other's acknowledgement is set aside.
    void aSendDuringAWaitKeepsItsReply()
    {
        ScriptedRig rig(false);
        const QByteArray reply = unitFrame("23,SW 8,", false);
        rig.link->answers << Answer{{50, reply}} << Answer{{5, unitFrame("10,$,", false)}};
        QSignalSpy exchanged(&rig.s(), &Session::exchanged);
        rig.clock->at(10, [&] { rig.s().outputOutputString("10,0,"); });
        QCOMPARE(exchange(rig.s(), "23,"), reply);
        QCOMPARE(exchanged.first().first().toByteArray(), QByteArray("23"));
        QCOMPARE(rig.s().EchoMismatches(), 1);
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
        ScriptedRig rig(serial);
        // "21,1010,": '1' at positions 5 and 7
        const QByteArray late = unitFrame("21,1010,", serial);
        rig.link->answers << Answer{{2000, late}};
        QVERIFY(exchange(rig.s(), "21,").isEmpty());
        QCOMPARE(rig.clock->nowMs(), kWaitGivesUpAtMs);
        rig.advanceTo(2000);
        QCOMPARE(rig.panel(3), renderFrame(late));
        StatusPanel &st = rig.win->status();
        QVERIFY(!st.led_HVSTAT->value());
        QVERIFY(!rig.win->controls().btn_HVONOFF->value());
        QCOMPARE(st.lbl_INTRLKSTAT->text(), QStringLiteral("INTERLOCK"));
    }

    // Only the exact text "ethernet" drops the checksum; anything else is serial.
    void framingFollowsTheLinkMode_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("checksum");
        QTest::newRow("no link chosen yet: serial") << QString() << true;
        QTest::newRow("comm1: serial") << "comm1" << true;
        QTest::newRow("comm2: serial") << "comm2" << true;
        QTest::newRow("USB: with checksum") << "USB" << true;
        QTest::newRow("Ethernet capitalised: serial") << "Ethernet" << true;
        QTest::newRow("ethernet: without checksum") << "ethernet" << false;
    }
    void framingFollowsTheLinkMode()
    {
        QFETCH(QString, mode);
        QFETCH(bool, checksum);
        QObject window;
        Session s(&window);
        s.setCommMode(mode);
        for (const QByteArray &payload : {QByteArray("22,"), QByteArray("99,7,"), QByteArray()})
            QCOMPARE(s.ProcessOutputString(payload), frameCommand(payload, checksum));
    }

    // What the unit itself receives: the simulated unit checks the checksum on serial
    // and would see a stray checksum character as part of the payload on TCP.
    void unitReceivesTheFrame_data()
    {
        QTest::addColumn<QString>("link");
        QTest::newRow("pty with checksum") << "pty";
        QTest::newRow("tcp without checksum") << "tcp";
        QTest::newRow("usb report with checksum") << "usb";
    }
    void unitReceivesTheFrame()
    {
        QFETCH(QString, link);
        Rig rig;
        QVERIFY(attach(rig, link));
        const QList<QByteArray> payloads = {"10,0,", "99,1,", "22,"};
        for (const QByteArray &p : payloads)
            rig.s().outputOutputString(p);
        if (link == "usb") {
            QCOMPARE(rig.usb->written, (QList<QByteArray>{hex("02 31 30 2C 30 2C 57 03"), hex("02 39 39 2C 31 2C 45 03"),
                                                          hex("02 32 32 2C 70 03")}));
            return;
        }
        QVERIFY(rig.waitForCommands(3));
        QCOMPARE(rig.wire(), payloads);
        QCOMPARE(rig.sim.badChecksums(), 0);
    }

    void txPanelShowsFrameEvenWhenSendFails_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("no link chosen yet frames as serial") << QString() << hex("02 32 32 2C 70 03");
        QTest::newRow("serial port closed") << "comm1" << hex("02 32 32 2C 70 03");
        QTest::newRow("tcp not connected") << "ethernet" << hex("02 32 32 2C 03");
        QTest::newRow("usb device not found") << "USB" << hex("02 32 32 2C 70 03");
    }
    void txPanelShowsFrameEvenWhenSendFails()
    {
        QFETCH(QString, mode);
        QFETCH(QByteArray, frame);
        Rig rig;
        rig.s().setCommMode(mode);
        rig.s().outputOutputString("22,");
        QCOMPARE(rig.panel(4), QStringLiteral("TX: ") + renderFrame(frame));
        QVERIFY(rig.usb->written.isEmpty());
        QCOMPARE(rig.sim.trace().size(), 0);
    }

    // Whatever waited in the input before a command cannot be its reply.
    void sendDiscardsWaitingInput_data()
    {
        QTest::addColumn<bool>("serial");
        QTest::newRow("pty") << true;
        QTest::newRow("tcp") << false;
    }
    void sendDiscardsWaitingInput()
    {
        QFETCH(bool, serial);
        Rig rig;
        QVERIFY(serial ? rig.attachSerial() : rig.attachTcp());
        Session &s = rig.s();
        s.pause();   // nothing may pick the stale frame up before the send
        QIODevice &in = serial ? static_cast<QIODevice &>(s.serial().port()) : s.tcp().socket();
        QSignalSpy arrived(&in, &QIODevice::readyRead);
        const QByteArray stale = unitFrame("22,1,1,1,1,", serial);
        rig.sim.sendRaw(stale);
        QVERIFY(arrived.wait(5000));
        QTRY_COMPARE_WITH_TIMEOUT(in.bytesAvailable(), qint64(stale.size()), 5000);

        s.outputOutputString("23,");
        const QByteArray reply = s.WaitForReply();
        s.rearm();
        QCOMPARE(reply, unitFrame("23,SW 8.0.1234,", serial));
    }
};

QTEST_MAIN(TstTransaction)
#include "tst_transaction.moc"
