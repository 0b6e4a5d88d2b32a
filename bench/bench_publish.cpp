// N simulated units (in this process) and N plvctl publishers against one mosquitto that
// the benchmark starts on a free loopback port; one subscriber here takes every readbacks
// message. Figures per unit count given on the command line (default 1 5 20):
//  - delay: from the simulated unit's write of the cycle's last reply (CLOCK_MONOTONIC,
//    replyEtxWritten) to the subscriber's receipt of that cycle's readbacks message;
//  - CPU per publisher: user + system time from /proc over the measured span;
//  - RSS per publisher: its resident size at the end;
//  - cycle: each unit's period between its readbacks messages, median and slowest unit;
//  - lost: sequence numbers missing between the first and last received, per publisher.
// With --gateway the N units are served by one plvctl gateway instead of N publishers;
// CPU and RSS are then that process's, divided by N.
// Usage: bench_publish [--seconds S] [--gateway] [N ...]
#include "cli/mqtt.h"
#include "sim/simunit.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <unistd.h>

using plv::cli::MqttClient;
using plv::cli::MqttSettings;

namespace {

qint64 monoNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

double cpuSeconds(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray s = f.readAll();
    const QList<QByteArray> fields = s.mid(s.lastIndexOf(')') + 2).split(' ');
    // Fields 14 and 15 of the line (utime, stime) are 12 and 13 after the name.
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
}

long rssKiB(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return 0;
}

// Serves the event loop for ms. Not QTest::qWait: it sleeps 10 ms between its passes over
// the events, so the simulated units answered and the subscriber read up to 10 ms late.
void serve(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

struct Unit {
    std::unique_ptr<SimUnit> sim;
    qint64 lastReplyNs = 0;
    qint64 firstSeq = -1, lastSeq = -1, received = 0;
    qint64 firstNs = 0, lastNs = 0;   // receipts, for the cycle period
};

std::unique_ptr<QProcess> startPlvctl(const QStringList &args)
{
    auto p = std::make_unique<QProcess>();
    p->setStandardErrorFile(QProcess::nullDevice());
    p->start(QStringLiteral(PLVCTL_PATH), args);
    return p;
}

void runOnce(int n, int seconds, bool gateway)
{
    QTemporaryDir dir;
    const quint16 port = freePort();
    QFile conf(dir.filePath(QStringLiteral("m.conf")));
    conf.open(QIODevice::WriteOnly);
    conf.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\n").arg(port).toUtf8());
    conf.close();
    QProcess broker;
    broker.start(QStringLiteral("mosquitto"), {QStringLiteral("-c"), conf.fileName()});
    (void)QTest::qWaitFor([&] {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, port);
        return s.waitForConnected(200);
    }, 10000);

    std::vector<Unit> units(static_cast<size_t>(n));
    bool measuring = false;
    std::vector<double> delaysMs;

    MqttSettings ms;
    ms.host = QStringLiteral("127.0.0.1");
    ms.port = port;
    MqttClient sub(ms);
    QObject::connect(&sub, &MqttClient::connected, &sub, [&] { sub.subscribe(QStringLiteral("bench/+/readbacks"), 1); });
    QObject::connect(&sub, &MqttClient::message, &sub, [&](const QString &topic, const QByteArray &payload, bool) {
        const qint64 now = monoNs();
        const int i = topic.section(QLatin1Char('/'), 1, 1).toInt();
        if (i < 0 || i >= n || !measuring)
            return;
        Unit &u = units[size_t(i)];
        const qint64 seq = QJsonDocument::fromJson(payload).object().value(QStringLiteral("seq")).toInteger();
        if (u.firstSeq < 0) {
            u.firstSeq = seq;
            u.firstNs = now;
        }
        u.lastNs = now;
        u.lastSeq = seq;
        ++u.received;
        delaysMs.push_back(double(now - u.lastReplyNs) / 1e6);
    });
    sub.start();
    (void)QTest::qWaitFor([&] { return sub.isConnected(); }, 10000);

    const QStringList brokerArgs = {QStringLiteral("--broker"), QStringLiteral("mqtt://127.0.0.1:%1").arg(port)};
    std::vector<std::unique_ptr<QProcess>> procs;
    QStringList gatewayArgs = QStringList{QStringLiteral("gateway")} + brokerArgs;
    for (int i = 0; i < n; ++i) {
        Unit &u = units[size_t(i)];
        u.sim = std::make_unique<SimUnit>();
        u.sim->listenTcp(0);
        QObject::connect(u.sim.get(), &SimUnit::replyEtxWritten, u.sim.get(), [&u](qint64 ns) { u.lastReplyNs = ns; });
        const QString link = QStringLiteral("127.0.0.1:%1").arg(u.sim->tcpPort());
        const QString topic = QStringLiteral("bench/%1").arg(i);
        if (gateway)
            gatewayArgs << QStringLiteral("--unit") << QStringLiteral("tcp:%1=%2").arg(link, topic);
        else
            procs.push_back(startPlvctl(QStringList{QStringLiteral("--tcp"), link, QStringLiteral("publish")} + brokerArgs
                                        + QStringList{QStringLiteral("--topic"), topic}));
    }
    if (gateway)
        procs.push_back(startPlvctl(gatewayArgs));
    serve(3000 + 20 * n);   // start-up queries and connections settle before measuring
    std::vector<double> cpu0;
    for (auto &p : procs)
        cpu0.push_back(cpuSeconds(p->processId()));
    measuring = true;
    QElapsedTimer span;
    span.start();
    serve(seconds * 1000);
    measuring = false;
    const double s = double(span.elapsed()) / 1000;
    double cpu = 0;
    long rss = 0;
    qint64 lost = 0, got = 0;
    for (size_t i = 0; i < procs.size(); ++i) {
        cpu += cpuSeconds(procs[i]->processId()) - cpu0[i];
        rss += rssKiB(procs[i]->processId());
    }
    std::vector<double> periodsMs;
    for (size_t i = 0; i < units.size(); ++i) {
        if (units[i].lastSeq > units[i].firstSeq)
            periodsMs.push_back(double(units[i].lastNs - units[i].firstNs) / 1e6 / double(units[i].lastSeq - units[i].firstSeq));
        if (units[i].firstSeq >= 0)
            lost += (units[i].lastSeq - units[i].firstSeq + 1) - units[i].received;
        got += units[i].received;
    }
    for (auto &p : procs) {
        p->terminate();
        p->waitForFinished(15000);
    }
    std::printf("%3d units | %6lld msgs | delay median %6.2f ms  p99 %6.2f ms | cycle %6.1f ms (slowest %6.1f) | CPU/unit %5.2f %% | RSS/unit %6.2f MiB | lost %lld\n",
                n, (long long)got, percentile(delaysMs, 0.5), percentile(delaysMs, 0.99), percentile(periodsMs, 0.5),
                percentile(periodsMs, 1.0), 100.0 * cpu / s / n,
                double(rss) / 1024 / n, (long long)lost);
    std::fflush(stdout);
    broker.kill();
    broker.waitForFinished();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    int seconds = 20;
    bool gateway = false;
    for (;;) {
        if (args.size() >= 2 && args[0] == QLatin1String("--seconds")) {
            seconds = args[1].toInt();
            args = args.mid(2);
        } else if (!args.isEmpty() && args[0] == QLatin1String("--gateway")) {
            gateway = true;
            args = args.mid(1);
        } else {
            break;
        }
    }
    QList<int> counts;
    for (const QString &a : args)
        counts << a.toInt();
    if (counts.isEmpty())
        counts = {1, 5, 20};
    std::printf("%s, %d s per row, readbacks at the 66 ms cadence\n",
                gateway ? "one plvctl gateway" : "one plvctl publish per unit", seconds);
    for (int n : counts)
        runOnce(n, seconds, gateway);
    std::printf("=== end of table\n");
    return 0;
}
