// plvctl's figures: a status request over TCP from exec to exit, and the CPU of watch at
// the console's cadence. The simulated unit runs in this process, so its work is not
// counted; plvctl's CPU is read from /proc, all its threads added up.
#include "benchutil.h"
#include "sim/simunit.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <string>

namespace {

// Runs the event loop (the unit answers meanwhile) for ms, or until the process ends.
void spin(int ms, QProcess &p)
{
    QEventLoop loop;
    QObject::connect(&p, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// CPU time of every thread of a process, in ns: the first field of each task's schedstat.
int64_t processCpuNs(qint64 pid)
{
    int64_t sum = 0;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile f(tasks.filePath(tid) + QStringLiteral("/schedstat"));
        if (f.open(QIODevice::ReadOnly))
            sum += f.readAll().split(' ').value(0).toLongLong();
    }
    return sum;
}

struct Row {
    std::string figure, measured, goal, result;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const bool quick = app.arguments().contains(QStringLiteral("--quick"));
    const int runs = quick ? 5 : 21;
    const int watchSeconds = quick ? 3 : 30;

    SimUnit sim;
    if (!sim.listenTcp(0)) {
        std::fprintf(stderr, "bench_plvctl: the simulated unit cannot listen\n");
        return 1;
    }
    const QString link = QStringLiteral("127.0.0.1:%1").arg(sim.tcpPort());
    std::vector<Row> rows;

    // exec to exit of "plvctl --tcp ... status", the process's whole life.
    std::vector<double> ms;
    for (int i = 0; i < runs + 1; ++i) {
        QProcess p;
        p.setStandardOutputFile(QProcess::nullDevice());
        const int64_t t0 = bench::nowNs();
        p.start(QStringLiteral(PLVCTL_PATH), {"--tcp", link, "status"});
        spin(10000, p);
        const int64_t t1 = bench::nowNs();
        if (p.state() != QProcess::NotRunning || p.exitCode() != 0) {
            std::fprintf(stderr, "bench_plvctl: status run %d failed\n", i);
            return 1;
        }
        if (i > 0)   // the first run warms the page cache
            ms.push_back(double(t1 - t0) / 1e6);
    }
    const double med = bench::median(ms);
    char buf[128];
    std::snprintf(buf, sizeof buf, "median %.1f ms, worst %.1f ms (%d runs)", med, bench::maximum(ms), runs);
    rows.push_back({"plvctl status over TCP, exec to exit", buf, "<= 30 ms", med <= 30 ? "PASS" : "FAIL"});

    // watch at the console's cadence (66 ms between exchanges), measured after a second.
    QProcess w;
    w.setStandardOutputFile(QProcess::nullDevice());
    w.start(QStringLiteral(PLVCTL_PATH), {"--tcp", link, "watch"});
    if (!w.waitForStarted()) {
        std::fprintf(stderr, "bench_plvctl: watch did not start\n");
        return 1;
    }
    spin(1000, w);
    const int64_t c0 = processCpuNs(w.processId()), t0 = bench::nowNs();
    const int before = sim.commandsHandled();
    spin(watchSeconds * 1000, w);
    const int64_t c1 = processCpuNs(w.processId()), t1 = bench::nowNs();
    const int exchanges = sim.commandsHandled() - before;
    ::kill(pid_t(w.processId()), SIGINT);
    spin(5000, w);
    if (w.state() != QProcess::NotRunning || w.exitCode() != 0) {
        std::fprintf(stderr, "bench_plvctl: watch did not end with 0 on SIGINT\n");
        return 1;
    }
    const double pct = 100.0 * double(c1 - c0) / double(t1 - t0);
    std::snprintf(buf, sizeof buf, "%.3f %% over %d s (%d exchanges)", pct, watchSeconds, exchanges);
    rows.push_back({"plvctl watch, CPU at 66 ms cadence, TCP", buf, "<= 1 %", pct <= 1.0 ? "PASS" : "FAIL"});

    std::printf("%-45s | %-42s | %-9s | %s\n", "figure", "measured", "goal", "result");
    std::printf("%s\n", std::string(114, '-').c_str());
    for (const Row &r : rows)
        std::printf("%-45s | %-42s | %-9s | %s\n", r.figure.c_str(), r.measured.c_str(), r.goal.c_str(),
                    r.result.c_str());
    std::printf("=== end of table\n");
    return 0;
}
