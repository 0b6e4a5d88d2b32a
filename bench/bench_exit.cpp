// bench_exit: the console started as runConsole() starts it (QApplication, the PLV
// build's main window, programEnded ending the event loop), driven to the moment the
// benchmark times: the operator chooses Exit while a reply is awaited.
//
//   bench_exit --tcp PORT | --pty PATH
//
// It attaches the link, enters automatic mode and prints "auto" once the cycle runs;
// the benchmark then silences the unit. When a reply has been awaited for 200 ms the
// program prints "exit chosen=NS cpu=NS" (CLOCK_MONOTONIC and its own CPU time so far)
// and triggers mnu_EXIT as the menu would. The benchmark times from that stamp to the
// process's end. Message boxes are printed instead of waiting for an operator.
#include "bench/benchutil.h"
#include "console/mainwindow.h"
#include "panels/prompt.h"
#include "link/session.h"
#include "panels/statuspanel.h"
#include "unit/updatecycle.h"

#include <QAction>
#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstring>

namespace {

void say(const char *f, long long a = 0, long long b = 0)
{
    std::printf(f, a, b);
    std::fflush(stdout);
}

class PrintingPrompter : public plv::Prompter {
public:
    void message(QWidget *, const QString &text, const QString &, Icon) override
    {
        std::printf("message %s\n", qPrintable(text));
        std::fflush(stdout);
    }
    bool input(QWidget *, const QString &, const QString &, QString &text) override
    {
        text.clear();
        return false;
    }
    int exec(QDialog &) override { return 0; }
    int choose(QWidget *, const QString &, const QStringList &, int defaultIndex, int) override { return defaultIndex; }
};

} // namespace

int main(int argc, char *argv[])
{
    QString tcpPort, ptyPath;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--tcp") == 0)
            tcpPort = QString::fromLocal8Bit(argv[++i]);
        else if (std::strcmp(argv[i], "--pty") == 0)
            ptyPath = QString::fromLocal8Bit(argv[++i]);
    }
    if (tcpPort.isEmpty() == ptyPath.isEmpty()) {
        std::fprintf(stderr, "usage: bench_exit --tcp PORT | --pty PATH\n");
        return 2;
    }

    QApplication app(argc, argv);
    PrintingPrompter prompter;
    plv::setPrompter(&prompter);
    plv::MainWindow window(plv::plvBuild());
    QObject::connect(&window, &plv::MainWindow::programEnded, &app, &QApplication::quit, Qt::QueuedConnection);
    plv::Session &s = window.session();
    QAction *exitItem = window.findChild<QAction *>(QStringLiteral("mnu_EXIT"));
    if (!exitItem) {
        std::fprintf(stderr, "bench_exit: no mnu_EXIT\n");
        return 1;
    }

    // A reply awaited for 200 ms will not come: the unit has been silenced.
    QTimer stuck;
    stuck.setSingleShot(true);
    stuck.setTimerType(Qt::PreciseTimer);
    stuck.setInterval(200);
    bool chosen = false;
    QObject::connect(&s, &plv::Session::txFrame, &stuck, [&] {
        if (!chosen)
            stuck.start();
    });
    QObject::connect(&s, &plv::Session::rxText, &stuck, [&](const QByteArray &, bool prefixed) {
        if (prefixed)
            stuck.stop();
    });
    QObject::connect(&stuck, &QTimer::timeout, &window, [&] {
        if (chosen || !s.waiting())
            return;
        chosen = true;
        say("exit chosen=%lld cpu=%lld\n", bench::nowNs(), bench::cpuNs());
        exitItem->trigger();
    });

    auto automatic = [&] {
        s.operate([&] {
            window.status().btn_REQSTAT_Click();
            window.cycle().mnu_AUTOUPDATE_Click();
        });
        QTimer::singleShot(700, &window, [] { say("auto\n"); });
    };
    QTimer::singleShot(0, &window, [&] {
        if (!ptyPath.isEmpty()) {
            s.serial().setPortName(ptyPath);
            if (!s.serial().open()) {
                say("error cannot open the pseudo-terminal\n");
                QCoreApplication::exit(1);
                return;
            }
            s.setSerialConfigured(true);
            s.setCommMode(QStringLiteral("comm1"));
            s.tmr_NETRCVTMR->stop();
            s.tmr_RCVTIMER->start();
            automatic();
            return;
        }
        QObject::connect(&s.tcp(), &plv::TcpTransport::connected, &window, [&] {
            s.tmr_RCVTIMER->stop();
            s.tmr_NETRCVTMR->start();
            automatic();
        });
        s.setCommMode(QStringLiteral("ethernet"));
        s.tcp().setRemote(QStringLiteral("127.0.0.1"), quint16(tcpPort.toUInt()));
        s.tcp().connectToUnit();
    });
    window.show();
    const int rc = app.exec();
    plv::setPrompter(nullptr);
    return rc;
}
