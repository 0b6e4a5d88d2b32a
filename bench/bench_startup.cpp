// bench_startup: the console's own start-up (QApplication, the PLV build's main window,
// show) with stamps at each stage, printed as CLOCK_MONOTONIC nanoseconds so the
// benchmark can subtract the moment it exec'd this program. "painted" is taken once the
// window's first expose event has been handled: the widgets paint and flush their
// backing store synchronously inside that handler. With --stay the program then idles in
// its event loop, like the real console, so the benchmark can check its outside
// readiness probe against these stamps.
#include "bench/benchutil.h"
#include "console/mainwindow.h"

#include <QApplication>
#include <QGuiApplication>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <cstring>
#include <functional>

namespace {

class ExposeWatch : public QObject {
public:
    QWidget *target = nullptr;
    int64_t firstPaint = 0, exposed = 0;
    std::function<void()> onExposed;

protected:
    bool eventFilter(QObject *o, QEvent *e) override
    {
        if (e->type() == QEvent::Paint && o == target && !firstPaint)
            firstPaint = bench::nowNs();
        if (e->type() == QEvent::Expose && !exposed && target && o == target->windowHandle()
            && target->windowHandle()->isExposed()) {
            exposed = bench::nowNs();
            // Runs after the expose handler (and its paint) has returned.
            QTimer::singleShot(0, onExposed);
        }
        return false;
    }
};

} // namespace

int main(int argc, char *argv[])
{
    const int64_t tMain = bench::nowNs();
    bool stay = false;
    for (int i = 1; i < argc; ++i)
        stay = stay || std::strcmp(argv[i], "--stay") == 0;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("plv_NXPUSB"));
    QApplication::setApplicationDisplayName(plv::plvBuild().windowCaption);
    QGuiApplication::setDesktopFileName(QApplication::applicationName());
    const int64_t tApp = bench::nowNs();

    ExposeWatch watch;
    app.installEventFilter(&watch);
    plv::MainWindow window(plv::plvBuild());
    const int64_t tWindow = bench::nowNs();
    int64_t tShown = 0;
    watch.target = &window;
    watch.onExposed = [&] {
        const int64_t tPainted = bench::nowNs();
        std::printf("startup main=%lld app=%lld window=%lld shown=%lld firstpaint=%lld exposed=%lld painted=%lld\n",
                    (long long)tMain, (long long)tApp, (long long)tWindow, (long long)tShown,
                    (long long)watch.firstPaint, (long long)watch.exposed, (long long)tPainted);
        std::fflush(stdout);
        if (!stay)
            QCoreApplication::quit();
    };
    window.show();
    tShown = bench::nowNs();
    return app.exec();
}
