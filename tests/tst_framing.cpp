// Command frames: the checksum character, the link-mode choice, what reaches the unit
// on each link, the TX panel, and the serial input discarded before each send.
#include "testsupport.h"

#include "protocol/framing.h"

#include <QSignalSpy>
#include <QTest>

using namespace plv;
using namespace plv::test;

namespace {

QByteArray hex(const char *spaced) { return QByteArray::fromHex(QByteArray(spaced).replace(' ', "")); }

// The Ethernet form of a serial frame: the same without its checksum character.
QByteArray withoutChecksum(const QByteArray &serialFrame)
{
    QByteArray f = serialFrame;
    f.remove(f.size() - 2, 1);
    return f;
}

} // namespace

class TstFraming : public QObject {
    Q_OBJECT
private slots:
    void framesByLinkMode_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QByteArray>("serialFrame");
        QTest::newRow("status request") << QByteArray("22,") << hex("02 32 32 2C 70 03");
        QTest::newRow("software revision") << QByteArray("23,") << hex("02 32 33 2C 6F 03");
        QTest::newRow("channel A to zero") << QByteArray("10,0,") << hex("02 31 30 2C 30 2C 57 03");
        QTest::newRow("remote on") << QByteArray("99,1,") << hex("02 39 39 2C 31 2C 45 03");
        QTest::newRow("fault flags") << QByteArray("68,") << hex("02 36 38 2C 66 03");
        QTest::newRow("empty payload sums to zero") << QByteArray() << hex("02 40 03");
        QTest::newRow("sum a multiple of 64 gives 0x40") << QByteArray("99,6,") << hex("02 39 39 2C 36 2C 40 03");
        // 256 - 257 is negative: the mask must work on its two's complement (a % would give 0xFF).
        QTest::newRow("sum one past a multiple of 64 gives 0x7F") << QByteArray("99,7,")
                                                                  << hex("02 39 39 2C 37 2C 7F 03");
    }
    void framesByLinkMode()
    {
        QFETCH(QByteArray, payload);
        QFETCH(QByteArray, serialFrame);
        Rig rig;
        // Only the exact text "ethernet" drops the checksum; anything else is serial.
        const QList<std::pair<QString, bool>> modes = {
            {QString(), true}, {"comm1", true}, {"comm2", true}, {"USB", true}, {"Ethernet", true}, {"ethernet", false}};
        for (const auto &[mode, checksum] : modes) {
            rig.s().CommMode = mode;
            const QByteArray expected = checksum ? serialFrame : withoutChecksum(serialFrame);
            QVERIFY2(rig.s().ProcessOutputString(payload) == expected, qPrintable("mode '" + mode + "'"));
        }
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
        QVERIFY(link == "pty" ? rig.attachSerial() : link == "tcp" ? rig.attachTcp() : rig.attachUsb());
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
        rig.s().CommMode = mode;
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

QTEST_MAIN(TstFraming)
#include "tst_framing.moc"
