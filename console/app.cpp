#include "console/app.h"

#include "panels/dialogs.h"
#include "panels/prompt.h"
#include "console/mainwindow.h"

#include <QApplication>
#include <QGuiApplication>
#include <QIcon>

namespace plv {

int runConsole(int argc, char **argv, const BuildData &build)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(build.id == QLatin1String("plr") ? QStringLiteral("plr")
                                                                      : QStringLiteral("plv_NXPUSB"));
    // No display name: Qt would append it to every title, and a title must read exactly
    // its caption (and " — HV ON"). Message boxes take the caption from here instead.
    setPromptCaption(build.windowCaption);
    QGuiApplication::setDesktopFileName(QApplication::applicationName());
    // The installed theme icon when there is one, our drawn mark otherwise.
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("plv-console"), QIcon(consoleLogo())));
    MainWindow window(build);
    QObject::connect(&window, &MainWindow::programEnded, &app, &QApplication::quit, Qt::QueuedConnection);
    window.show();
    return app.exec();
}

} // namespace plv
