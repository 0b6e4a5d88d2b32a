#include "console/mainwindow.h"

#include "console/exitsequence.h"
#include "console/linkchoice.h"
#include "console/linkwatch.h"
#include "console/logbook.h"
#include "console/remembered.h"
#include "link/session.h"
#include "panels/controlspanel.h"
#include "panels/dacpanel.h"
#include "panels/dialogs.h"
#include "panels/healthstrip.h"
#include "panels/infopanel.h"
#include "panels/prompt.h"
#include "panels/ratingmenu.h"
#include "panels/readbackspanel.h"
#include "panels/setpointeditor.h"
#include "panels/statuspanel.h"
#include "protocol/framing.h"
#include "unit/unit.h"
#include "unit/updatecycle.h"
#include "widgets/widgets.h"

#include <QAction>
#include <QCloseEvent>
#include <QDateTime>
#include <QGridLayout>
#include <QVBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QRadioButton>
#include <QStatusBar>
#include <QTimer>

namespace plv {

MainWindow::MainWindow(const BuildData &build, TesselFactory tesselFactory, QWidget *parent)
    : QMainWindow(parent), m_build(build), m_session(new Session(this)), m_unit(std::make_unique<Unit>(*m_session))
{
    setObjectName(QStringLiteral("frm_SDIMAIN"));
    setWindowTitle(build.windowCaption);
    buildMenus();
    buildPanels();
    buildStatusBar();
    connectSession();
    startUp(tesselFactory);

    m_watch = new LinkWatch(*this, *m_strip);
    connect(m_links, &LinkChoice::opened, m_watch, &LinkWatch::linkOpened);
    connect(m_links, &LinkChoice::failed, m_watch, &LinkWatch::linkFailed);
    connect(m_links, &LinkChoice::disconnected, m_cycle, &UpdateCycle::mnu_MANUAL_Click);
    // The emergency stop works from every window of the console, ahead of anything queued.
    auto *emergency = new QShortcut(QKeySequence(Qt::Key_F12), this);
    emergency->setObjectName(QStringLiteral("sc_EMERGENCYOFF"));
    emergency->setContext(Qt::ApplicationShortcut);
    connect(emergency, &QShortcut::activated, this,
            [this] { m_session->operateFirst([this] { m_controls->hvOff(); }); });

    m_logbook = new Logbook(*this, m_viewMenu);
    m_remembered = new Remembered(*this, *m_logbook);
}

MainWindow::~MainWindow()
{
    if (m_extras)
        delete m_extras;
    if (m_about)
        delete m_about;
}

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
    m_links = new LinkChoice(*m_session, m_portMenu, this, [this](int i, const QString &t) { showPanel(i, t); },
                             [this] {
                                 m_status->btn_REQSTAT_Click();
                                 if (m_session->nextTransaction())
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
        extras().txt_COMMERRORS->setText(QString::number(m_session->CommErrors));
    });
    mnu_PASSTHRU = addItem(controls, "mnu_PASSTHRU", tr("&Toggle Passthrough"), [this] { m_unit->togglePassthrough(); });
    mnu_AUTOUPDATE = addItem(controls, "mnu_AUTOUPDATE", tr("&Auto Update Mode"), [this] { m_cycle->mnu_AUTOUPDATE_Click(); });
    mnu_MANUAL = addItem(controls, "mnu_MANUAL", tr("&Manual Update Mode"), [this] { m_cycle->mnu_MANUAL_Click(); });
    mnu_AUTOUPDATE->setCheckable(true);
    mnu_MANUAL->setCheckable(true);
    addItem(controls, "mnu_Config", tr("&Configure"), [this] {
        ConfigDialog dialog(*m_unit, this);   // a new dialog each time: locked at every opening
        prompter().exec(dialog);
    });
    addItem(controls, "mnu_Reset_total_hrs", tr("&Reset Total Hours"), [this] {
        const QStringList choices{tr("Reset"), tr("Keep the hours")};
        if (prompter().choose(this, tr("Reset the unit's total hours to zero? This cannot be undone."), choices, 1, 1) == 0)
            m_info->mnu_Reset_total_hrs_Click();
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
    // Scrolls rather than hides a control on a small or scaled screen.
    auto *scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    setCentralWidget(scroll);
    auto *central = new QWidget(scroll);
    central->setObjectName(QStringLiteral("central"));
    scroll->setWidget(central);
    m_strip = new HealthStrip(central);
    m_status = new StatusPanel(*m_unit, central);
    m_controls = new ControlsPanel(*m_unit, *m_status, central);
    m_readbacks = new ReadbacksPanel(*m_unit, *m_rating, central);
    m_dacs = new DacPanel(*m_unit, *m_rating, central);
    m_editor = new SetpointEditor(*m_unit, *m_rating, *m_dacs, central);
    m_info = new InfoPanel(*m_unit, central);
    m_rating->setTooltipTargets(m_editor->opt[0], m_editor->opt[1]);
    m_exit = new ExitSequence(*m_unit, *m_controls, [this] {
        m_session->tmr_UPDATE->stop();
        EnableCommandButtons();
        closeLinks(true);
        endProgram();
    }, this);

    using Step = UpdateCycle::Step;
    m_cycle = new UpdateCycle(*m_session, [this](Step s) {
        switch (s) {
        case Step::Monitors: m_readbacks->UpdateData(); break;
        case Step::SetpointA: m_dacs->readback(Channel::A); break;
        case Step::SetpointB: m_dacs->readback(Channel::B); break;
        case Step::SetpointC: m_dacs->readback(Channel::C); break;
        case Step::SetpointD: m_dacs->readback(Channel::D); break;
        case Step::Status: m_status->btn_REQSTAT_Click(); break;
        case Step::PollHours: m_info->PollTotalHours(); break;
        case Step::Supplies: m_readbacks->UpdateTemps(); break;
        case Step::Hours: m_info->totalHours_Click(); break;
        case Step::WebRevision: m_info->btn_WEBREV_Click(); break;
        case Step::HardwareRevision: m_info->btn_HWREV_Click(); break;
        case Step::ModelNumber: m_info->btn_MODNUM_Click(); break;
        case Step::SoftwareRevision: m_info->btn_SWREV_Click(); break;
        }
    }, this);
    connect(m_cycle, &UpdateCycle::modeChanged, this, [this](bool automatic) {
        mnu_AUTOUPDATE->setChecked(automatic);
        mnu_MANUAL->setChecked(!automatic);
        setCommandButtonsEnabled(!automatic);
    });

    // kV and mA readable from a step back.
    for (QLineEdit *big : {m_readbacks->txt_ADC2, m_readbacks->txt_ADC3}) {
        QFont f = big->font();
        f.setPointSizeF(f.pointSizeF() * 1.6);
        f.setBold(true);
        big->setFont(f);
    }

    auto *outer = new QVBoxLayout(central);
    outer->addWidget(m_strip);
    auto *grid = new QGridLayout;
    outer->addLayout(grid);
    grid->addWidget(m_readbacks->fra_READBACKS, 0, 0);
    grid->addWidget(m_readbacks->fra_TEMPS, 0, 1);
    grid->addWidget(m_readbacks->fra_UPDATEDATA, 0, 2);
    grid->addWidget(m_status, 1, 0, 1, 2);
    grid->addWidget(m_controls->fra_HV, 1, 2);
    grid->addWidget(m_info->fra_SYSINFO, 2, 0);
    grid->addWidget(m_controls->fra_LOCALREMOTE, 2, 2);
    grid->addWidget(m_editor->fra_SETDACS, 3, 0, 1, 2);
    grid->addWidget(m_controls->fra_RESET, 3, 2);
    grid->addWidget(m_dacs->fra_DACSETTINGS, 2, 1);
}

void MainWindow::buildStatusBar()
{
    QStatusBar *bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar1"));
    bar->setSizeGripEnabled(false);
    const char *texts[6] = {"SET PORT!", "Comm Ch.", "RX", "TX", "", ""};
    const QString tips[6] = {tr("Comm Port Settings"), tr("Selected Comm Port"), tr("Data Received"),
                             tr("Data Transmitted"), tr("Today's Date"), tr("The Time Right Now!!")};
    const int stretch[6] = {2, 2, 3, 3, 0, 0};
    for (int i = 0; i < 6; ++i) {
        m_panels[i] = new QLabel(QLatin1String(texts[i]), bar);
        m_panels[i]->setObjectName(QStringLiteral("panel%1").arg(i + 1));
        m_panels[i]->setToolTip(tips[i]);
        m_panels[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        m_panels[i]->setMinimumWidth(60);
        bar->addPermanentWidget(m_panels[i], stretch[i]);
    }
    auto *clock = new QTimer(this);
    clock->setObjectName(QStringLiteral("statusClock"));
    auto tick = [this, clock] {
        const QDateTime now = QDateTime::currentDateTime();
        m_panels[4]->setText(QLocale().toString(now.date(), QLocale::ShortFormat));
        m_panels[5]->setText(now.time().toString(QStringLiteral("HH:mm")));
        // Wake once a minute, on the minute: the panel shows hours and minutes.
        clock->start(int(60000 - now.time().second() * 1000 - now.time().msec()) + 5);
    };
    clock->setSingleShot(true);
    connect(clock, &QTimer::timeout, this, tick);
    tick();
}

void MainWindow::showPanel(int index, const QString &text)
{
    m_panels[index]->setText(text);
}

void MainWindow::connectSession()
{
    connect(m_session, &Session::txFrame, this,
            [this](const QByteArray &f) { showPanel(3, QStringLiteral("TX: ") + renderFrame(f)); });
    connect(m_session, &Session::rxText, this, [this](const QByteArray &t, bool prefixed) {
        showPanel(2, (prefixed ? QStringLiteral("RX: ") : QString()) + renderFrame(t));
    });
    connect(m_session, &Session::msCommBuffer, this,
            [this](const QByteArray &t) { extras().txt_MSCOMMBUFF->setText(renderFrame(t)); });
    connect(m_session, &Session::commErrorsShown, this,
            [this](const QString &t) { extras().txt_COMMERRORS->setText(t); });
    connect(m_session, &Session::unsolicitedStatus, m_status, &StatusPanel::applyUnsolicited);
    connect(&m_session->tcp(), &TcpTransport::errorOccurred, this, [this](const QString &d) {
        // A socket the operator has since left for another link is nobody's concern.
        if (!m_session->isEthernet() || m_ended)
            return;
        const TcpTransport &tcp = m_session->tcp();
        prompter().message(this, QStringLiteral("TCP Error: %1 (%2:%3)").arg(d, tcp.host()).arg(tcp.remotePort()),
                           QString(), Prompter::Icon::None);
    });
    auto lastError = [this](const QString &code) { extras().txt_LASTERROR->setText(code); };
    connect(m_session, &Session::replyFault, this, lastError);
    connect(m_controls, &ControlsPanel::lastError, this, lastError);
    connect(m_editor, &SetpointEditor::lastError, this, lastError);
    connect(m_editor, &SetpointEditor::refused, this,
            [this](const QString &m) { prompter().message(this, m, QString(), Prompter::Icon::Warning); });
}

void MainWindow::startUp(const TesselFactory &tesselFactory)
{
    m_exit->ExitSeq = 0;
    for (int i = 0; i < 4; ++i)
        m_editor->NewDAC[i] = m_editor->OldDAC[i] = 0;
    m_exit->tmr_EXIT->stop();
    m_cycle->ctr_AutoUpdate = 0;
    m_rating->selectDefault();
    m_session->AutoUpdate = false;
    m_session->tmr_UPDATE->stop();
    m_session->CommErrors = 0;
    mnu_EXTRAS->setEnabled(false);
    mnu_EXTRAS->setVisible(false);
    m_controls->btn_HVONOFF->setValue(false);
    m_session->tmr_COMMWDT->stop();
    m_session->CommStatusFlag = true;
    mnu_PASSTHRU->setEnabled(false);
    mnu_PASSTHRU->setVisible(false);
    // Channel A is selected when the window opens: give the scaled box its limits now.
    m_editor->selectChannel(Channel::A);
    if (tesselFactory)
        m_session->usb().setClient(tesselFactory(nullptr));
}

QSize MainWindow::sizeHint() const
{
    const auto *scroll = static_cast<const QScrollArea *>(centralWidget());
    const QSize content = scroll->widget()->sizeHint();
    return {content.width() + 24, content.height() + menuBar()->sizeHint().height() + statusBar()->sizeHint().height() + 24};
}

ExtrasWindow &MainWindow::extras()
{
    if (!m_extras)
        m_extras = new ExtrasWindow(this);
    return *m_extras;
}

void MainWindow::setCommandButtonsEnabled(bool on)
{
    QWidget *buttons[] = {m_readbacks->btn_UPDATEDATA, m_dacs->button(Channel::A), m_dacs->button(Channel::B),
                          m_dacs->button(Channel::C), m_dacs->button(Channel::D), m_status->btn_REQSTAT,
                          m_info->btn_HWREV, m_info->btn_MODNUM, m_info->btn_SWREV, m_info->btn_WEBREV,
                          m_info->totalHours};
    for (QWidget *w : buttons)
        w->setEnabled(on);
}

void MainWindow::enterSpecialMode()
{
    extras().show();
    for (QAction *a : {mnu_EXTRAS, mnu_PASSTHRU}) {
        a->setEnabled(true);
        a->setVisible(true);
    }
}

// ---------------------------------------------------------------------------
// Ending

void MainWindow::closeLinks(bool tcpAlways)
{
    m_session->serial().close();
    if (tcpAlways || m_session->isEthernet())
        m_session->tcp().close();
    m_session->usb().close();   // the bridge stays loaded; nothing more is written to it
    m_session->tmr_COMMWDT->stop();
}

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

bool MainWindow::mayExit()
{
    if (!m_watch->hvMayBeOn())
        return true;
    const QStringList choices{tr("Switch HV off and shut down"), tr("Exit and leave HV on"), tr("Cancel")};
    const int choice = prompter().choose(this, tr("High voltage is ON."), choices, 2, 2);
    if (choice == 0)   // "98,0," next, then the unit back to local and its setpoints zeroed
        m_session->operateFirst([this] {
            m_controls->hvOff();
            m_exit->mnu_SHUTDOWN_Click();
        });
    return choice == 1;
}

void MainWindow::mnu_EXIT_Click()
{
    if (!mayExit())
        return;
    m_session->tmr_UPDATE->stop();
    EnableCommandButtons();
    closeLinks(false);
    endProgram();
}

void MainWindow::closeEvent(QCloseEvent *e)
{
    if (m_ended) {
        e->accept();
        return;
    }
    if (!mayExit()) {
        e->ignore();
        return;
    }
    m_controls->btn_local_remote->setValue(false);   // the switch's action is not run
    if (m_about)
        m_about->close();
    if (m_extras)
        m_extras->close();
    closeLinks(false);
    e->accept();
    endProgram();
}

} // namespace plv
