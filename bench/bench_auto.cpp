// bench_auto: the console in automatic mode over TCP for a fixed span, for profilers. It
// starts bench_unit, shows a PLV main window on the offscreen platform, enters automatic
// mode, lets it settle for 1.5 s and then runs the measured span. It prints the CPU time of
// the span and the commands sent in it. Under callgrind only the span is counted; divided
// by the commands sent, that is a figure other work on the machine does not move:
//
//   QT_QPA_PLATFORM=offscreen valgrind --tool=callgrind --collect-atstart=no bench_auto
//
//   bench_auto [--seconds N] [--unit PATH]     (10 s by default)
#include "bench/benchutil.h"
#include "console/mainwindow.h"
#include "panels/prompt.h"
#include "link/session.h"
#include "panels/statuspanel.h"
#include "unit/updatecycle.h"

#include <QApplication>
#include <QProcess>
#include <QTimer>

#include <cstdio>
#include <cstring>

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_TOGGLE_COLLECT
#endif

namespace {

class PrintingPrompter : public plv::Prompter {
public:
    void message(QWidget *, const QString &text, const QString &, Icon) override
    {
        std::fprintf(stderr, "bench_auto: the console showed a message: %s\n", qPrintable(text));
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
    int seconds = 10;
    QString unitPath = QStringLiteral(BENCH_UNIT_PATH);
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--unit") == 0)
            unitPath = QString::fromLocal8Bit(argv[++i]);
    }
    QApplication app(argc, argv);

    QProcess unit;
    unit.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    unit.start(unitPath, {QStringLiteral("--tcp")});
    quint16 port = 0;
    while (unit.waitForReadyRead(5000)) {
        bool ready = false;
        while (unit.canReadLine()) {
            const QByteArray l = unit.readLine().trimmed();
            if (l.startsWith("tcp "))
                port = quint16(l.mid(4).toUInt());
            ready = ready || l == "ready";
        }
        if (ready)
            break;
    }
    if (!port) {
        std::fprintf(stderr, "bench_auto: the unit process did not start\n");
        return 1;
    }

    PrintingPrompter prompter;
    plv::setPrompter(&prompter);
    int rc = 0;
    {
        plv::MainWindow window(plv::plvBuild());
        window.show();
        plv::Session &s = window.session();
        int64_t c0 = 0, t0 = 0;
        int sent = 0;
        QObject::connect(&s, &plv::Session::txFrame, &window, [&] { sent += t0 != 0; });
        QObject::connect(&s.tcp(), &plv::TcpTransport::connected, &window, [&] {
            s.tmr_RCVTIMER->stop();
            s.tmr_NETRCVTMR->start();
            s.operate([&] {
                window.status().btn_REQSTAT_Click();
                window.cycle().mnu_AUTOUPDATE_Click();
            });
            QTimer::singleShot(1500, &window, [&] {
                c0 = bench::cpuNs();
                t0 = bench::nowNs();
                CALLGRIND_TOGGLE_COLLECT;
                QTimer::singleShot(seconds * 1000, Qt::PreciseTimer, &window, [&] {
                    CALLGRIND_TOGGLE_COLLECT;
                    const int64_t c1 = bench::cpuNs(), t1 = bench::nowNs();
                    std::printf("automatic mode over TCP: %.3f s CPU in %.3f s = %.3f %%, %d commands sent, "
                                "%d comm errors\n",
                                double(c1 - c0) / 1e9, double(t1 - t0) / 1e9,
                                100.0 * double(c1 - c0) / double(t1 - t0), sent, s.CommErrors());
                    std::fflush(stdout);
                    s.operate([&] { window.cycle().mnu_MANUAL_Click(); });
                    QCoreApplication::quit();
                });
            });
        });
        s.setCommMode(QStringLiteral("ethernet"));
        s.tcp().setRemote(QStringLiteral("127.0.0.1"), port);
        s.tcp().connectToUnit();
        QTimer::singleShot(10000, &window, [&] {
            if (!t0) {
                std::fprintf(stderr, "bench_auto: no connection to the unit\n");
                rc = 1;
                QCoreApplication::quit();
            }
        });
        app.exec();
        s.tcp().close();
    }
    plv::setPrompter(nullptr);
    unit.write("quit\n");
    if (!unit.waitForFinished(3000))
        unit.kill();
    return rc;
}
