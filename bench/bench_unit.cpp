// bench_unit: the simulated unit in its own process, so none of its CPU time lands in
// the console's figures. It takes one command per line on stdin and answers on stdout;
// nothing is printed while a figure is being taken, except the end of a paced run.
//
//   silent 0|1            stop / resume answering
//   etx-clear, etx-dump   the CLOCK_MONOTONIC stamps (ns) of every reply's ETX write
//   rx-clear, rx-dump     the stamps of every command frame's arrival (the read that
//                         brought its ETX), each as NS:CC with CC the command's two digits
//   flood BYTES           the unit's junk flood, then one status frame as an end marker
//   paced FRAMES RATE     unsolicited status frames paced at RATE bytes per second
//   burst FRAMES          unsolicited status frames back to back
//   quit
#include "bench/benchutil.h"
#include "sim/simunit.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QPointer>
#include <QTimer>

#include <cstdio>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

void say(const QByteArray &line)
{
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Serial status frame: STX, "22," and four flags, checksum, ETX.
quint64 ackedBytes(qintptr fd)
{
    tcp_info info{};
    socklen_t len = sizeof info;
    if (::getsockopt(int(fd), IPPROTO_TCP, TCP_INFO, &info, &len) != 0)
        return 0;
    return info.tcpi_bytes_acked;
}

qint64 serialStatusFrameBytes() { return QByteArray("22,0,0,0,0,").size() + 3; }

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    SimUnit unit;
    if (args.contains(QStringLiteral("--tcp"))) {
        if (!unit.listenTcp(0)) {
            std::fprintf(stderr, "bench_unit: %s\n", qPrintable(unit.errorString()));
            return 1;
        }
        say("tcp " + QByteArray::number(unit.tcpPort()));
    }
    if (args.contains(QStringLiteral("--pty"))) {
        if (!unit.openPty()) {
            std::fprintf(stderr, "bench_unit: %s\n", qPrintable(unit.errorString()));
            return 1;
        }
        say("pty " + unit.ptyPath().toLocal8Bit());
    }

    std::vector<qint64> etx;
    etx.reserve(1 << 16);
    QObject::connect(&unit, &SimUnit::replyEtxWritten, &unit, [&etx](qint64 ns) { etx.push_back(ns); });
    struct Arrival {
        qint64 ns;
        char cmd[2];
    };
    std::vector<Arrival> rx;
    rx.reserve(1 << 16);
    QObject::connect(&unit, &SimUnit::commandEtxRead, &unit, [&rx](qint64 ns, const QByteArray &frame) {
        rx.push_back({ns, {frame.size() > 0 ? frame[0] : '?', frame.size() > 1 ? frame[1] : '?'}});
    });

    // Paced writer: a 1 ms tick sends every frame owed by now, so the average rate is
    // the line rate and no frame is more than a tick early or late.
    QTimer pacer;
    pacer.setTimerType(Qt::PreciseTimer);
    pacer.setInterval(1);
    qint64 paceTotal = 0, paceSent = 0, paceStart = 0;
    double paceRate = 0;
    QObject::connect(&pacer, &QTimer::timeout, &unit, [&] {
        const double elapsed = double(bench::nowNs() - paceStart) / 1e9;
        const qint64 due = std::min(paceTotal, qint64(elapsed * paceRate / double(serialStatusFrameBytes())) + 1);
        while (paceSent < due) {
            unit.sendUnsolicitedStatus();
            ++paceSent;
        }
        if (paceSent >= paceTotal) {
            pacer.stop();
            say("paced-done " + QByteArray::number(paceSent) + ' '
                + QByteArray::number(double(bench::nowNs() - paceStart) / 1e9, 'f', 3));
        }
    });

    // The flood is over for the console once its kernel has acknowledged every byte; a
    // status frame sent then queues behind the flood and marks its end.
    qint64 floodTarget = 0;
    quint64 floodBase = 0;
    QPointer<QTcpSocket> floodSocket;
    QTimer floodPoll;
    floodPoll.setInterval(10);
    QObject::connect(&floodPoll, &QTimer::timeout, &unit, [&] {
        if (!floodSocket) {
            floodPoll.stop();
            return;
        }
        if (ackedBytes(floodSocket->socketDescriptor()) - floodBase >= quint64(floodTarget)) {
            floodPoll.stop();
            unit.sendUnsolicitedStatus();
        }
    });

    auto command = [&](const QByteArray &line) {
        const QList<QByteArray> w = line.simplified().split(' ');
        const QByteArray &cmd = w.value(0);
        if (cmd == "quit") {
            QCoreApplication::quit();
        } else if (cmd == "silent") {
            SimUnit::Faults f = unit.faults();
            f.silent = w.value(1) == "1";
            unit.setFaults(f);
            say("ok");
        } else if (cmd == "etx-clear") {
            etx.clear();
            say("ok");
        } else if (cmd == "etx-dump") {
            QByteArray out = "etx " + QByteArray::number(qsizetype(etx.size()));
            for (qint64 t : etx)
                out += ' ' + QByteArray::number(t);
            say(out);
        } else if (cmd == "rx-clear") {
            rx.clear();
            say("ok");
        } else if (cmd == "rx-dump") {
            QByteArray out = "rx " + QByteArray::number(qsizetype(rx.size()));
            for (const Arrival &a : rx)
                out += ' ' + QByteArray::number(a.ns) + ':' + QByteArray(a.cmd, 2);
            say(out);
        } else if (cmd == "flood") {
            floodTarget = w.value(1).toLongLong();
            floodSocket = nullptr;
            for (QTcpSocket *sock : unit.findChildren<QTcpSocket *>())
                if (sock->state() == QAbstractSocket::ConnectedState)
                    floodSocket = sock;
            if (!floodSocket) {
                say("error no TCP client");
                return;
            }
            floodBase = ackedBytes(floodSocket->socketDescriptor());
            unit.flood(floodTarget);
            floodPoll.start();
            say("ok");
        } else if (cmd == "paced") {
            paceTotal = w.value(1).toLongLong();
            paceRate = w.value(2).toDouble();
            paceSent = 0;
            paceStart = bench::nowNs();
            pacer.start();
            say("ok");
        } else if (cmd == "burst") {
            const qint64 n = w.value(1).toLongLong();
            for (qint64 i = 0; i < n; ++i)
                unit.sendUnsolicitedStatus();
            say("burst-done " + QByteArray::number(n));
        } else {
            say("error unknown command");
        }
    };

    QSocketNotifier in(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&in, &QSocketNotifier::activated, &unit, [&] {
        char buf[4096];
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n <= 0) {   // the benchmark went away
            QCoreApplication::quit();
            return;
        }
        pending.append(buf, n);
        qsizetype nl;
        while ((nl = pending.indexOf('\n')) >= 0) {
            const QByteArray line = pending.left(nl);
            pending.remove(0, nl + 1);
            command(line);
        }
    });
    say("ready");
    return app.exec();
}
