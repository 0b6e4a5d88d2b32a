// Renders the README's pictures on Qt's offscreen platform: the main window of one
// build connected to the simulated unit in automatic mode, the diagnostics window, and
// the main window after the unit has fallen silent.
//   plv_screenshots OUTDIR
#include "panels/dialogs.h"
#include "panels/prompt.h"
#include "console/mainwindow.h"
#include "link/session.h"
#include "sim/simunit.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

using namespace plv;

namespace {

// Answers the Remote Host dialog the way an operator would.
class Answers : public Prompter {
public:
    quint16 port = 0;
    void message(QWidget *, const QString &, const QString &, Icon) override {}
    bool input(QWidget *, const QString &, const QString &, QString &) override { return false; }
    int choose(QWidget *, const QString &, const QStringList &, int defaultIndex, int) override { return defaultIndex; }
    int exec(QDialog &dialog) override
    {
        if (auto *host = qobject_cast<RemoteHostDialog *>(&dialog)) {
            host->txtHost->setText(QStringLiteral("127.0.0.1"));
            host->txtPortNumber->setText(QString::number(port));
            host->accept();
            return QDialog::Accepted;
        }
        dialog.reject();
        return QDialog::Rejected;
    }
};

bool shoot(const BuildData &build, const QString &dir)
{
    SimUnit sim;
    if (!sim.listenTcp(0))
        return false;
    sim.setSetpoint(0, 2048);
    sim.setSetpoint(1, 3000);
    sim.setSetpoint(2, 1800);
    sim.setSetpoint(3, 600);
    sim.setHvOn(true);
    sim.setRemote(true);

    MainWindow win(build, [](QString *) { return std::unique_ptr<TesselClient>(); });
    win.resize(win.sizeHint());
    win.show();
    Session &s = win.session();
    Answers answers;
    answers.port = sim.tcpPort();
    setPrompter(&answers);
    win.findChild<QAction *>(QStringLiteral("mnu_ethernet"))->trigger();   // Ports > Ethernet: status request, then automatic update
    setPrompter(nullptr);
    // Two full cycles, so every panel holds a value from the unit.
    QTest::qWait(1600);
    win.grab().save(dir + QStringLiteral("/%1-main.png").arg(build.id));
    if (build.id == QLatin1String("plv")) {
        ExtrasWindow &x = win.extras();
        x.txt_COMMERRORS->setText(QString::number(s.CommErrors));
        x.show();
        QTest::qWait(100);
        x.grab().save(dir + QStringLiteral("/extras.png"));
        // The unit falls silent with high voltage on: NO REPLY, stale values.
        x.hide();
        sim.setFaults({.silent = true});
        QTest::qWait(4000);
        win.grab().save(dir + QStringLiteral("/plv-lost-link.png"));
        sim.setFaults({});
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The pictures' consoles keep their settings and event files out of the user's home.
    QTemporaryDir xdg;
    qputenv("XDG_CONFIG_HOME", QDir(xdg.path()).filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_STATE_HOME", QDir(xdg.path()).filePath(QStringLiteral("state")).toLocal8Bit());
    QApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs");
    QDir().mkpath(dir);
    const bool ok = shoot(plvBuild(), dir) && shoot(plrBuild(), dir);
    return ok ? 0 : 1;
}
