// The simulated unit, driven over real links exactly as the console drives it.

#include "sim/simunit.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

#include <memory>
#include <time.h>
#include <unistd.h>

namespace {

constexpr char Stx = 0x02;
constexpr char Etx = 0x03;

QByteArray tcpFrame(const QByteArray &payload) { return Stx + payload + Etx; }
QByteArray serialFrame(const QByteArray &payload) { return Stx + payload + SimUnit::checksum(payload) + Etx; }

// Buffers a device and hands out one frame (up to and including ETX) at a time.
struct Reader {
    QIODevice *dev = nullptr;
    QByteArray buf;

    QByteArray next(int timeoutMs = 2000)
    {
        QDeadlineTimer deadline(timeoutMs);
        QSignalSpy spy(dev, &QIODevice::readyRead);
        for (;;) {
            buf += dev->readAll();
            const qsizetype etx = buf.indexOf(Etx);
            if (etx >= 0) {
                const QByteArray f = buf.left(etx + 1);
                buf.remove(0, etx + 1);
                return f;
            }
            if (deadline.hasExpired())
                return {};
            spy.wait(int(deadline.remainingTime()));
        }
    }

    // True when nothing at all arrives within ms.
    bool staysQuiet(int ms)
    {
        if (!buf.isEmpty() || dev->bytesAvailable())
            return false;
        QSignalSpy spy(dev, &QIODevice::readyRead);
        return !spy.wait(ms);
    }
};

// Reply data start at position 5 (1-based, STX is position 1).
QByteArray replyData(const QByteArray &frame, bool serial = false)
{
    return frame.mid(4, frame.size() - 5 - (serial ? 1 : 0));
}

} // namespace

class TestSim : public QObject
{
    Q_OBJECT

    std::unique_ptr<SimUnit> sim;
    std::unique_ptr<QTcpSocket> client;
    Reader tcp;
    std::unique_ptr<QSerialPort> port;
    Reader serial;

    QByteArray ask(const QByteArray &payload)
    {
        client->write(tcpFrame(payload));
        return tcp.next();
    }
    QByteArray askData(const QByteArray &payload) { return replyData(ask(payload)); }

    bool openSerial()
    {
        if (!sim->openPty())
            return false;
        port = std::make_unique<QSerialPort>(sim->ptyPath());
        serial = Reader{port.get(), {}};
        return port->open(QIODevice::ReadWrite);
    }
    QByteArray askSerial(const QByteArray &payload)
    {
        port->write(serialFrame(payload));
        return serial.next();
    }

private slots:
    void init()
    {
        sim = std::make_unique<SimUnit>();
        QVERIFY(sim->listenTcp());
        QVERIFY(sim->tcpPort() != 0);
        client = std::make_unique<QTcpSocket>();
        tcp = Reader{client.get(), {}};
        client->connectToHost(QHostAddress::LocalHost, sim->tcpPort());
        QTRY_COMPARE_WITH_TIMEOUT(client->state(), QAbstractSocket::ConnectedState, 2000);
        QTRY_COMPARE_WITH_TIMEOUT(sim->tcpClientCount(), 1, 2000);
    }

    void cleanup()
    {
        port.reset();
        client.reset();
        sim.reset();
    }

    // ---- checksum

    void checksum_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<int>("expected");
        QTest::newRow("22,") << QByteArray("22,") << 0x70;
        QTest::newRow("23,") << QByteArray("23,") << 0x6F;
        QTest::newRow("10,0,") << QByteArray("10,0,") << 0x57;
        QTest::newRow("99,1,") << QByteArray("99,1,") << 0x45;
        QTest::newRow("68,") << QByteArray("68,") << 0x66;
        QTest::newRow("07,5,") << QByteArray("07,5,") << int('L');
        QTest::newRow("empty") << QByteArray() << 0x40;
        QTest::newRow("sum past 256") << QByteArray("93,PLV01,ABCDEFGH,") << 0x59;  // sum 1127
    }
    void checksum()
    {
        QFETCH(QByteArray, payload);
        QFETCH(int, expected);
        QCOMPARE(int(static_cast<unsigned char>(SimUnit::checksum(payload))), expected);
    }

    // ---- commands (TCP)

    void setpointReadBack_data()
    {
        QTest::addColumn<int>("channel");
        QTest::addColumn<int>("count");
        QTest::newRow("A 2048") << 0 << 2048;
        QTest::newRow("B 0") << 1 << 0;
        QTest::newRow("C 4095") << 2 << 4095;
        QTest::newRow("D 17") << 3 << 17;
    }
    void setpointReadBack()
    {
        QFETCH(int, channel);
        QFETCH(int, count);
        sim->setSetpoint(channel, 1);
        const QByteArray set = QByteArray::number(10 + channel) + ',' + QByteArray::number(count) + ',';
        QCOMPARE(ask(set), tcpFrame(set.left(3) + "$,"));
        QCOMPARE(sim->setpoint(channel), count);
        QCOMPARE(askData(QByteArray::number(14 + channel) + ','), QByteArray::number(count) + ',');
    }

    void refused_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::newRow("count too big") << QByteArray("10,4096,");
        QTest::newRow("negative") << QByteArray("11,-1,");
        QTest::newRow("not a number") << QByteArray("12,abc,");
        QTest::newRow("empty count") << QByteArray("13,,");
        QTest::newRow("no closing comma") << QByteArray("10,5");
        QTest::newRow("extra field") << QByteArray("10,5,6,");
        QTest::newRow("rate code 0") << QByteArray("07,0,");
        QTest::newRow("rate code 6") << QByteArray("07,6,");
        QTest::newRow("filament limit") << QByteArray("95,2048,");
        QTest::newRow("hv 2") << QByteArray("98,2,");
        QTest::newRow("read with field") << QByteArray("22,1,");
        QTest::newRow("unknown") << QByteArray("42,");
    }
    void refused()
    {
        QFETCH(QByteArray, payload);
        for (int ch = 0; ch < 4; ++ch)
            sim->setSetpoint(ch, 100);
        QCOMPARE(ask(payload), tcpFrame(payload.left(2) + ",1,"));
        for (int ch = 0; ch < 4; ++ch)
            QCOMPARE(sim->setpoint(ch), 100);
        QCOMPARE(sim->baudCode(), 1);
        QVERIFY(!sim->hvOn());
    }

    void hvRefusedWhileInterlockOpen()
    {
        sim->setInterlockOpen(true);
        QCOMPARE(askData("98,1,"), QByteArray("1,"));
        QVERIFY(!sim->hvOn());
        QCOMPARE(askData("22,"), QByteArray("0,1,0,0,"));

        sim->setInterlockOpen(false);
        QCOMPARE(askData("98,1,"), QByteArray("$,"));
        QVERIFY(sim->hvOn());
        QCOMPARE(askData("22,"), QByteArray("1,0,0,0,"));

        sim->setInterlockOpen(true);  // trips HV
        QVERIFY(!sim->hvOn());
        QCOMPARE(askData("22,"), QByteArray("0,1,0,0,"));
    }

    void statusFields()
    {
        QCOMPARE(ask("22,"), tcpFrame("22,0,0,0,0,"));
        QCOMPARE(askData("99,1,"), QByteArray("$,"));
        sim->setFault(true);
        QCOMPARE(askData("98,1,"), QByteArray("$,"));
        QCOMPARE(askData("22,"), QByteArray("1,0,1,1,"));
        QCOMPARE(askData("98,0,"), QByteArray("$,"));
        QCOMPARE(askData("99,0,"), QByteArray("$,"));
        QCOMPARE(askData("22,"), QByteArray("0,0,1,0,"));
    }

    void faultFlags()
    {
        QCOMPARE(askData("68,"), QByteArray("0,0,0,0,0,0,"));
        sim->setFault(true);
        sim->setFaultFlag(SimUnit::Arc, true);
        sim->setFaultFlag(SimUnit::UnderCurrent, true);
        QCOMPARE(askData("68,"), QByteArray("1,0,0,0,0,1,"));
        QCOMPARE(askData("31,"), QByteArray("$,"));
        QVERIFY(!sim->fault());
        QCOMPARE(askData("68,"), QByteArray("0,0,0,0,0,0,"));
    }

    void readbacks_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("supply") << QByteArray("20,") << QByteArray("1562,25,3000,");
        QTest::newRow("hours") << QByteArray("21,") << QByteArray("1234,");
        QTest::newRow("software") << QByteArray("23,") << QByteArray("SW 8.0.1234,");
        QTest::newRow("hardware") << QByteArray("24,") << QByteArray("A01,");
        QTest::newRow("web") << QByteArray("25,") << QByteArray("WEB 2.10.07,");
        QTest::newRow("model") << QByteArray("26,") << QByteArray("PLV70,X0600,");
    }
    void readbacks()
    {
        QFETCH(QByteArray, payload);
        QFETCH(QByteArray, data);
        QCOMPARE(askData(payload), data);
    }

    void modelLetterAtPosition11()
    {
        const QByteArray reply = ask("26,");
        QCOMPARE(reply.at(10), 'X');
    }

    void programming()
    {
        QCOMPARE(askData("93,X0450,"), QByteArray("$,"));
        QCOMPARE(sim->modelNumber(), QStringLiteral("X0450"));
        QCOMPARE(askData("26,"), QByteArray("PLV70,X0450,"));
        QCOMPARE(askData("94,B02,"), QByteArray("$,"));
        QCOMPARE(askData("24,"), QByteArray("B02,"));
        QCOMPARE(askData("95,2047,"), QByteArray("$,"));
        QCOMPARE(sim->filamentLimitCode(), 2047);
        QCOMPARE(askData("07,5,"), QByteArray("$,"));
        QCOMPARE(sim->baudCode(), 5);
        QVERIFY(!sim->passthrough());
        QCOMPARE(askData("96,"), QByteArray("$,"));
        QVERIFY(sim->passthrough());
        QCOMPARE(askData("96,"), QByteArray("$,"));
        QVERIFY(!sim->passthrough());
        QCOMPARE(askData("30,"), QByteArray("$,"));
        QCOMPARE(askData("21,"), QByteArray("0,"));
    }

    void monitorsFollowSetpoints()
    {
        QCOMPARE(askData("10,2048,"), QByteArray("$,"));
        QCOMPARE(askData("11,0,"), QByteArray("$,"));
        QCOMPARE(askData("12,4095,"), QByteArray("$,"));
        QCOMPARE(askData("19,"), QByteArray("0,0,0,"));
        QCOMPARE(askData("98,1,"), QByteArray("$,"));
        QSet<QByteArray> seen;
        for (int i = 0; i < 5; ++i) {
            const QByteArray data = askData("19,");
            seen.insert(data);
            const QList<QByteArray> f = data.split(',');
            QCOMPARE(f.size(), 4);
            QVERIFY2(qAbs(f[0].toInt() - 2048) <= 2, data);
            QVERIFY2(f[1].toInt() >= 0 && f[1].toInt() <= 2, data);
            QVERIFY2(f[2].toInt() >= 4093 && f[2].toInt() <= 4095, data);
        }
        QVERIFY(seen.size() > 1);
    }

    void multipleClients()
    {
        QTcpSocket second;
        Reader r{&second, {}};
        second.connectToHost(QHostAddress::LocalHost, sim->tcpPort());
        QTRY_COMPARE_WITH_TIMEOUT(sim->tcpClientCount(), 2, 2000);
        second.write(tcpFrame("10,321,"));
        QCOMPARE(r.next(), tcpFrame("10,$,"));
        QCOMPARE(askData("14,"), QByteArray("321,"));
        QVERIFY(r.staysQuiet(100));
    }

    void framingResynchronises()
    {
        client->write("noise" + QByteArray(1, Stx) + "9" + tcpFrame("22,"));
        QCOMPARE(tcp.next(), tcpFrame("22,0,0,0,0,"));
        QCOMPARE(sim->commandsHandled(), 1);
    }

    void traceAndSignals()
    {
        QSignalSpy received(sim.get(), &SimUnit::commandReceived);
        QSignalSpy etx(sim.get(), &SimUnit::replyEtxWritten);
        timespec before{};
        clock_gettime(CLOCK_MONOTONIC, &before);
        ask("22,");
        ask("10,7,");
        QCOMPARE(received.size(), 2);
        QCOMPARE(received.at(1).at(0).toByteArray(), QByteArray("10,7,"));
        QTRY_COMPARE_WITH_TIMEOUT(etx.size(), 2, 1000);
        QVERIFY(etx.at(0).at(0).toLongLong() >= qint64(before.tv_sec) * 1000000000 + before.tv_nsec);
        QCOMPARE(sim->trace().size(), 2);
        QCOMPARE(sim->trace().at(0).payload, QByteArray("22,"));
        QCOMPARE(sim->trace().at(0).link, SimUnit::Link::Tcp);
        QVERIFY(sim->trace().at(0).checksumOk);
        QVERIFY(sim->trace().at(1).tMs >= sim->trace().at(0).tMs);
        sim->clearTrace();
        QVERIFY(sim->trace().isEmpty());
    }

    // ---- serial link

    void serialRoundTrip()
    {
        QVERIFY(openSerial());
        const QByteArray reply = askSerial("22,");
        QCOMPARE(reply, serialFrame("22,0,0,0,0,"));
        QCOMPARE(askSerial("10,2048,"), serialFrame("10,$,"));
        QCOMPARE(replyData(askSerial("14,"), true), QByteArray("2048,"));
        QCOMPARE(sim->trace().constLast().link, SimUnit::Link::Serial);
    }

    void serialBadChecksumIgnored()
    {
        QVERIFY(openSerial());
        port->write(Stx + QByteArray("22,") + 'A' + Etx);
        QVERIFY(serial.staysQuiet(300));
        QCOMPARE(sim->badChecksums(), 1);
        QCOMPARE(sim->commandsHandled(), 0);
        QVERIFY(!sim->trace().constLast().checksumOk);
        QCOMPARE(sim->trace().constLast().payload, QByteArray("22,"));
        port->write("junk" + QByteArray(1, Stx) + serialFrame("23,"));
        QCOMPARE(serial.next(), serialFrame("23,SW 8.0.1234,"));
    }

    void serialSurvivesReopen()
    {
        QVERIFY(openSerial());
        QCOMPARE(askSerial("22,"), serialFrame("22,0,0,0,0,"));
        port->close();
        QVERIFY(port->open(QIODevice::ReadWrite));
        QCOMPARE(askSerial("99,1,"), serialFrame("99,$,"));
        QVERIFY(sim->remote());
    }

    void ptySymlink()
    {
        const QString link = QStringLiteral("/tmp/tst_sim_link_%1").arg(::getpid());
        QVERIFY(sim->openPty(link));
        QCOMPARE(QFileInfo(link).symLinkTarget(), sim->ptyPath());
        sim.reset();
        QVERIFY(!QFileInfo(link).isSymLink());
    }

    // ---- misbehaviour

    void faultSilent()
    {
        sim->setFaults({.silent = true});
        client->write(tcpFrame("22,"));
        QVERIFY(tcp.staysQuiet(300));
        QCOMPARE(sim->commandsHandled(), 1);
        sim->setFaults({});
        QCOMPARE(ask("22,"), tcpFrame("22,0,0,0,0,"));
    }

    void faultDelay()
    {
        sim->setFaults({.replyDelayMs = 400});
        QElapsedTimer t;
        t.start();
        client->write(tcpFrame("22,"));
        QVERIFY(tcp.staysQuiet(200));
        QCOMPARE(tcp.next(), tcpFrame("22,0,0,0,0,"));
        QVERIFY2(t.elapsed() >= 380, QByteArray::number(t.elapsed()));
    }

    void faultNoEtx()
    {
        sim->setFaults({.noEtx = true});
        client->write(tcpFrame("22,"));
        const QByteArray expected = Stx + QByteArray("22,0,0,0,0,");
        QTRY_COMPARE_WITH_TIMEOUT(client->bytesAvailable(), qint64(expected.size()), 2000);
        QCOMPARE(client->readAll(), expected);
        QVERIFY(tcp.staysQuiet(200));
    }

    void faultJunk_data()
    {
        QTest::addColumn<bool>("overSerial");
        QTest::newRow("tcp") << false;
        QTest::newRow("serial") << true;
    }
    void faultJunk()
    {
        QFETCH(bool, overSerial);
        sim->setFaults({.junkBeforeStx = "xx"});
        if (overSerial) {
            QVERIFY(openSerial());
            QCOMPARE(askSerial("22,"), "xx" + serialFrame("22,0,0,0,0,"));
        } else {
            QCOMPARE(ask("22,"), "xx" + tcpFrame("22,0,0,0,0,"));
        }
    }

    void faultChunks()
    {
        sim->setFaults({.chunkSize = 1, .chunkGapMs = 10});
        QSignalSpy reads(client.get(), &QIODevice::readyRead);
        QElapsedTimer t;
        t.start();
        const QByteArray expected = tcpFrame("22,0,0,0,0,");
        QCOMPARE(ask("22,"), expected);
        QVERIFY2(t.elapsed() >= 10 * (expected.size() - 1) - 5, QByteArray::number(t.elapsed()));
        QVERIFY(reads.size() >= 3);
    }

    void faultChunksSerial()
    {
        QVERIFY(openSerial());
        sim->setFaults({.chunkSize = 4, .chunkGapMs = 20});
        QElapsedTimer t;
        t.start();
        QCOMPARE(askSerial("26,"), serialFrame("26,PLV70,X0600,"));
        QVERIFY(t.elapsed() >= 60);
    }

    void faultRefuse()
    {
        sim->setFaults({.refuseAll = true});
        QCOMPARE(ask("22,"), tcpFrame("22,1,"));
        QCOMPARE(ask("10,5,"), tcpFrame("10,1,"));
        QCOMPARE(sim->setpoint(0), 0);
    }

    void faultDrop()
    {
        sim->setFaults({.dropConnection = true});
        QSignalSpy gone(client.get(), &QTcpSocket::disconnected);
        client->write(tcpFrame("22,"));
        QVERIFY(gone.wait(2000));
        QVERIFY(client->readAll().isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(sim->tcpClientCount(), 0, 2000);

        // A console reconnecting after the fault clears is served normally.
        sim->setFaults({});
        client->connectToHost(QHostAddress::LocalHost, sim->tcpPort());
        QTRY_COMPARE_WITH_TIMEOUT(client->state(), QAbstractSocket::ConnectedState, 2000);
        QCOMPARE(ask("22,"), tcpFrame("22,0,0,0,0,"));
    }

    void faultDropSerialIsMute()
    {
        QVERIFY(openSerial());
        sim->setFaults({.dropConnection = true});
        port->write(serialFrame("22,"));
        QVERIFY(serial.staysQuiet(300));
    }

    void dropConnections()
    {
        QSignalSpy gone(client.get(), &QTcpSocket::disconnected);
        sim->dropConnections();
        QVERIFY(gone.wait(2000));
    }

    void floodKeepsUnitResponsive()
    {
        constexpr qint64 total = 1 << 20;
        qint64 got = 0;
        bool framed = false;
        connect(client.get(), &QIODevice::readyRead, this, [&] {
            const QByteArray b = client->readAll();
            framed |= b.contains(Stx) || b.contains(Etx);
            got += b.size();
        });
        sim->flood(total);
        QTRY_COMPARE_WITH_TIMEOUT(got, total, 10000);
        QVERIFY(!framed);
        client->disconnect(this);
        QCOMPARE(ask("22,"), tcpFrame("22,0,0,0,0,"));
    }

    void floodStopsWhenPeerLeaves()
    {
        sim->flood(qint64(1) << 30);
        QSignalSpy readable(client.get(), &QIODevice::readyRead);
        QVERIFY(readable.wait(2000));
        client->abort();
        QTRY_COMPARE_WITH_TIMEOUT(sim->tcpClientCount(), 0, 5000);
        // Still serving others afterwards.
        client->connectToHost(QHostAddress::LocalHost, sim->tcpPort());
        QTRY_COMPARE_WITH_TIMEOUT(client->state(), QAbstractSocket::ConnectedState, 2000);
        QCOMPARE(ask("22,"), tcpFrame("22,0,0,0,0,"));
    }

    void floodOverSerial()
    {
        QVERIFY(openSerial());
        constexpr qint64 total = 256 * 1024;
        qint64 got = 0;
        connect(port.get(), &QIODevice::readyRead, this, [&] { got += port->readAll().size(); });
        sim->flood(total);
        QTRY_COMPARE_WITH_TIMEOUT(got, total, 10000);
        port->disconnect(this);
        QCOMPARE(askSerial("22,"), serialFrame("22,0,0,0,0,"));
    }

    // ---- unsolicited traffic

    void unsolicitedStatusPeriod()
    {
        QVERIFY(openSerial());
        sim->setInterlockOpen(true);
        sim->setStatusPeriodMs(50);
        QCOMPARE(sim->statusPeriodMs(), 50);
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(tcp.next(), tcpFrame("22,0,1,0,0,"));
            QCOMPARE(serial.next(), serialFrame("22,0,1,0,0,"));
        }
        QVERIFY2(t.elapsed() >= 150, QByteArray::number(t.elapsed()));
        sim->setStatusPeriodMs(0);
        // Drain frames already on their way, then expect silence.
        client->write(tcpFrame("24,"));
        while (tcp.next() == tcpFrame("22,0,1,0,0,")) {}
        QVERIFY(tcp.staysQuiet(200));
    }

    void sendRawReachesEveryLink()
    {
        QVERIFY(openSerial());
        sim->sendRaw(tcpFrame("22,9,"));
        QCOMPARE(tcp.next(), tcpFrame("22,9,"));
        QCOMPARE(serial.next(), tcpFrame("22,9,"));
    }
};

QTEST_GUILESS_MAIN(TestSim)
#include "tst_sim.moc"
