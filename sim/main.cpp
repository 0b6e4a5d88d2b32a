// unit_sim: the simulated power-supply unit as a stand-alone program, for
// demos and operator training without hardware.

#include "sim/simunit.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char *const FlagNames[SimUnit::FlagCount] = {"arc", "temp", "ov", "uv", "oc", "uc"};

void say(const QString &line)
{
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

// Modes combine: each call adds to the faults already set ("none" clears).
bool applyFaultMode(const QString &mode, SimUnit::Faults &f)
{
    const QStringList part = mode.split(QLatin1Char(':'));
    bool ok = true;
    const QString &name = part.first();
    if (name == QLatin1String("none")) {
        f = {};
    } else if (name == QLatin1String("silent")) {
        f.silent = true;
    } else if (name == QLatin1String("delay") && part.size() == 2) {
        f.replyDelayMs = part[1].toInt(&ok);
    } else if (name == QLatin1String("noetx")) {
        f.noEtx = true;
    } else if (name == QLatin1String("junk")) {
        f.junkBeforeStx = "xx";
    } else if (name == QLatin1String("chunks") && (part.size() == 2 || part.size() == 3)) {
        f.chunkSize = part[1].toInt(&ok);
        if (ok && part.size() == 3)
            f.chunkGapMs = part[2].toInt(&ok);
    } else if (name == QLatin1String("refuse")) {
        f.refuseAll = true;
    } else if (name == QLatin1String("drop")) {
        f.dropConnection = true;
    } else {
        return false;
    }
    return ok;
}

QString printable(const QByteArray &bytes)
{
    QString out;
    for (char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        out += (u >= 0x20 && u < 0x7F) ? QString(QLatin1Char(c)) : QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
    }
    return out;
}

QString onOff(bool b) { return b ? QStringLiteral("on") : QStringLiteral("off"); }

void printStatus(const SimUnit &u)
{
    QStringList flags;
    for (int i = 0; i < SimUnit::FlagCount; ++i)
        if (u.faultFlag(i))
            flags << QLatin1String(FlagNames[i]);
    say(QStringLiteral("HV %1, interlock %2, fault %3 [%4], %5 control")
            .arg(onOff(u.hvOn()), u.interlockOpen() ? QStringLiteral("open") : QStringLiteral("closed"),
                 onOff(u.fault()), flags.join(QLatin1Char(' ')),
                 u.remote() ? QStringLiteral("remote") : QStringLiteral("local")));
    say(QStringLiteral("setpoints A..D %1 %2 %3 %4, filament limit %5, model %6 %7, hours %8")
            .arg(u.setpoint(0)).arg(u.setpoint(1)).arg(u.setpoint(2)).arg(u.setpoint(3))
            .arg(u.filamentLimitCode()).arg(u.modelFamily(), u.modelNumber()).arg(u.hours()));
    say(QStringLiteral("commands %1, bad checksums %2, TCP clients %3")
            .arg(u.commandsHandled()).arg(u.badChecksums()).arg(u.tcpClientCount()));
}

const char *const TrainingHelp =
    "  interlock open|closed     open the interlock (trips HV) or close it\n"
    "  fault on|off              set or clear the supply fault (off clears the flags too)\n"
    "  flag arc|temp|ov|uv|oc|uc on|off\n"
    "                            set a fault flag; on also sets the supply fault\n"
    "  hv off                    trip high voltage\n"
    "  mode MODE                 misbehave: none|silent|delay:MS|noetx|junk|chunks:SIZE:GAPMS|refuse|drop\n"
    "  status                    show the unit state\n"
    "  send                      send one unsolicited status frame\n"
    "  drop                      drop every connection now\n"
    "  quit";

void trainingCommand(SimUnit &u, const QString &line)
{
    const QStringList w = line.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (w.isEmpty())
        return;
    const QString cmd = w.first();
    const QString arg = w.value(1);
    if (cmd == QLatin1String("quit") || cmd == QLatin1String("exit")) {
        QCoreApplication::quit();
    } else if (cmd == QLatin1String("help") || cmd == QLatin1String("?")) {
        say(QString::fromLatin1(TrainingHelp));
    } else if (cmd == QLatin1String("status")) {
        printStatus(u);
    } else if (cmd == QLatin1String("interlock") && (arg == QLatin1String("open") || arg == QLatin1String("closed"))) {
        u.setInterlockOpen(arg == QLatin1String("open"));
        printStatus(u);
    } else if (cmd == QLatin1String("fault") && (arg == QLatin1String("on") || arg == QLatin1String("off"))) {
        if (arg == QLatin1String("on"))
            u.setFault(true);
        else
            u.resetFaults();
        printStatus(u);
    } else if (cmd == QLatin1String("flag") && w.size() == 3) {
        const int i = QStringList{FlagNames[0], FlagNames[1], FlagNames[2], FlagNames[3], FlagNames[4], FlagNames[5]}
                          .indexOf(arg);
        if (i < 0 || (w[2] != QLatin1String("on") && w[2] != QLatin1String("off"))) {
            say(QStringLiteral("flag NAME on|off, NAME one of arc temp ov uv oc uc"));
            return;
        }
        u.setFaultFlag(i, w[2] == QLatin1String("on"));
        if (w[2] == QLatin1String("on"))
            u.setFault(true);
        printStatus(u);
    } else if (cmd == QLatin1String("hv") && arg == QLatin1String("off")) {
        u.setHvOn(false);
        printStatus(u);
    } else if (cmd == QLatin1String("mode") && !arg.isEmpty()) {
        SimUnit::Faults f = u.faults();
        if (applyFaultMode(arg, f))
            u.setFaults(f);
        else
            say(QStringLiteral("unknown mode %1").arg(arg));
    } else if (cmd == QLatin1String("send")) {
        u.sendUnsolicitedStatus();
    } else if (cmd == QLatin1String("drop")) {
        u.dropConnections();
    } else {
        say(QStringLiteral("unknown command; type help"));
    }
}

// Training commands come line by line from a terminal or a pipe.
void watchStdin(SimUnit &unit)
{
    struct stat st{};
    if (::fstat(STDIN_FILENO, &st) != 0 || !(S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode)))
        return;
    auto *notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, &unit);
    auto *pending = new QByteArray;
    QObject::connect(notifier, &QObject::destroyed, [pending] { delete pending; });
    QObject::connect(notifier, &QSocketNotifier::activated, &unit, [notifier, pending, &unit] {
        char buf[1024];
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n <= 0) {  // EOF or a background job's EIO: carry on without stdin
            if (n == 0 || errno != EAGAIN)
                notifier->setEnabled(false);
            return;
        }
        pending->append(buf, n);
        qsizetype nl;
        while ((nl = pending->indexOf('\n')) >= 0) {
            const QString line = QString::fromLocal8Bit(pending->left(nl));
            pending->remove(0, nl + 1);
            trainingCommand(unit, line);
        }
    });
}

// SIGINT/SIGTERM are read from a signalfd so the program quits through the
// event loop and the pty link gets removed. Blocked before Qt starts any
// thread, so every thread inherits the mask.
int blockQuitSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    if (::sigprocmask(SIG_BLOCK, &set, nullptr) != 0)
        return -1;
    return ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
}

} // namespace

int main(int argc, char *argv[])
{
    std::signal(SIGTTIN, SIG_IGN);  // a background job reading the terminal gets EIO, not stopped
    const int signalFd = blockQuitSignals();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("unit_sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simulated high-voltage power-supply unit for demos, training, tests and benchmarks.\n"
        "Without link options it listens on TCP 127.0.0.1:5025 and opens a pseudo-terminal.\n"
        "Type 'help' on standard input for training commands."));
    parser.addHelpOption();
    const QCommandLineOption tcpOpt(QStringLiteral("tcp"), QStringLiteral("Listen on TCP port <port> (0 picks a free one)."), QStringLiteral("port"));
    const QCommandLineOption bindOpt(QStringLiteral("bind"), QStringLiteral("Address to listen on (default 127.0.0.1)."), QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption ptyOpt(QStringLiteral("pty"), QStringLiteral("Open a pseudo-terminal as the serial link."));
    const QCommandLineOption linkOpt(QStringLiteral("pty-link"), QStringLiteral("Keep a symbolic link <path> to the console's end of the pty (implies --pty)."), QStringLiteral("path"));
    const QCommandLineOption periodOpt(QStringLiteral("status-period"), QStringLiteral("Send an unsolicited status frame every <ms> milliseconds."), QStringLiteral("ms"));
    const QCommandLineOption interlockOpt(QStringLiteral("interlock-open"), QStringLiteral("Start with the interlock open."));
    const QCommandLineOption faultOpt(QStringLiteral("fault"), QStringLiteral("Misbehave: silent|delay:MS|noetx|junk|chunks:SIZE:GAPMS|refuse|drop (repeatable)."), QStringLiteral("mode"));
    const QCommandLineOption quietOpt(QStringLiteral("quiet"), QStringLiteral("Do not log received commands."));
    parser.addOptions({tcpOpt, bindOpt, ptyOpt, linkOpt, periodOpt, interlockOpt, faultOpt, quietOpt});
    parser.process(app);

    SimUnit unit;
    bool useTcp = parser.isSet(tcpOpt);
    bool usePty = parser.isSet(ptyOpt) || parser.isSet(linkOpt);
    if (!useTcp && !usePty)
        useTcp = usePty = true;

    SimUnit::Faults faults;
    for (const QString &mode : parser.values(faultOpt)) {
        if (!applyFaultMode(mode, faults)) {
            std::fprintf(stderr, "unit_sim: unknown fault mode '%s'\n", qPrintable(mode));
            return 2;
        }
    }
    unit.setFaults(faults);
    unit.setInterlockOpen(parser.isSet(interlockOpt));

    if (useTcp) {
        bool ok = true;
        const uint port = parser.isSet(tcpOpt) ? parser.value(tcpOpt).toUInt(&ok) : 5025;
        const QHostAddress address(parser.value(bindOpt));
        if (!ok || port > 65535 || address.isNull()) {
            std::fprintf(stderr, "unit_sim: bad --tcp port or --bind address\n");
            return 2;
        }
        if (!unit.listenTcp(quint16(port), address)) {
            std::fprintf(stderr, "unit_sim: cannot listen on %s:%u: %s (try --tcp 0)\n",
                         qPrintable(address.toString()), port, qPrintable(unit.errorString()));
            return 1;
        }
        const QString host = unit.tcpAddress().toString();
        say(QStringLiteral("TCP: listening on %1:%2").arg(host).arg(unit.tcpPort()));
        say(QStringLiteral("  In the console choose Ports > Ethernet, host %1, port %2").arg(host).arg(unit.tcpPort()));
    }
    if (usePty) {
        const bool ok = unit.openPty(parser.value(linkOpt));
        if (unit.ptyPath().isEmpty()) {
            std::fprintf(stderr, "unit_sim: %s\n", qPrintable(unit.errorString()));
            return 1;
        }
        if (!ok)
            std::fprintf(stderr, "unit_sim: %s\n", qPrintable(unit.errorString()));
        const QString link = unit.ptyLink().isEmpty() ? QString() : QStringLiteral(" (link %1)").arg(unit.ptyLink());
        say(QStringLiteral("Serial: console end is %1%2").arg(unit.ptyPath(), link));
        say(QStringLiteral("  In the console choose Ports > COMM USER and enter %1")
                .arg(unit.ptyLink().isEmpty() ? unit.ptyPath() : unit.ptyLink()));
    }
    if (parser.isSet(periodOpt)) {
        unit.setStatusPeriodMs(parser.value(periodOpt).toInt());
        say(QStringLiteral("Unsolicited status every %1 ms").arg(unit.statusPeriodMs()));
    }

    if (!parser.isSet(quietOpt)) {
        const auto log = [&unit](const QByteArray &, const char *note) {
            const SimUnit::TraceEntry &e = unit.trace().constLast();
            say(QStringLiteral("[%1] %2 <- %3%4")
                    .arg(e.tMs / 1000.0, 10, 'f', 3)
                    .arg(e.link == SimUnit::Link::Tcp ? QStringLiteral("TCP   ") : QStringLiteral("Serial"),
                         printable(e.payload), QLatin1String(note)));
        };
        QObject::connect(&unit, &SimUnit::commandReceived, &unit, [log](const QByteArray &p) { log(p, ""); });
        QObject::connect(&unit, &SimUnit::badChecksumReceived, &unit, [log](const QByteArray &p) { log(p, "  (bad checksum, ignored)"); });
        QObject::connect(&unit, &SimUnit::clientConnected, &unit, [] { say(QStringLiteral("TCP client connected")); });
        QObject::connect(&unit, &SimUnit::clientDisconnected, &unit, [] { say(QStringLiteral("TCP client disconnected")); });
    }

    if (signalFd >= 0) {
        auto *notifier = new QSocketNotifier(signalFd, QSocketNotifier::Read, &unit);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    }
    watchStdin(unit);
    return app.exec();
}
