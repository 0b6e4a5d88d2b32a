#include "console/mainwindow.h"

#include "console/exitsequence.h"
#include "console/linkchoice.h"
#include "console/linkwatch.h"
#include "console/logbook.h"
#include "console/remembered.h"
#include "console/safety.h"
#include "link/session.h"
#include "logs/sample.h"
#include "panels/controlspanel.h"
#include "panels/healthstrip.h"
#include "panels/infopanel.h"
#include "panels/prompt.h"
#include "panels/ratingmenu.h"
#include "panels/setpointeditor.h"
#include "panels/statusbarpanels.h"
#include "panels/statuspanel.h"
#include "protocol/framing.h"
#include "unit/unit.h"
#include "widgets/widgets.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QLineEdit>
#include <QMenuBar>
#include <QStatusBar>

namespace plv {

MainWindow::MainWindow(const BuildData &build, TesselFactory tesselFactory, QWidget *parent,
                       const SessionFactory &makeSession)
    : QMainWindow(parent), m_build(build), m_session(makeSession ? makeSession(this) : new Session(this)),
      m_unit(std::make_unique<Unit>(*m_session))
{
    setObjectName(QStringLiteral("frm_SDIMAIN"));
    setWindowTitle(build.windowCaption);
    buildMenus();
    buildPanels();
    statusBar()->setObjectName(QStringLiteral("StatusBar1"));
    statusBar()->setSizeGripEnabled(false);
    m_statusBar = new StatusBarPanels(statusBar(), *m_session);
    connectSession();
    startUp(tesselFactory);

    m_watch = new LinkWatch({*this, build, *m_session, *m_unit, *m_cycle, *m_panel, *m_rating, *m_links,
                             [this] { m_exit->mnu_SHUTDOWN_Click(); }});
    connect(m_links, &LinkChoice::reconnected, m_watch, &LinkWatch::linkOpened);
    connect(m_links, &LinkChoice::disconnected, m_cycle, &UpdateCycle::mnu_MANUAL_Click);
    m_logbook = new Logbook({*this, m_viewMenu, build.windowCaption, *m_session, *m_unit, *m_cycle, *m_rating,
                             *m_links, *m_watch, *m_panel->editor, mnu_EXTRAS, {}, [this] { return m_panel->info->unitLine(m_rating->selected(), m_build); }});
    connect(&m_logbook->recorder(), &logs::SampleRecorder::recordingChanged, this, [this](bool on) {
        m_panel->strip->showRecording(on ? QDir::toNativeSeparators(m_logbook->recorder().path()) : QString());
    });
    m_remembered = new Remembered(*this, build.id, *m_links, *m_logbook);
    m_safety = new Safety(*this);
    connect(this, &MainWindow::programEnded, m_logbook, &Logbook::end);
    connect(this, &MainWindow::programEnded, m_remembered, &Remembered::end);
}

MainWindow::~MainWindow() = default;

QAction *MainWindow::addItem(QMenu *menu, const char *name, const QString &caption, std::function<void()> handler)
{
    QAction *a = menu->addAction(caption);
    a->setObjectName(QLatin1String(name));
    // Menu actions wait their turn behind a transaction in progress.
    connect(a, &QAction::triggered, this, [this, a, handler](bool checked) {
        // Qt ticks a checkable item before reporting the choice; the handler alone sets
        // the ticks, so a refused choice leaves them as they were.
        if (a->isCheckable())
            a->setChecked(!checked);
        m_session->operate(handler);
    });
    return a;
}

void MainWindow::buildMenus()
{
    m_portMenu = menuBar()->addMenu(tr("&Ports"));
    m_portMenu->setObjectName(QStringLiteral("PortMenu"));
    m_links = new LinkChoice(*m_session, m_portMenu, this, [this](int i, const QString &t) { m_statusBar->show(i, t); },
                             [this](bool automatic) {
                                 m_panel->status->btn_REQSTAT_Click();
                                 if (automatic && m_session->nextTransaction())
                                     m_cycle->mnu_AUTOUPDATE_Click();
                             });
    m_links->buildMenu([this](QMenu *m, const char *n, const QString &c, std::function<void()> h) {
        return addItem(m, n, c, std::move(h));
    });

    QMenu *controls = menuBar()->addMenu(tr("&Controls"));
    controls->setObjectName(QStringLiteral("ControlMenu"));
    mnu_EXTRAS = addItem(controls, "mnu_EXTRAS", tr("E&xtras Window"), [this] {
        extras().show();
        extras().raise();
        extras().txt_COMMERRORS->setText(QString::number(m_session->CommErrors()));
    });
    mnu_PASSTHRU = addItem(controls, "mnu_PASSTHRU", tr("&Toggle Passthrough"), [this] { m_unit->togglePassthrough(); });
    mnu_AUTOUPDATE = addItem(controls, "mnu_AUTOUPDATE", tr("&Auto Update Mode"), [this] { m_cycle->mnu_AUTOUPDATE_Click(); });
    mnu_MANUAL = addItem(controls, "mnu_MANUAL", tr("&Manual Update Mode"), [this] { m_cycle->mnu_MANUAL_Click(); });
    mnu_AUTOUPDATE->setCheckable(true);
    mnu_MANUAL->setCheckable(true);
    addItem(controls, "mnu_Config", tr("&Configure"), [this] {
        ConfigDialog dialog(*m_unit, this);   // a new dialog each time: locked at every opening
        connect(&dialog, &ConfigDialog::identityRead, m_panel->info, &InfoPanel::showIdentity);
        prompter().exec(dialog);
    });
    addItem(controls, "mnu_Reset_total_hrs", tr("&Reset Total Hours"), [this] {
        const QStringList choices{tr("Reset"), tr("Keep the hours")};
        if (prompter().choose(this, tr("Reset the unit's total hours to zero? This cannot be undone."), choices, 1, 1) == 0)
            m_panel->info->mnu_Reset_total_hrs_Click();
    });
    addItem(controls, "mnu_BaudRate", tr("Set Unit &BaudRate"), [this] {
        UnitBaudRateDialog dialog(*m_unit, this);
        prompter().exec(dialog);
    });

    QMenu *wattage = menuBar()->addMenu(tr("&Wattage/KV"));
    wattage->setObjectName(QStringLiteral("WattageMenu"));
    m_rating = new RatingMenu(m_build, wattage, this);

    m_viewMenu = menuBar()->addMenu(tr("&View"));
    m_viewMenu->setObjectName(QStringLiteral("mnu_VIEW"));
    m_viewMenu->menuAction()->setObjectName(QStringLiteral("mnu_VIEW"));

    QMenu *help = menuBar()->addMenu(tr("&Help"));
    help->setObjectName(QStringLiteral("HelpMenu"));
    addItem(help, "mnu_ABOUT", tr("&About"), [this] {
        if (!m_about)
            m_about = new RevScreen(m_build, [this] { enterSpecialMode(); }, this);
        m_about->show();
        m_about->raise();
    });

    QMenu *exitMenu = menuBar()->addMenu(tr("E&xit"));
    exitMenu->setObjectName(QStringLiteral("ExitMenuTitle"));
    // Ending the program must not wait behind a transaction's reply.
    QAction *exit = exitMenu->addAction(tr("E&xit"));
    exit->setObjectName(QStringLiteral("mnu_EXIT"));
    connect(exit, &QAction::triggered, this, &MainWindow::mnu_EXIT_Click);
    addItem(exitMenu, "mnu_SHUTDOWN", tr("&Shutdown and Exit"), [this] { m_exit->mnu_SHUTDOWN_Click(); });
}

void MainWindow::buildPanels()
{
    m_panel = new MainPanel(*m_unit, *m_rating, this);
    setCentralWidget(m_panel);
    m_exit = new ExitSequence(*m_unit, *m_panel->controls, [this] { leave(true); }, this);
    m_cycle = new UpdateCycle(*m_session, [this](UpdateCycle::Step s) { m_panel->runStep(s); }, this);
    connect(m_cycle, &UpdateCycle::modeChanged, this, [this](bool automatic) {
        mnu_AUTOUPDATE->setChecked(automatic);
        mnu_MANUAL->setChecked(!automatic);
        m_panel->setCommandButtonsEnabled(!automatic);
    });
}

void MainWindow::connectSession()
{
    connect(m_session, &Session::msCommBuffer, this,
            [this](const QByteArray &t) { extras().txt_MSCOMMBUFF->setText(renderFrame(t)); });
    connect(m_session, &Session::commErrorsShown, this,
            [this](const QString &t) { extras().txt_COMMERRORS->setText(t); });
    // Kept here and shown once the window exists: a query that counts without showing
    // the count must not load it.
    connect(m_unit.get(), &Unit::replied, this, [this](const Reply &reply) {
        if (reply.outcome != ReplyOutcome::None)
            return;
        m_lastMissedReply = QDateTime::currentDateTime();
        if (m_extras)
            m_extras->showMissedReply(m_lastMissedReply);
    });
    connect(m_unit.get(), &Unit::statusReported, m_panel->status, &StatusPanel::applyUnsolicited);
    auto lastError = [this](const QString &code) { extras().txt_LASTERROR->setText(code); };
    connect(m_session, &Session::replyFault, this, lastError);
    connect(m_panel->controls, &ControlsPanel::lastError, this, lastError);
    connect(m_panel->editor, &SetpointEditor::lastError, this, lastError);
    connect(m_panel->editor, &SetpointEditor::refused, this,
            [this](const QString &m) { prompter().message(this, m, QString(), Prompter::Icon::Warning); });
}

void MainWindow::startUp(const TesselFactory &tesselFactory)
{
    // The exit sequence (ExitSeq 0, tmr_EXIT stopped), the editor's counts (all 0) and the
    // cycle (at its first step) start as the start-up leaves them, of themselves.
    m_rating->selectDefault();
    m_session->setAutoUpdate(false);
    m_session->tmr_UPDATE->stop();
    showSpecialItems(false);
    m_panel->controls->btn_HVONOFF->setValue(false);
    m_session->tmr_COMMWDT->stop();
    m_session->replyDecoded();
    // Channel A is selected when the window opens: give the scaled box its limits now.
    m_panel->editor->selectChannel(Channel::A);
    auto *usb = qobject_cast<UsbTransport *>(&m_session->link(Session::LinkKind::Usb));
    if (tesselFactory && usb)
        usb->setClient(tesselFactory(nullptr));
}

QSize MainWindow::sizeHint() const
{
    const QSize content = m_panel->wholeSizeHint();
    return {content.width() + 24, content.height() + menuBar()->sizeHint().height() + statusBar()->sizeHint().height() + 24};
}

ExtrasWindow &MainWindow::extras()
{
    if (!m_extras) {
        m_extras = new ExtrasWindow(this);
        if (m_lastMissedReply.isValid())
            m_extras->showMissedReply(m_lastMissedReply);
    }
    return *m_extras;
}

void MainWindow::enterSpecialMode()
{
    extras().show();
    showSpecialItems(true);
}

void MainWindow::showSpecialItems(bool on)
{
    for (QAction *a : {mnu_EXTRAS, mnu_PASSTHRU}) {
        a->setEnabled(on);
        a->setVisible(on);
    }
}

// ---------------------------------------------------------------------------
// Ending

void MainWindow::endProgram()
{
    if (m_ended)
        return;
    m_ended = true;
    m_session->end();   // a wait in progress returns at once and nothing more is sent
    m_exit->tmr_EXIT->stop();
    if (m_extras)
        m_extras->hide();
    if (m_about)
        m_about->hide();
    hide();
    emit programEnded();
}

void MainWindow::leave(bool tcpAlways)
{
    m_session->tmr_UPDATE->stop();
    m_panel->setCommandButtonsEnabled(true);
    m_session->closeLinks(tcpAlways);
    endProgram();
}

void MainWindow::mnu_EXIT_Click()
{
    if (m_watch->mayExit())
        leave(false);
}

void MainWindow::closeEvent(QCloseEvent *e)
{
    if (m_ended) {
        e->accept();
        return;
    }
    if (!m_watch->mayExit()) {
        e->ignore();
        return;
    }
    m_panel->controls->btn_local_remote->setValue(false);   // the switch's action is not run
    if (m_about)
        m_about->close();
    if (m_extras)
        m_extras->close();
    m_session->closeLinks(false);
    e->accept();
    endProgram();
}

} // namespace plv
