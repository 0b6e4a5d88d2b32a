// Renders the README's pictures on Qt's offscreen platform: the main window of one
// build connected to the simulated unit in automatic mode, the diagnostics window, and
// the main window after the unit has fallen silent, and the traffic log, event log and
// trends windows after half a minute of readings.
//   plv_screenshots OUTDIR
#include "panels/dialogs.h"
#include "panels/prompt.h"
#include "console/logbook.h"
#include "console/mainwindow.h"
#include "panels/controlspanel.h"
#include "panels/eventwindow.h"
#include "panels/healthstrip.h"
#include "panels/setpointeditor.h"
#include "panels/trafficwindow.h"
#include "panels/trendswindow.h"
#include "widgets/widgets.h"
#include "link/session.h"
#include "sim/simunit.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

using namespace plv;

namespace {

// Answers the Remote Host dialog the way an operator would.
class Answers : public Prompter {
public:
    quint16 port = 0;
    void message(QWidget *, const QString &, const QString &, Icon) override {}
    bool input(QWidget *, const QString &, const QString &, QString &) override { return false; }
    // HV ON is wanted here; everything else takes its default.
    int choose(QWidget *, const QString &, const QStringList &choices, int defaultIndex, int) override
    {
        return choices.value(0) == QLatin1String("Switch HV ON") ? 0 : defaultIndex;
    }
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

// Half a minute of automatic mode with the unit answering again, recorded and trended: the
// kV setpoint programmed higher, an interlock trip, HV switched on again. Then the three
// View windows, and the first rows of the recording on standard output.
void views(MainWindow &win, SimUnit &sim, const QString &dir)
{
    Session &s = win.session();
    Logbook &book = win.logbook();
    QTemporaryDir rec;
    const QString csv = rec.filePath(QStringLiteral("readbacks.csv"));
    book.startRecording(csv);
    book.trendsWindow().setSpanMinutes(1);
    QTest::qWait(10000);
    s.operate([&] {
        SetpointEditor &e = win.editor();
        e.selectChannel(Channel::A);
        e.ctrl_BITVAL->setValue(2900);
        e.program();
    });
    QTest::qWait(8000);
    sim.setInterlockOpen(true);
    QTest::qWait(5000);
    sim.setInterlockOpen(false);
    QTest::qWait(2000);
    s.operate([&] { win.controls().hvAction(); });
    QTest::qWait(6000);
    book.stopRecording();
    book.recorder().waitForWritten(5000);
    for (auto v : {Logbook::View::Traffic, Logbook::View::Events, Logbook::View::Trends})
        book.showView(v);
    QTest::qWait(1500);   // the traffic table takes its rows once a second
    book.trafficWindow().grab().save(dir + QStringLiteral("/plv-traffic.png"));
    book.eventWindow().grab().save(dir + QStringLiteral("/plv-events.png"));
    book.trendsWindow().grab().save(dir + QStringLiteral("/plv-trends.png"));
    book.hideViews();
    QFile f(csv);
    if (f.open(QIODevice::ReadOnly))
        for (int i = 0; i < 3 && !f.atEnd(); ++i)
            std::fputs(f.readLine().constData(), stdout);
}

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
    // Two full cycles, so every panel holds a value from the unit.
    QTest::qWait(1600);
    win.grab().save(dir + QStringLiteral("/%1-main.png").arg(build.id));
    if (build.id == QLatin1String("plv")) {
        // The safety header: normal with HV on, then with a TEMP fault latched.
        QWidget &header = win.healthStrip();
        header.grab().save(dir + QStringLiteral("/plv-header-normal.png"));
        sim.setFaultFlag(SimUnit::Temperature, true);
        QTest::qWait(1600);
        sim.setFaultFlag(SimUnit::Temperature, false);
        QTest::qWait(1600);
        header.grab().save(dir + QStringLiteral("/plv-header-alarm.png"));
        ExtrasWindow &x = win.extras();
        x.txt_COMMERRORS->setText(QString::number(s.CommErrors()));
        x.show();
        QTest::qWait(100);
        x.grab().save(dir + QStringLiteral("/extras.png"));
        // The unit falls silent with high voltage on: NO REPLY, stale values.
        x.hide();
        sim.setFaults({.silent = true});
        QTest::qWait(4000);
        win.grab().save(dir + QStringLiteral("/plv-lost-link.png"));
        header.grab().save(dir + QStringLiteral("/plv-header-lost-link.png"));
        sim.setFaults({});
        views(win, sim, dir);   // switches HV on again: the question is answered here
    }
    setPrompter(nullptr);
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
