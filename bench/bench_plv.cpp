// bench_plv: drives the PLV console's own code (a shown MainWindow on the offscreen
// platform, its Session and panels) against the simulated unit running in a separate
// process (bench_unit), and prints one table of figures beside their goals.
//
// Reply detection needs the moment the unit wrote a reply's ETX. The unit process keeps
// a CLOCK_MONOTONIC stamp of every such write and hands the list over after a run; that
// clock is shared by all processes, so console-side stamps subtract directly and the
// unit's CPU stays out of the console's process figures.
#include "bench/benchutil.h"
#include "console/logbook.h"
#include "console/mainwindow.h"
#include "logs/trafficlog.h"
#include "panels/controlspanel.h"
#include "panels/prompt.h"
#include "protocol/framing.h"
#include "link/session.h"
#include "panels/readbackspanel.h"
#include "panels/statuspanel.h"
#include "unit/updatecycle.h"
#include "widgets/widgets.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <malloc.h>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <spawn.h>
#include <string>
#include <utility>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

extern char **environ;

using namespace bench;

namespace {

// ------------------------------------------------------------------ output

struct Row {
    std::string figure, measured, goal;
    int verdict;   // 1 PASS, 0 MISS, -1 information only
};
std::vector<Row> g_rows;

std::string fmt(const char *f, ...) __attribute__((format(printf, 1, 2)));
std::string fmt(const char *f, ...)
{
    char buf[512];
    va_list ap;
    va_start(ap, f);
    std::vsnprintf(buf, sizeof buf, f, ap);
    va_end(ap);
    return buf;
}

void note(const std::string &line)
{
    std::printf("  %s\n", line.c_str());
    std::fflush(stdout);
}

std::string loadAverage()
{
    char buf[128] = {};
    FILE *f = std::fopen("/proc/loadavg", "r");
    if (f) {
        if (!std::fgets(buf, sizeof buf, f))
            buf[0] = 0;
        std::fclose(f);
    }
    std::string s = buf;
    while (!s.empty() && s.back() == '\n')
        s.pop_back();
    return s;
}

// Other work on the machine shows in timing figures: each phase logs the load average.
void phase(const char *name)
{
    std::printf("== %s (load average %s)\n", name, loadAverage().c_str());
    std::fflush(stdout);
}

void addRow(const std::string &figure, const std::string &measured, const std::string &goal, int verdict)
{
    g_rows.push_back({figure, measured, goal, verdict});
}

double ms(int64_t ns) { return double(ns) / 1e6; }

// ------------------------------------------------------------------ event-loop waiting

// The console's own event loop runs meanwhile; nothing polls.
void runFor(int msecs)
{
    QEventLoop loop;
    QTimer t;
    t.setSingleShot(true);
    t.setTimerType(Qt::PreciseTimer);
    QObject::connect(&t, &QTimer::timeout, &loop, &QEventLoop::quit);
    t.start(msecs);
    loop.exec();
}

// For set-up only, never inside a figure: checks every 5 ms.
bool waitFor(const std::function<bool()> &pred, int timeoutMs)
{
    QElapsedTimer c;
    c.start();
    while (!pred()) {
        if (c.elapsed() > timeoutMs)
            return false;
        runFor(5);
    }
    return true;
}

// ------------------------------------------------------------------ the unit process

class Unit {
public:
    bool start(const QString &path, const QStringList &args)
    {
        m_p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_p.start(path, args);
        if (!m_p.waitForStarted(5000))
            return false;
        for (;;) {
            const QByteArray l = line("", 5000);
            if (l.isEmpty())
                return false;
            if (l.startsWith("tcp "))
                port = quint16(l.mid(4).toUInt());
            else if (l.startsWith("pty "))
                pty = QString::fromLocal8Bit(l.mid(4));
            else if (l == "ready")
                return true;
        }
    }
    void stop()
    {
        if (m_p.state() == QProcess::NotRunning)
            return;
        m_p.write("quit\n");
        if (!m_p.waitForFinished(3000))
            m_p.kill();
        m_p.waitForFinished(1000);
    }
    ~Unit() { stop(); }

    // Lines that arrived while the event loop ran are kept until asked for.
    void pull()
    {
        while (m_p.canReadLine())
            m_lines.append(m_p.readLine().trimmed());
    }
    bool has(const QByteArray &prefix)
    {
        pull();
        for (const QByteArray &l : std::as_const(m_lines))
            if (l.startsWith(prefix))
                return true;
        return false;
    }
    // Blocks (no event loop) for the next line starting with 'prefix'.
    QByteArray line(const QByteArray &prefix, int timeoutMs = 10000)
    {
        QElapsedTimer c;
        c.start();
        for (;;) {
            pull();
            for (qsizetype i = 0; i < m_lines.size(); ++i)
                if (m_lines[i].startsWith(prefix))
                    return m_lines.takeAt(i);
            const qint64 left = timeoutMs - c.elapsed();
            if (left <= 0 || !m_p.waitForReadyRead(int(left))) {
                pull();
                if (c.elapsed() >= timeoutMs) {
                    std::fprintf(stderr, "bench: no '%s' from the unit process\n", prefix.constData());
                    return {};
                }
            }
        }
    }
    QByteArray request(const QByteArray &cmd, const QByteArray &answer = "ok", int timeoutMs = 10000)
    {
        m_p.write(cmd + '\n');
        m_p.waitForBytesWritten(1000);
        return line(answer, timeoutMs);
    }
    std::vector<int64_t> etx()
    {
        const QList<QByteArray> w = request("etx-dump", "etx ").split(' ');
        std::vector<int64_t> out;
        for (qsizetype i = 2; i < w.size(); ++i)
            out.push_back(w[i].toLongLong());
        return out;
    }
    struct Arrival {
        int64_t ns;
        QByteArray cmd;   // the command's two digits
    };
    std::vector<Arrival> rx()
    {
        const QList<QByteArray> w = request("rx-dump", "rx ").split(' ');
        std::vector<Arrival> out;
        for (qsizetype i = 2; i < w.size(); ++i) {
            const qsizetype colon = w[i].indexOf(':');
            out.push_back({w[i].left(colon).toLongLong(), w[i].mid(colon + 1)});
        }
        return out;
    }
    void clearStamps()
    {
        request("etx-clear");
        request("rx-clear");
    }
    QProcess &process() { return m_p; }

    quint16 port = 0;
    QString pty;

private:
    QProcess m_p;
    QList<QByteArray> m_lines;
};

// ------------------------------------------------------------------ exchanges

struct Exchanges {
    std::vector<int64_t> send, ret;
    int bad = 0;
};

void pause(int gapUs)
{
    timespec ts{0, long(gapUs) * 1000};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

// The minimal blocking client: one write, then read() until the ETX. No Qt, no event loop.
bool rawExchange(int fd, const QByteArray &frame, Exchanges &r)
{
    char buf[256];
    const int64_t t0 = nowNs();
    if (::write(fd, frame.constData(), size_t(frame.size())) != frame.size())
        return false;
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            return false;
        }
        if (std::memchr(buf, plv::ETX, size_t(n)))
            break;
    }
    r.send.push_back(t0);
    r.ret.push_back(nowNs());
    return true;
}

Exchanges rawTcp(quint16 port, int n, int gapUs)
{
    Exchanges r;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        r.bad = n;
        if (fd >= 0)
            ::close(fd);
        return r;
    }
    const QByteArray frame = plv::frameCommand("22,", false);
    for (int i = 0; i < n; ++i) {
        if (!rawExchange(fd, frame, r))
            ++r.bad;
        pause(gapUs);
    }
    ::close(fd);
    return r;
}

Exchanges rawPty(const QString &path, int n, int gapUs)
{
    Exchanges r;
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        r.bad = n;
        return r;
    }
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::cfsetspeed(&tio, B115200);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    ::tcsetattr(fd, TCSANOW, &tio);
    ::tcflush(fd, TCIOFLUSH);
    const QByteArray frame = plv::frameCommand("22,", true);
    for (int i = 0; i < n; ++i) {
        if (!rawExchange(fd, frame, r))
            ++r.bad;
        pause(gapUs);
    }
    ::close(fd);
    return r;
}

// The console's transaction, as each panel does it: pause, send, wait, re-arm.
Exchanges consoleExchanges(plv::Session &s, int n, int gapUs)
{
    Exchanges r;
    for (int i = 0; i < n; ++i) {
        const int64_t t0 = nowNs();
        s.pause();
        s.outputOutputString("22,");
        const QByteArray reply = s.WaitForReply();
        const int64_t t1 = nowNs();
        s.rearm();
        if (!reply.contains(plv::ETX)) {
            ++r.bad;
        } else {
            r.send.push_back(t0);
            r.ret.push_back(t1);
        }
        runFor(std::max(1, gapUs / 1000));
    }
    return r;
}

struct Latency {
    std::vector<double> detectMs, rttMs;
    bool matched = false;
};

Latency latency(const Exchanges &r, const std::vector<int64_t> &etx, size_t warm)
{
    Latency l;
    l.matched = r.bad == 0 && etx.size() == r.ret.size();
    if (!l.matched)
        return l;
    for (size_t i = warm; i < r.ret.size(); ++i) {
        l.detectMs.push_back(ms(r.ret[i] - etx[i]));
        l.rttMs.push_back(ms(r.ret[i] - r.send[i]));
    }
    return l;
}

// ------------------------------------------------------------------ prompter

class QuietPrompter : public plv::Prompter {
public:
    int shown = 0;
    void message(QWidget *, const QString &text, const QString &, Icon) override
    {
        ++shown;
        std::fprintf(stderr, "bench: the console showed a message: %s\n", qPrintable(text));
    }
    bool input(QWidget *, const QString &, const QString &, QString &text) override
    {
        text.clear();
        return false;
    }
    int exec(QDialog &) override { return 0; }
    // HV ON is wanted here; everything else takes its default.
    int choose(QWidget *, const QString &, const QStringList &choices, int defaultIndex, int) override
    {
        return choices.value(0) == QLatin1String("Switch HV ON") ? 0 : defaultIndex;
    }
};

// ------------------------------------------------------------------ start-up

struct Launch {
    bool ok = false;
    double readyMs = -1;     // exec to the main thread first idling in its event loop
    double paintedMs = -1;   // exec to the probe's own "painted" stamp, when it prints one
    double windowMs = -1, appMs = -1, mainMs = -1;
    std::string error;
};

// The console takes no command line and has no readiness signal, so the outside probe
// watches the main thread's system call: the first time it sits in poll() for 5 ms it has
// handled everything queued at start-up, including the window's expose and first paint,
// and is waiting for the operator.
// Starts `path` with `args`, its standard output on a pipe and its standard error
// discarded. Returns the pid (0 on failure) and the pipe's read end in `out`.
pid_t spawnPiped(const QString &path, const QStringList &args, int &out, std::string &error)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        error = "pipe";
        return 0;
    }
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&fa, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<QByteArray> argStore{path.toLocal8Bit()};
    for (const QString &a : args)
        argStore.push_back(a.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &a : argStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        error = "spawn failed";
        return 0;
    }
    out = fds[0];
    return pid;
}

Launch launch(const QString &path, const QStringList &args)
{
    Launch L;
    int out = -1;
    const int64_t t0 = nowNs();
    pid_t pid = spawnPiped(path, args, out, L.error);
    if (!pid)
        return L;
    const QByteArray sysPath = "/proc/" + QByteArray::number(pid) + "/syscall";
    const bool wantLine = args.contains(QStringLiteral("--stay"));
    std::string text;
    int64_t streak = 0, ready = 0;
    bool gotLine = false;
    for (;;) {
        const int64_t now = nowNs();
        if (now - t0 > 15'000'000'000LL) {
            L.error = "no readiness within 15 s";
            break;
        }
        char buf[128] = {};
        const int fd = ::open(sysPath.constData(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            const ssize_t n = ::read(fd, buf, sizeof buf - 1);
            ::close(fd);
            const long nr = n > 0 && buf[0] != 'r' ? std::strtol(buf, nullptr, 10) : -1;
            if (nr == 7 || nr == 271) {   // poll, ppoll
                if (!streak)
                    streak = now;
                if (!ready && now - streak >= 5'000'000)
                    ready = streak;
            } else {
                streak = 0;
            }
        }
        pollfd pf{out, POLLIN, 0};
        if (::poll(&pf, 1, 0) > 0) {
            char b[512];
            const ssize_t n = ::read(out, b, sizeof b);
            if (n > 0)
                text.append(b, size_t(n));
            gotLine = text.find('\n') != std::string::npos;
        }
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            pid = 0;
            L.error = "exited before it was ready";
            break;
        }
        if (ready && (!wantLine || gotLine)) {
            L.ok = true;
            break;
        }
        pause(200);
    }
    if (pid > 0) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
    ::close(out);
    if (ready)
        L.readyMs = ms(ready - t0);
    auto stamp = [&](const char *key) -> double {
        const size_t at = text.find(std::string(" ") + key + "=");
        if (at == std::string::npos)
            return -1;
        return ms(std::strtoll(text.c_str() + at + std::strlen(key) + 2, nullptr, 10) - t0);
    };
    L.mainMs = stamp("main");
    L.appMs = stamp("app");
    L.windowMs = stamp("window");
    L.paintedMs = stamp("painted");
    return L;
}

// ------------------------------------------------------------------ the update cycle

struct Exchange {
    int64_t tSend = 0, tRet = 0;
    int64_t tFire = 0;   // tmr_UPDATE's tick that started this step (0 inside a step)
    int64_t tArm = 0;    // the re-arm after this exchange, when tmr_UPDATE restarts
    int64_t waitFire = 0, waitArm = 0;   // run-queue wait so far, at tFire and at tArm
    QByteArray cmd;
};

// Time this thread has spent runnable but waiting for a CPU, from the scheduler's
// statistics: tells a late timer caused by other work on the machine from one caused
// by the console. It runs inside the cycle it measures (before a send, before a re-arm),
// so it is one pread on a file kept open: an open/read/close there took about 6 us.
int64_t runQueueWaitNs()
{
    static const int fd = ::open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);   // main thread
    char buf[128] = {};
    if (fd < 0)
        return 0;
    const ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
    if (n <= 0)
        return 0;
    char *end = nullptr;
    std::strtoll(buf, &end, 10);
    return std::strtoll(end, nullptr, 10);
}

// tmr_UPDATE's expiry that started the step being sent, taken once per expiry.
class TickWatch {
public:
    explicit TickWatch(const plv::CycleTimer &t) : m_timer(t), m_seen(t.lastFireNs()) {}
    int64_t take()
    {
        const int64_t f = m_timer.lastFireNs();
        if (f == m_seen)
            return 0;
        m_seen = f;
        return f;
    }

private:
    const plv::CycleTimer &m_timer;
    int64_t m_seen;
};

struct CycleStats {
    std::vector<double> ratio, periodMs, idealMs, gapExcessMs;
    std::vector<double> afterReplyMs, timerLateMs, beforeSendMs;   // the gap's three parts
    std::vector<double> lateOwnMs;        // timer lateness less the run-queue wait within it
    std::vector<double> cycleWaitMs;      // run-queue wait inside each cycle's gaps
    std::vector<double> turnaroundMs;     // 22's reply to 68's send, inside one step
    double worstLateWaitMs = 0;           // run-queue wait inside the latest tick
    int malformed = 0;
};

CycleStats analyseCycles(const std::vector<Exchange> &log)
{
    static const char *const order[11] = {"19", "14", "15", "16", "17", "22", "68", "21", "20", "21", "25"};
    CycleStats st;
    std::vector<size_t> starts;
    for (size_t i = 0; i < log.size(); ++i)
        if (log[i].cmd == "19")
            starts.push_back(i);
    for (size_t k = 0; k + 1 < starts.size(); ++k) {
        const size_t a = starts[k], b = starts[k + 1];
        bool ok = b - a == 11;
        for (size_t j = 0; ok && j < 11; ++j)
            ok = log[a + j].cmd == order[j] && log[a + j].tRet > 0;
        if (!ok) {
            ++st.malformed;
            continue;
        }
        int64_t rtt = 0;
        double cycleWait = 0;
        for (size_t j = a; j < b; ++j)
            rtt += log[j].tRet - log[j].tSend;
        const double period = ms(log[b].tSend - log[a].tSend);
        const double ideal = 10 * 66.0 + ms(rtt);
        st.ratio.push_back(period / ideal);
        st.periodMs.push_back(period);
        st.idealMs.push_back(ideal);
        st.turnaroundMs.push_back(ms(log[a + 6].tSend - log[a + 5].tRet));
        for (size_t j = a; j < b; ++j)
            if (j != a + 5) {   // 22 and 68 are one step: no gap between them
                st.gapExcessMs.push_back(ms(log[j + 1].tSend - log[j].tRet) - 66.0);
                if (log[j].tArm && log[j + 1].tFire) {
                    st.afterReplyMs.push_back(ms(log[j].tArm - log[j].tRet));
                    st.timerLateMs.push_back(ms(log[j + 1].tFire - log[j].tArm) - 66.0);
                    st.beforeSendMs.push_back(ms(log[j + 1].tSend - log[j + 1].tFire));
                    const double wait = ms(log[j + 1].waitFire - log[j].waitArm);
                    const double late = st.timerLateMs.back();
                    st.lateOwnMs.push_back(late - wait);
                    cycleWait += wait;
                    if (late >= maximum(st.timerLateMs))
                        st.worstLateWaitMs = wait;
                }
            }
        st.cycleWaitMs.push_back(cycleWait);
    }
    return st;
}

// ------------------------------------------------------------------ options

struct Options {
    bool quick = false;
    bool soak = false;
    int soakMinutes = 60;
    QString unitPath = QStringLiteral(BENCH_UNIT_PATH);
    QString consolePath = QStringLiteral(BENCH_CONSOLE_PATH);
    QString probePath = QStringLiteral(BENCH_PROBE_PATH);
    QString exitPath = QStringLiteral(BENCH_EXIT_PATH);
};

Options parse(int argc, char **argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char *name) -> QString {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "bench: %s needs a value\n", name);
                std::exit(2);
            }
            return QString::fromLocal8Bit(argv[++i]);
        };
        if (a == "--quick") {
            o.quick = true;
        } else if (a == "--soak") {
            o.soak = true;
        } else if (a == "--soak-minutes") {
            o.soak = true;
            o.soakMinutes = value("--soak-minutes").toInt();
        } else if (a == "--unit") {
            o.unitPath = value("--unit");
        } else if (a == "--console") {
            o.consolePath = value("--console");
        } else if (a == "--probe") {
            o.probePath = value("--probe");
        } else if (a == "--exit-probe") {
            o.exitPath = value("--exit-probe");
        } else if (a == "--help" || a == "-h") {
            std::printf("usage: bench_plv [--quick] [--soak | --soak-minutes N] [--unit PATH] [--console PATH] [--probe PATH] [--exit-probe PATH]\n");
            std::exit(0);
        } else {
            std::fprintf(stderr, "bench: unknown option %s\n", a.c_str());
            std::exit(2);
        }
    }
    return o;
}

std::string cpuModel()
{
    FILE *f = std::fopen("/proc/cpuinfo", "r");
    std::string model = "unknown";
    if (!f)
        return model;
    char line[512];
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, "model name", 10) == 0) {
            const char *c = std::strchr(line, ':');
            model = c ? c + 2 : line;
            while (!model.empty() && (model.back() == '\n' || model.back() == ' '))
                model.pop_back();
            break;
        }
    }
    std::fclose(f);
    return model;
}

struct Sizes {
    int startupRuns, detectN, detectWarm, silentWaits, autoMs, idleMs, paced, bursts, burst;
    qint64 floodBytes;
    int autoPtyMs, hvAnswered, hvSilent, exitRuns;
};

// ------------------------------------------------------------------ figures

void startupFigures(const Options &o, const Sizes &z)
{
    phase("start-up");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    std::vector<double> real, probeReady, probePainted, probeWindow, probeApp, probeMain;
    for (int i = 0; i < z.startupRuns; ++i) {
        const Launch r = launch(o.consolePath, {});
        if (r.ok)
            real.push_back(r.readyMs);
        else
            note("plv_NXPUSB run " + std::to_string(i) + ": " + r.error);
        const Launch p = launch(o.probePath, {QStringLiteral("--stay")});
        if (p.ok && p.paintedMs > 0) {
            probeReady.push_back(p.readyMs);
            probePainted.push_back(p.paintedMs);
            probeWindow.push_back(p.windowMs);
            probeApp.push_back(p.appMs);
            probeMain.push_back(p.mainMs);
        } else {
            note("probe run " + std::to_string(i) + ": " + p.error);
        }
    }
    if (!probePainted.empty()) {
        note(fmt("in-process probe, medians from exec: main() %.1f ms, QApplication %.1f ms, MainWindow built %.1f ms, "
                 "first frame painted %.1f ms; outside readiness probe on the same process %.1f ms",
                 median(probeMain), median(probeApp), median(probeWindow), median(probePainted), median(probeReady)));
        addRow("start-up, console code (exec to first frame painted)",
               fmt("median %.0f ms, worst %.0f ms (%zu runs)", median(probePainted), maximum(probePainted),
                   probePainted.size()),
               "<= 500 ms", maximum(probePainted) <= 500 ? 1 : 0);
    } else {
        addRow("start-up, console code (exec to first frame painted)", "not measured", "<= 500 ms", 0);
    }
    if (!real.empty()) {
        addRow("start-up, plv_NXPUSB binary (exec to idle, window up)",
               fmt("median %.0f ms, worst %.0f ms (%zu runs)", median(real), maximum(real), real.size()),
               "<= 500 ms", maximum(real) <= 500 ? 1 : 0);
    } else {
        addRow("start-up, plv_NXPUSB binary (exec to idle, window up)", "not measured", "<= 500 ms", 0);
    }
}

void detectionRows(const char *link, const Latency &raw, const Latency &con)
{
    if (!raw.matched || !con.matched || raw.detectMs.empty() || con.detectMs.empty()) {
        addRow(fmt("reply detection %s, median", link), "not measured (exchange failed)", "<= raw + 0.2 ms", 0);
        addRow(fmt("reply detection %s, p99", link), "not measured (exchange failed)", "<= raw + 1 ms", 0);
        return;
    }
    const double cm = median(con.detectMs), rm = median(raw.detectMs);
    const double c99 = percentile(con.detectMs, 0.99), r99 = percentile(raw.detectMs, 0.99);
    note(fmt("%s round trip send->reply: console median %.3f ms p99 %.3f ms; raw median %.3f ms p99 %.3f ms (%zu each)",
             link, median(con.rttMs), percentile(con.rttMs, 0.99), median(raw.rttMs), percentile(raw.rttMs, 0.99),
             con.rttMs.size()));
    addRow(fmt("reply detection %s, median (ETX->return)", link), fmt("%.3f ms (raw %.3f ms)", cm, rm),
           "<= raw + 0.2 ms", cm <= rm + 0.2 ? 1 : 0);
    addRow(fmt("reply detection %s, p99 (ETX->return)", link), fmt("%.3f ms (raw %.3f ms)", c99, r99),
           "<= raw + 1 ms", c99 <= r99 + 1.0 ? 1 : 0);
    addRow(fmt("round trip %s, median, console vs raw", link),
           fmt("%.3f ms vs %.3f ms", median(con.rttMs), median(raw.rttMs)), "(context)", -1);
}

void silentRow(const char *link, plv::MainWindow &win, Unit &u, int waits)
{
    u.request("silent 1");
    double worst = 0, wallSum = 0;
    for (int i = 0; i < waits; ++i) {
        const int64_t c0 = cpuNs(), t0 = nowNs();
        win.readbacks().UpdateData();   // step 1 of the cycle: one query, no reply
        const int64_t c1 = cpuNs(), t1 = nowNs();
        worst = std::max(worst, 100.0 * double(c1 - c0) / double(t1 - t0));
        wallSum += ms(t1 - t0);
        runFor(50);
    }
    u.request("silent 0");
    note(fmt("%s: %d waits for a reply that never came, mean %.1f ms each", link, waits, wallSum / waits));
    addRow(fmt("CPU waiting for a reply, silent unit, %s", link), fmt("%.3f %% (worst of %d)", worst, waits), "<= 1 %",
           worst <= 1.0 ? 1 : 0);
}

bool attachTcp(plv::Session &s, quint16 port)
{
    s.tcp().setRemote(QStringLiteral("127.0.0.1"), port);
    s.tcp().connectToUnit();
    s.setCommMode(QStringLiteral("ethernet"));
    if (!waitFor([&] { return s.tcp().isConnected(); }, 5000))
        return false;
    s.tmr_RCVTIMER->stop();
    s.tmr_NETRCVTMR->start();
    return true;
}

bool attachSerial(plv::Session &s, const QString &pty)
{
    s.serial().setPortName(pty);
    if (!s.serial().open())
        return false;
    s.setSerialConfigured(true);
    s.setCommMode(QStringLiteral("comm1"));
    s.tmr_NETRCVTMR->stop();
    s.tmr_RCVTIMER->start();
    return true;
}

// The update cycle as the unit sees it: from a reply's ETX leaving the unit to the next
// command's arrival. 68 follows 22's reply inside one step, with no timer between them.
std::vector<double> unitGapsMs(const std::vector<int64_t> &etx, const std::vector<Unit::Arrival> &rx, int64_t from,
                               int64_t to)
{
    std::vector<double> gaps;
    size_t r = 0;   // first reply stamp not before the command looked at
    for (size_t i = 1; i < rx.size(); ++i) {
        const Unit::Arrival &q = rx[i];
        while (r < etx.size() && etx[r] < q.ns)
            ++r;
        if (rx[i - 1].ns < from || q.ns > to || q.cmd == "68" || r == 0)
            continue;
        if (etx[r - 1] < rx[i - 1].ns)
            continue;   // the previous command was not answered
        gaps.push_back(ms(q.ns - etx[r - 1]));
    }
    return gaps;
}

void unitGapRows(const char *link, const std::vector<double> &gaps, bool withGoals)
{
    if (gaps.empty()) {
        addRow(fmt("cycle gap at the unit, %s (reply -> next query)", link), "no gap recorded", "-", 0);
        return;
    }
    const double med = median(gaps), p99 = percentile(gaps, 0.99), max = maximum(gaps);
    note(fmt("%s, at the unit: %zu gaps from a reply to the next query: median %.3f ms (%.4f x 66), p99 %.3f ms, "
             "max %.3f ms",
             link, gaps.size(), med, med / 66.0, p99, max));
    addRow(fmt("cycle gap at the unit, %s, median (reply -> next query)", link),
           fmt("%.3f ms (%zu gaps)", med, gaps.size()), withGoals ? "<= 66.5 ms" : "(context)",
           withGoals ? (med <= 66.5 ? 1 : 0) : -1);
    addRow(fmt("cycle gap at the unit, %s, p99 / max", link), fmt("%.3f ms / %.3f ms", p99, max),
           withGoals ? "p99 <= 68 ms" : "(context)", withGoals ? (p99 <= 68.0 ? 1 : 0) : -1);
}

// The operator flips the HV switch at a random moment of the automatic cycle; the
// figure runs from the switch's operated() to the "98," frame's arrival at the unit.
// operated() is raised from a timer, so like a click it can land inside a reply wait.
std::vector<double> hvLatencies(plv::MainWindow &win, Unit &u, int n, int spreadMs, unsigned seed, int &missing)
{
    plv::Session &s = win.session();
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> phase(0, spreadMs);
    u.request("rx-clear");
    std::vector<int64_t> operatedAt;
    bool sent = false, fired = false;
    auto c = QObject::connect(&s, &plv::Session::txFrame, &win, [&](const QByteArray &f) {
        if (fired && f.mid(1, 3) == "98,")
            sent = true;
    });
    for (int i = 0; i < n; ++i) {
        sent = fired = false;
        QTimer::singleShot(phase(rng), Qt::PreciseTimer, &win, [&] {
            operatedAt.push_back(nowNs());
            fired = true;
            emit win.controls().btn_HVONOFF->operated();
        });
        // Checked only between handlers, so the switch's own transaction has ended.
        if (!waitFor([&] { return fired && sent; }, 10000))
            break;
    }
    QObject::disconnect(c);
    runFor(20);
    const std::vector<Unit::Arrival> rx = u.rx();
    std::vector<double> out;
    missing = n - int(operatedAt.size());
    size_t j = 0;
    for (const int64_t t0 : operatedAt) {
        while (j < rx.size() && (rx[j].ns < t0 || rx[j].cmd != "98"))
            ++j;
        if (j == rx.size()) {
            ++missing;
            continue;
        }
        out.push_back(ms(rx[j].ns - t0));
        ++j;
    }
    return out;
}

void hvRows(const char *link, plv::MainWindow &win, Unit &u, const Sizes &z)
{
    int missing = 0;
    const std::vector<double> answered = hvLatencies(win, u, z.hvAnswered, 70, 1, missing);
    note(fmt("HV switch, %s, answering unit: %zu operations, %d without a 98 at the unit", link, answered.size(),
             missing));
    addRow(fmt("HV switch -> \"98,\" at the unit, %s, answering unit", link),
           answered.empty() ? std::string("not measured")
                            : fmt("median %.3f ms, max %.3f ms (%zu)", median(answered), maximum(answered),
                                  answered.size()),
           "(context)", -1);
    u.request("silent 1");
    const std::vector<double> silent = hvLatencies(win, u, z.hvSilent, 1100, 2, missing);
    u.request("silent 0");
    runFor(1200);   // the wait in progress ends
    note(fmt("HV switch, %s, silent unit: %zu operations, %d without a 98 at the unit", link, silent.size(), missing));
    addRow(fmt("HV switch -> \"98,\" at the unit, %s, silent unit", link),
           silent.empty() ? std::string("not measured")
                          : fmt("median %.1f ms, max %.1f ms (%zu)", median(silent), maximum(silent), silent.size()),
           "(context)", -1);
}

// One stretch of automatic mode over the link already open: the cycle's timing from the
// session's own signals, and the process's CPU and peak resident size meanwhile.
// Automatic mode is left on: the caller measures the HV switch in it first.
struct AutoRun {
    CycleStats cs;
    double cpuPercent = 0, seconds = 0;
    long rssMaxKiB = 0;
    size_t exchanges = 0;
    int commErrors = 0;
    std::vector<double> unitGaps;
};

AutoRun automaticMode(const Options &o, const Sizes &z, plv::MainWindow &win, Unit &u)
{
    plv::Session &s = win.session();
    std::vector<Exchange> log;
    log.reserve(size_t(z.autoMs / 40 + 1000));
    bool recording = false;
    Exchange cur;
    TickWatch ticks(*s.tmr_UPDATE);
    auto c1 = QObject::connect(&s, &plv::Session::txFrame, &win, [&](const QByteArray &f) {
        const int64_t fired = ticks.take();
        if (recording)
            cur = {nowNs(), 0, fired, 0, runQueueWaitNs(), 0, f.mid(1, 2)};
    });
    // rearm() starts the link's receive timer right before tmr_UPDATE.
    auto c4 = QObject::connect(s.tmr_NETRCVTMR, &plv::ReceiveTimer::activeChanged, &win, [&](bool on) {
        if (recording && on && !log.empty() && !log.back().tArm) {
            log.back().tArm = nowNs();
            log.back().waitArm = runQueueWaitNs();
        }
    });
    auto c2 = QObject::connect(&s, &plv::Session::rxText, &win, [&](const QByteArray &, bool prefixed) {
        if (recording && prefixed && cur.tSend) {
            cur.tRet = nowNs();
            log.push_back(cur);
            cur = {};
        }
    });
    const int errors0 = s.CommErrors();
    u.clearStamps();
    s.operate([&] {
        win.status().btn_REQSTAT_Click();
        win.cycle().mnu_AUTOUPDATE_Click();
    });
    runFor(o.quick ? 1000 : 2000);
    recording = true;
    AutoRun r;
    const int64_t c0 = cpuNs(), t0 = nowNs();
    for (int left = z.autoMs; left > 0; left -= 10000) {
        runFor(std::min(left, 10000));
        r.rssMaxKiB = std::max(r.rssMaxKiB, rssKiB());
    }
    const int64_t cpu1 = cpuNs(), t1 = nowNs();
    recording = false;
    r.commErrors = s.CommErrors() - errors0;
    QObject::disconnect(c1);
    QObject::disconnect(c2);
    QObject::disconnect(c4);
    r.unitGaps = unitGapsMs(u.etx(), u.rx(), t0, t1);
    r.exchanges = log.size();
    r.cs = analyseCycles(log);
    r.cpuPercent = 100.0 * double(cpu1 - c0) / double(t1 - t0);
    r.seconds = double(t1 - t0) / 1e9;
    return r;
}

void cycleNotes(const AutoRun &r)
{
    const CycleStats &cs = r.cs;
    note(fmt("%zu exchanges, %zu whole cycles, %d malformed, comm errors %d", r.exchanges, cs.ratio.size(),
             cs.malformed, r.commErrors));
    if (!cs.ratio.empty()) {
        note(fmt("period median %.2f ms, ideal median %.2f ms; gap beyond 66 ms: median %.3f ms, worst %.3f ms",
                 median(cs.periodMs), median(cs.idealMs), median(cs.gapExcessMs), maximum(cs.gapExcessMs)));
        note(fmt("gap parts (median / worst): reply to re-arm %.3f / %.3f ms, tmr_UPDATE late %.3f / %.3f ms, "
                 "tick to send %.3f / %.3f ms",
                 median(cs.afterReplyMs), maximum(cs.afterReplyMs), median(cs.timerLateMs), maximum(cs.timerLateMs),
                 median(cs.beforeSendMs), maximum(cs.beforeSendMs)));
        double excessSum = 0;
        for (double e : cs.gapExcessMs)
            excessSum += e;
        note(fmt("per cycle: gap excess mean %.3f ms x 10 gaps; 22->68 turnaround median %.3f ms, worst %.3f ms",
                 excessSum / double(cs.gapExcessMs.size()), median(cs.turnaroundMs), maximum(cs.turnaroundMs)));
        std::vector<double> calm;
        for (size_t i = 0; i < cs.ratio.size(); ++i)
            if (cs.cycleWaitMs[i] < 1.0)
                calm.push_back(cs.ratio[i]);
        note(fmt("run-queue wait (CPU taken by other work) inside the latest tick: %.3f ms; tick lateness less "
                 "run-queue wait: median %.3f ms, worst %.3f ms",
                 cs.worstLateWaitMs, median(cs.lateOwnMs), maximum(cs.lateOwnMs)));
        note(fmt("%zu of %zu cycles had under 1 ms of run-queue wait; their ratio median %.4f, worst %.4f",
                 calm.size(), cs.ratio.size(), median(calm), maximum(calm)));
    }
}

// The same stretch of automatic mode with the traffic log window open, readbacks being
// recorded and the trends showing, against the plain run just before it.
void viewsFigures(const Options &o, const Sizes &z, plv::MainWindow &win, Unit &u, const AutoRun &plain)
{
    phase("automatic mode, traffic log open, recording, trends showing, TCP");
    plv::Logbook &book = win.logbook();
    QTemporaryDir dir;
    const QString csv = dir.filePath(QStringLiteral("readbacks.csv"));
    book.showView(plv::Logbook::View::Traffic);
    book.showView(plv::Logbook::View::Trends);
    if (!book.startRecording(csv)) {
        addRow("automatic mode with the views", "recording did not start", "-", 0);
        return;
    }
    runFor(500);
    const AutoRun v = automaticMode(o, z, win, u);
    win.session().operate([&] { win.cycle().mnu_MANUAL_Click(); });
    cycleNotes(v);
    unitGapRows("TCP, views open", v.unitGaps, false);
    const qint64 rows = book.recorder().rowsRecorded();
    book.stopRecording();
    book.recorder().waitForWritten(5000);
    note(fmt("%lld samples recorded, %lld bytes; trend store %lld points", (long long)rows,
             (long long)QFileInfo(csv).size(), (long long)book.trends().pointCount()));
    const double rise = v.cpuPercent - plain.cpuPercent;
    addRow("CPU rise, automatic mode, views open and recording",
           fmt("%+.3f pp (%.3f %% vs %.3f %%)", rise, v.cpuPercent, plain.cpuPercent), "<= 0.5 pp",
           rise <= 0.5 ? 1 : 0);
    if (!v.cs.ratio.empty() && !plain.cs.ratio.empty()) {
        const double m = median(v.cs.ratio), pm = median(plain.cs.ratio);
        const double w = maximum(v.cs.ratio);
        addRow("update-cycle period / ideal, median, views open",
               fmt("%.4f (%zu cycles; plain %.4f)", m, v.cs.ratio.size(), pm), "<= 1.01, <= plain + 0.002",
               m <= 1.01 && m <= pm + 0.002 ? 1 : 0);
        addRow("update-cycle period / ideal, worst, views open", fmt("%.4f (plain %.4f)", w, maximum(plain.cs.ratio)),
               "<= 1.03", w <= 1.03 ? 1 : 0);
    } else {
        addRow("update-cycle period / ideal, views open", "no whole cycle recorded", "<= 1.01 / 1.03", 0);
    }
    book.hideViews();
    runFor(200);
}

// The traffic log filled to its 100,000 rows with a cycle's frames, decoded, while its
// window shows them: the resident memory it adds, and the cost of a row once it turns.
void trafficMemoryFigure(const Sizes &z, plv::MainWindow &win)
{
    phase("traffic log of 100,000 rows, window open");
    plv::Session &s = win.session();
    plv::Logbook &book = win.logbook();
    plv::logs::TrafficLog &log = book.traffic();
    const QString mode = s.CommMode();
    s.setCommMode(QStringLiteral("ethernet"));
    book.showView(plv::Logbook::View::Traffic);
    log.clear();
    runFor(300);
    malloc_trim(0);   // what earlier phases freed does not count for or against the log
    const long rss0 = rssKiB();
    // One update cycle as the unit answers it: eleven commands and their replies.
    const std::pair<const char *, const char *> cycle[] = {
        {"19,", "19,2048,3000,1800,"}, {"14,", "14,2048,"}, {"15,", "15,3000,"},     {"16,", "16,1800,"},
        {"17,", "17,600,"},            {"22,", "22,1,0,0,1,"}, {"68,", "68,0,0,0,0,0,0,"}, {"21,", "21,1234,"},
        {"20,", "20,1562,25,3000,"},   {"21,", "21,1234,"},  {"25,", "25,W1.07,"}};
    auto feed = [&](qint64 rows) {
        const qint64 end = log.endSeq() + rows;
        for (int n = 0; log.endSeq() < end; ++n) {
            const auto &[command, reply] = cycle[n % 11];
            emit s.txFrame(plv::frameCommand(command, false));
            emit s.exchanged(QByteArray(command, 2), '\x02' + QByteArray(reply) + '\x03');
            if (n % 250 == 0)
                QCoreApplication::processEvents();   // the window follows as it would live
        }
        runFor(300);
    };
    const int64_t c0 = cpuNs();
    feed(plv::logs::TrafficLog::DefaultCapacity);
    const int64_t c1 = cpuNs();
    const long rss1 = rssKiB();
    const qint64 turning = z.autoMs >= 60000 ? 20000 : 2000;
    feed(turning);
    const int64_t c2 = cpuNs();
    note(fmt("rows held %d; store estimate %.1f MiB; VmRSS %.1f -> %.1f MiB", log.size(),
             double(log.approxBytes()) / 1048576.0, double(rss0) / 1024, double(rss1) / 1024));
    addRow("memory, traffic log of 100,000 rows, window open", fmt("%+.1f MiB", double(rss1 - rss0) / 1024.0),
           "<= 40 MiB", rss1 - rss0 <= 40 * 1024 ? 1 : 0);
    addRow("CPU per row filling the traffic log (decode, store, view)",
           fmt("%.1f us", double(c1 - c0) / 1e3 / plv::logs::TrafficLog::DefaultCapacity), "(context)", -1);
    addRow("CPU per row once the ring turns, window open", fmt("%.1f us", double(c2 - c1) / 1e3 / double(turning)),
           "(context)", -1);
    book.hideViews();
    s.setCommMode(mode);
}

void tcpFigures(const Options &o, const Sizes &z, plv::MainWindow &win)
{
    plv::Session &s = win.session();
    Unit u;
    if (!u.start(o.unitPath, {QStringLiteral("--tcp")}) || !u.port) {
        addRow("TCP figures", "unit process did not start", "-", 0);
        return;
    }
    if (!attachTcp(s, u.port)) {
        addRow("TCP figures", "could not connect", "-", 0);
        return;
    }

    phase("reply detection, TCP");
    u.request("etx-clear");
    const Exchanges raw = rawTcp(u.port, z.detectN, 2000);
    const Latency rawL = latency(raw, u.etx(), size_t(z.detectWarm));
    u.request("etx-clear");
    const Exchanges con = consoleExchanges(s, z.detectN, 2000);
    const Latency conL = latency(con, u.etx(), size_t(z.detectWarm));
    detectionRows("TCP", rawL, conL);

    phase("silent unit, TCP");
    silentRow("TCP", win, u, z.silentWaits);

    phase("automatic mode, TCP");
    const AutoRun plain = automaticMode(o, z, win, u);
    phase("HV switch latency, automatic mode, TCP");
    hvRows("TCP", win, u, z);
    s.operate([&] { win.cycle().mnu_MANUAL_Click(); });
    unitGapRows("TCP", plain.unitGaps, true);
    cycleNotes(plain);
    const CycleStats &cs = plain.cs;
    if (!cs.ratio.empty()) {
        addRow("update-cycle period / ideal, median", fmt("%.4f (%zu cycles)", median(cs.ratio), cs.ratio.size()),
               "<= 1.01", median(cs.ratio) <= 1.01 ? 1 : 0);
        addRow("update-cycle period / ideal, worst", fmt("%.4f", maximum(cs.ratio)), "<= 1.03",
               maximum(cs.ratio) <= 1.03 ? 1 : 0);
    } else {
        addRow("update-cycle period / ideal", "no whole cycle recorded", "<= 1.01 / 1.03", 0);
    }
    addRow("CPU, automatic mode", fmt("%.3f %% over %.0f s", plain.cpuPercent, plain.seconds), "<= 2 %",
           plain.cpuPercent <= 2.0 ? 1 : 0);
    addRow("memory, VmRSS in automatic mode", fmt("%.1f MiB (max of samples)", double(plain.rssMaxKiB) / 1024.0),
           "<= 64 MiB", plain.rssMaxKiB <= 64 * 1024 ? 1 : 0);

    viewsFigures(o, z, win, u, plain);

    phase("manual mode, link open, idle");
    runFor(1000);
    const int64_t ic0 = cpuNs(), it0 = nowNs();
    runFor(z.idleMs);
    const int64_t ic1 = cpuNs(), it1 = nowNs();
    const double idleCpu = 100.0 * double(ic1 - ic0) / double(it1 - it0);
    addRow("CPU, idle, TCP link open, manual mode",
           fmt("%.4f %% over %.0f s (%.1f ms CPU)", idleCpu, double(it1 - it0) / 1e9, ms(ic1 - ic0)), "<= 0.1 %",
           idleCpu <= 0.1 ? 1 : 0);

    phase("junk flood, TCP");
    int marks = 0;
    auto c3 = QObject::connect(&s, &plv::Session::unsolicitedStatus, &win, [&] { ++marks; });
    runFor(500);
    const long rss0 = rssKiB();
    const int64_t f0 = nowNs();
    u.request("flood " + QByteArray::number(z.floodBytes));
    const bool done = waitFor([&] { return marks > 0; }, o.quick ? 20000 : 300000);
    const int64_t f1 = nowNs();
    runFor(1000);
    const long rss1 = rssKiB();
    QObject::disconnect(c3);
    note(fmt("%.0f MB of junk %s in %.1f s; VmRSS %.1f -> %.1f MiB", double(z.floodBytes) / 1e6,
             done ? "consumed" : "NOT consumed", double(f1 - f0) / 1e9, double(rss0) / 1024, double(rss1) / 1024));
    addRow(fmt("memory growth after %.0f MB junk on TCP", double(z.floodBytes) / 1e6),
           done ? fmt("%+.2f MiB", double(rss1 - rss0) / 1024.0) : std::string("flood did not finish"), "<= 1 MiB",
           done && rss1 - rss0 <= 1024 ? 1 : 0);

    s.tcp().close();
    s.tmr_NETRCVTMR->stop();
    u.stop();
}

void serialFigures(const Options &o, const Sizes &z, plv::MainWindow &win)
{
    plv::Session &s = win.session();
    Unit u;
    if (!u.start(o.unitPath, {QStringLiteral("--pty")}) || u.pty.isEmpty()) {
        addRow("serial figures", "unit process did not start", "-", 0);
        return;
    }

    phase("reply detection, pseudo-terminal");
    u.request("etx-clear");
    const Exchanges raw = rawPty(u.pty, z.detectN, 2000);
    const Latency rawL = latency(raw, u.etx(), size_t(z.detectWarm));
    if (!attachSerial(s, u.pty)) {
        addRow("serial figures", "could not open the pseudo-terminal", "-", 0);
        return;
    }
    runFor(100);
    u.request("etx-clear");
    const Exchanges con = consoleExchanges(s, z.detectN, 2000);
    const Latency conL = latency(con, u.etx(), size_t(z.detectWarm));
    detectionRows("pty", rawL, conL);

    phase("silent unit, pseudo-terminal");
    silentRow("pty", win, u, z.silentWaits);
    runFor(200);

    phase("automatic mode, pseudo-terminal");
    u.clearStamps();
    s.operate([&] {
        win.status().btn_REQSTAT_Click();
        win.cycle().mnu_AUTOUPDATE_Click();
    });
    runFor(1000);
    const int64_t ac0 = cpuNs(), at0 = nowNs();
    runFor(z.autoPtyMs);
    const int64_t ac1 = cpuNs(), at1 = nowNs();
    const std::vector<int64_t> etxAuto = u.etx();
    const std::vector<double> unitGaps = unitGapsMs(etxAuto, u.rx(), at0, at1);
    phase("HV switch latency, automatic mode, pseudo-terminal");
    hvRows("pty", win, u, z);
    s.operate([&] { win.cycle().mnu_MANUAL_Click(); });
    unitGapRows("pty", unitGaps, false);
    const double autoCpu = 100.0 * double(ac1 - ac0) / double(at1 - at0);
    addRow("CPU, automatic mode, pty", fmt("%.3f %% over %.0f s", autoCpu, double(at1 - at0) / 1e9), "(context)", -1);
    runFor(200);

    phase("unsolicited status frames, pseudo-terminal");
    qint64 count = 0, target = 0;
    int64_t tLast = 0;
    QEventLoop *loop = nullptr;
    auto c1 = QObject::connect(&s, &plv::Session::unsolicitedStatus, &win, [&] {
        ++count;
        tLast = nowNs();
        if (count >= target && loop)
            loop->quit();
    });
    // Runs the event loop until every frame has been decoded, or nothing has arrived for
    // 5 s; the check is two wake-ups a second.
    auto collect = [&] {
        QEventLoop l;
        loop = &l;
        QTimer stall;
        qint64 seen = -1;
        int still = 0;
        QObject::connect(&stall, &QTimer::timeout, &l, [&] {
            still = count == seen ? still + 1 : 0;
            seen = count;
            if (still >= 10)
                l.quit();
        });
        stall.start(500);
        if (count < target)
            l.exec();
        loop = nullptr;
    };

    target = z.paced;
    count = 0;
    const int64_t c0 = cpuNs(), t0 = nowNs();
    u.request("paced " + QByteArray::number(z.paced) + " 11520");
    collect();
    const int64_t cpu1 = cpuNs();
    const QByteArray paced = u.line("paced-done", 5000);
    const double wall = double((tLast ? tLast : nowNs()) - t0) / 1e9;
    const double pacedCpu = 100.0 * double(cpu1 - c0) / 1e9 / wall;
    note(fmt("paced: unit reports '%s'; %lld of %lld frames decoded in %.2f s (%.0f bytes/s of frames)",
             paced.constData(), (long long)count, (long long)z.paced, wall, double(count) * 14 / wall));
    addRow(fmt("unsolicited frames at line rate, lost (%d)", z.paced), fmt("%lld lost", (long long)(z.paced - count)),
           "none lost", count == z.paced ? 1 : 0);
    addRow("CPU, unsolicited frames at line rate", fmt("%.3f %%", pacedCpu), "<= 5 %", pacedCpu <= 5.0 ? 1 : 0);

    qint64 lost = 0;
    double burstCpuWorst = 0, burstWallWorst = 0;
    for (int b = 0; b < z.bursts; ++b) {
        target = z.burst;
        count = 0;
        tLast = 0;
        const int64_t bc0 = cpuNs(), bt0 = nowNs();
        u.request("burst " + QByteArray::number(z.burst), "burst-done");
        collect();
        const int64_t bc1 = cpuNs();
        const double bw = double((tLast ? tLast : nowNs()) - bt0) / 1e9;
        burstWallWorst = std::max(burstWallWorst, bw);
        burstCpuWorst = std::max(burstCpuWorst, 100.0 * double(bc1 - bc0) / 1e9 / bw);
        lost += z.burst - count;
        runFor(200);
    }
    QObject::disconnect(c1);
    note(fmt("bursts: %d x %d frames back to back, slowest drained in %.2f s, CPU while draining up to %.1f %%",
             z.bursts, z.burst, burstWallWorst, burstCpuWorst));
    addRow(fmt("unsolicited frames, bursts of %d, lost (%d bursts)", z.burst, z.bursts),
           fmt("%lld lost", (long long)lost), "none lost", lost == 0 ? 1 : 0);

    s.serial().close();
    s.setSerialConfigured(false);
    s.tmr_COMMWDT->stop();
    u.stop();
}

struct ExitRun {
    bool ok = false;
    double wallMs = 0, cpuMs = 0;
    std::string error;
};

// One run of the exit probe: it enters automatic mode, says "auto", and this silences
// the unit; the probe chooses Exit 200 ms into the reply wait that follows and prints
// the moment and its CPU time. The process's end is seen on a pidfd; wait4 gives the CPU
// time of the whole process.
ExitRun exitRun(const QString &probe, Unit &u, const QStringList &args)
{
    ExitRun R;
    int out = -1;
    const pid_t pid = spawnPiped(probe, args, out, R.error);
    if (!pid)
        return R;
    ::fcntl(out, F_SETFL, O_NONBLOCK);
    // The end is seen on a pidfd; without one (old kernel), by asking every 100 ms.
    const int pidfd = int(::syscall(SYS_pidfd_open, pid, 0));
    int64_t chosen = 0, cpuChosen = 0, end = 0;
    rusage ru{};
    int status = 0;
    bool reaped = false;
    const int64_t start = nowNs();
    std::string text;
    int outFd = out;
    auto lines = [&] {
        size_t nl;
        while ((nl = text.find('\n')) != std::string::npos) {
            const std::string l = text.substr(0, nl);
            text.erase(0, nl + 1);
            if (l == "auto") {
                u.request("silent 1");
            } else if (l.rfind("exit chosen=", 0) == 0) {
                long long t = 0, c = 0;
                if (std::sscanf(l.c_str(), "exit chosen=%lld cpu=%lld", &t, &c) == 2) {
                    chosen = t;
                    cpuChosen = c;
                }
            } else {
                note("exit probe: " + l);
            }
        }
    };
    auto drain = [&] {
        char buf[512];
        while (outFd >= 0) {
            const ssize_t n = ::read(outFd, buf, sizeof buf);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno == EAGAIN)
                return;
            if (n <= 0) {
                ::close(outFd);
                outFd = -1;
                return;
            }
            text.append(buf, size_t(n));
        }
    };
    for (;;) {
        if (nowNs() - start > 60'000'000'000LL) {
            R.error = "did not end within 60 s";
            ::kill(pid, SIGKILL);
            break;
        }
        pollfd p[2] = {{outFd, POLLIN, 0}, {pidfd, POLLIN, 0}};
        if (::poll(p, 2, 100) < 0 && errno != EINTR)
            break;
        if (p[1].revents & POLLIN) {
            end = nowNs();
            break;
        }
        if (pidfd < 0 && ::wait4(pid, &status, WNOHANG, &ru) == pid) {
            end = nowNs();
            reaped = true;
            break;
        }
        if (p[0].revents & (POLLIN | POLLHUP)) {
            drain();
            lines();
        }
    }
    if (!reaped)
        ::wait4(pid, &status, 0, &ru);
    drain();
    if (outFd >= 0)
        ::close(outFd);
    lines();
    if (pidfd >= 0)
        ::close(pidfd);
    u.request("silent 0");
    if (!R.error.empty())
        return R;
    if (!chosen) {
        R.error = "Exit was never chosen";
        return R;
    }
    const int64_t cpuTotal = (int64_t(ru.ru_utime.tv_sec) + ru.ru_stime.tv_sec) * 1000000000
                             + (int64_t(ru.ru_utime.tv_usec) + ru.ru_stime.tv_usec) * 1000;
    R.ok = true;
    R.wallMs = ms(end - chosen);
    R.cpuMs = ms(cpuTotal - cpuChosen);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        note(fmt("exit probe ended with status 0x%x", status));
    return R;
}

void exitFigures(const Options &o, const Sizes &z)
{
    for (const bool tcp : {true, false}) {
        const char *link = tcp ? "TCP" : "pty";
        phase(tcp ? "Exit during a reply wait, silent unit, TCP" : "Exit during a reply wait, silent unit, pseudo-terminal");
        Unit u;
        if (!u.start(o.unitPath, {tcp ? QStringLiteral("--tcp") : QStringLiteral("--pty")})
            || (tcp ? u.port == 0 : u.pty.isEmpty())) {
            addRow(fmt("Exit during a reply wait, %s", link), "unit process did not start", "-", 0);
            continue;
        }
        const QStringList args = tcp ? QStringList{QStringLiteral("--tcp"), QString::number(u.port)}
                                     : QStringList{QStringLiteral("--pty"), u.pty};
        std::vector<double> wall, cpu;
        std::string error;
        for (int i = 0; i < z.exitRuns; ++i) {
            const ExitRun r = exitRun(o.exitPath, u, args);
            if (!r.ok) {
                error = r.error;
                note(fmt("exit run %d, %s: %s", i, link, r.error.c_str()));
                continue;
            }
            note(fmt("exit run %d, %s: Exit chosen to process end %.1f ms, %.1f ms CPU", i, link, r.wallMs, r.cpuMs));
            wall.push_back(r.wallMs);
            cpu.push_back(r.cpuMs);
        }
        if (wall.empty()) {
            addRow(fmt("Exit during a reply wait, silent unit, %s: to process end", link), "not measured: " + error,
                   "<= 0.2 s", 0);
            continue;
        }
        addRow(fmt("Exit during a reply wait, silent unit, %s: to process end", link),
               fmt("%.3f s (worst of %zu)", maximum(wall) / 1000.0, wall.size()), "<= 0.2 s",
               maximum(wall) <= 200.0 ? 1 : 0);
        addRow(fmt("Exit during a reply wait, silent unit, %s: CPU until the end", link),
               fmt("%.3f s (worst of %zu)", maximum(cpu) / 1000.0, cpu.size()), "<= 0.1 s",
               maximum(cpu) <= 100.0 ? 1 : 0);
    }
}

void soakFigure(const Options &o, plv::MainWindow &win)
{
    phase("soak, automatic mode over TCP");
    plv::Session &s = win.session();
    Unit u;
    if (!u.start(o.unitPath, {QStringLiteral("--tcp")}) || !attachTcp(s, u.port)) {
        addRow("memory drift, soak", "unit not reachable", "<= 1 MiB per hour", 0);
        return;
    }
    s.operate([&] { win.cycle().mnu_AUTOUPDATE_Click(); });
    runFor(60000);   // warm-up minute, not counted
    std::vector<double> tH, rss;
    const int64_t t0 = nowNs();
    for (int m = 0; m <= o.soakMinutes; ++m) {
        if (m)
            runFor(60000);
        tH.push_back(double(nowNs() - t0) / 3.6e12);
        rss.push_back(double(rssKiB()) / 1024.0);
        note(fmt("minute %d: VmRSS %.2f MiB", m, rss.back()));
    }
    s.operate([&] { win.cycle().mnu_MANUAL_Click(); });
    // Least-squares slope: one lucky or unlucky sample does not decide the figure.
    const double n = double(tH.size());
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (size_t i = 0; i < tH.size(); ++i) {
        sx += tH[i];
        sy += rss[i];
        sxx += tH[i] * tH[i];
        sxy += tH[i] * rss[i];
    }
    const double slope = n > 1 ? (n * sxy - sx * sy) / (n * sxx - sx * sx) : 0;
    addRow(fmt("memory drift, %d min soak (slope)", o.soakMinutes),
           fmt("%+.3f MiB/h (first %.2f, last %.2f MiB)", slope, rss.front(), rss.back()), "<= 1 MiB per hour",
           slope <= 1.0 ? 1 : 0);
    s.tcp().close();
    u.stop();
}

void printTable(bool quick)
{
    size_t w0 = 6, w1 = 8, w2 = 4;
    for (const Row &r : g_rows) {
        w0 = std::max(w0, r.figure.size());
        w1 = std::max(w1, r.measured.size());
        w2 = std::max(w2, r.goal.size());
    }
    std::printf("\n=== benchmark table%s ===\n", quick ? " (quick mode: short runs, figures indicative only)" : "");
    std::printf("%-*s | %-*s | %-*s | %s\n", int(w0), "figure", int(w1), "measured", int(w2), "goal", "result");
    std::printf("%s\n", std::string(w0 + w1 + w2 + 17, '-').c_str());
    int miss = 0;
    for (const Row &r : g_rows) {
        const char *v = r.verdict == 1 ? "PASS" : r.verdict == 0 ? "MISS" : "info";
        miss += r.verdict == 0;
        std::printf("%-*s | %-*s | %-*s | %s\n", int(w0), r.figure.c_str(), int(w1), r.measured.c_str(), int(w2),
                    r.goal.c_str(), v);
    }
    std::printf("=== end of table: %d MISS (load average at the end %s) ===\n", miss, loadAverage().c_str());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    const Options o = parse(argc, argv);
    // Settings, event files and recordings of every console started here, its own and
    // the launched ones, go to a folder that is removed at the end.
    QTemporaryDir xdg;
    qputenv("XDG_CONFIG_HOME", QDir(xdg.path()).filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_STATE_HOME", QDir(xdg.path()).filePath(QStringLiteral("state")).toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::signal(SIGPIPE, SIG_IGN);

    const Sizes z = o.quick ? Sizes{1, 100, 20, 1, 4000, 1000, 1500, 1, 2000, 5'000'000, 4000, 6, 2, 1}
                            : Sizes{5, 1500, 100, 3, 60000, 60000, 100000, 3, 20000, 100'000'000, 20000, 30, 6, 3};

    std::printf("bench_plv%s: %ld CPUs, %s, Qt %s, build %s\n", o.quick ? " --quick" : "", sysconf(_SC_NPROCESSORS_ONLN),
                cpuModel().c_str(), qVersion(), BENCH_BUILD_TYPE);
    std::fflush(stdout);

    QApplication app(argc, argv);
    startupFigures(o, z);

    QuietPrompter prompter;
    plv::setPrompter(&prompter);
    {
        plv::MainWindow win(plv::plvBuild());
        win.show();
        runFor(300);
        tcpFigures(o, z, win);
        serialFigures(o, z, win);
        trafficMemoryFigure(z, win);
        exitFigures(o, z);
        if (o.soak)
            soakFigure(o, win);
        win.session().tmr_COMMWDT->stop();
    }
    plv::setPrompter(nullptr);
    printTable(o.quick);
    return 0;
}
