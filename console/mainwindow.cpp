#include "console/mainwindow.h"

#include "console/dialogs.h"
#include "console/prompt.h"
#include "console/widgets.h"
#include "link/entries.h"
#include "link/framing.h"
#include "link/session.h"
#include "monitor/controlspanel.h"
#include "monitor/readbackspanel.h"
#include "monitor/statuspanel.h"
#include "monitor/updatecycle.h"
#include "setpoints/dacpanel.h"
#include "setpoints/ratingmenu.h"
#include "setpoints/setpointeditor.h"
#include "unitinfo/infopanel.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTimer>

namespace plv {

MainWindow::MainWindow(const BuildData &build, TesselFactory tesselFactory, QWidget *parent)
    : QMainWindow(parent), m_build(build), m_session(new Session(this))
{
    setObjectName(QStringLiteral("frm_SDIMAIN"));
    setWindowTitle(build.windowCaption);
    tmr_EXIT = new QTimer(this);
    tmr_EXIT->setObjectName(QStringLiteral("tmr_EXIT"));
    tmr_EXIT->setInterval(75);
    tmr_EXIT->setTimerType(Qt::PreciseTimer);
    connect(tmr_EXIT, &QTimer::timeout, this, &MainWindow::tmr_EXIT_Timer);

    buildMenus();
    buildPanels();
    buildStatusBar();

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
    connect(&m_session->tcp(), &TcpTransport::errorText, this, [this](const QString &d) {
        prompter().message(this, QStringLiteral("TCP Error") + d, QString(), Prompter::Icon::None);
    });
    auto lastError = [this](const QString &code) { extras().txt_LASTERROR->setText(code); };
    connect(m_controls, &ControlsPanel::lastError, this, lastError);
    connect(m_editor, &SetpointEditor::lastError, this, lastError);
    connect(m_editor, &SetpointEditor::refused, this,
            [this](const QString &m) { prompter().message(this, m, QString(), Prompter::Icon::Warning); });

    startUp(tesselFactory);
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
    m_portItems[0] = addItem(m_portMenu, "mnu_comm1", tr("COMM&1"), [this] { mnu_comm1_Click(); });
    m_portItems[1] = addItem(m_portMenu, "mnu_comm2", tr("COMM&2"), [this] { mnu_comm2_Click(); });
    m_portItems[2] = addItem(m_portMenu, "mnu_userComm", tr("COMM &USER"), [this] { mnu_userComm_Click(); });
    m_portItems[3] = addItem(m_portMenu, "mnu_ethernet", tr("&Ethernet"), [this] { mnu_ethernet_Click(); });
    m_portItems[4] = addItem(m_portMenu, "mnu_USB", tr("U&SB"), [this] { mnu_USB_Click(); });
    for (QAction *a : m_portItems)
        a->setCheckable(true);

    m_controlMenu = menuBar()->addMenu(tr("&Controls"));
    m_controlMenu->setObjectName(QStringLiteral("ControlMenu"));
    mnu_EXTRAS = addItem(m_controlMenu, "mnu_EXTRAS", tr("E&xtras Window"), [this] { mnu_EXTRAS_Click(); });
    mnu_PASSTHRU = addItem(m_controlMenu, "mnu_PASSTHRU", tr("&Toggle Passthrough"), [this] { mnu_PASSTHRU_Click(); });
    mnu_AUTOUPDATE = addItem(m_controlMenu, "mnu_AUTOUPDATE", tr("&Auto Update Mode"), [this] { m_cycle->mnu_AUTOUPDATE_Click(); });
    mnu_MANUAL = addItem(m_controlMenu, "mnu_MANUAL", tr("&Manual Update Mode"), [this] { m_cycle->mnu_MANUAL_Click(); });
    mnu_AUTOUPDATE->setCheckable(true);
    mnu_MANUAL->setCheckable(true);
    addItem(m_controlMenu, "mnu_Config", tr("&Configure"), [this] { mnu_Config_Click(); });
    addItem(m_controlMenu, "mnu_Reset_total_hrs", tr("&Reset Total Hours"), [this] { m_info->mnu_Reset_total_hrs_Click(); });
    addItem(m_controlMenu, "mnu_BaudRate", tr("Set Unit &BaudRate"), [this] { mnu_BaudRate_Click(); });

    m_wattageMenu = menuBar()->addMenu(tr("&Wattage/KV"));
    m_wattageMenu->setObjectName(QStringLiteral("WattageMenu"));
    m_rating = new RatingMenu(m_build, m_wattageMenu, this);

    m_helpMenu = menuBar()->addMenu(tr("&Help"));
    m_helpMenu->setObjectName(QStringLiteral("HelpMenu"));
    addItem(m_helpMenu, "mnu_ABOUT", tr("&About"), [this] { mnu_ABOUT_Click(); });

    m_exitMenu = menuBar()->addMenu(tr("E&xit"));
    m_exitMenu->setObjectName(QStringLiteral("ExitMenuTitle"));
    // Ending the program must not wait behind a transaction's reply.
    QAction *exit = m_exitMenu->addAction(tr("E&xit"));
    exit->setObjectName(QStringLiteral("mnu_EXIT"));
    connect(exit, &QAction::triggered, this, &MainWindow::mnu_EXIT_Click);
    addItem(m_exitMenu, "mnu_SHUTDOWN", tr("&Shutdown and Exit"), [this] { mnu_SHUTDOWN_Click(); });
}

void MainWindow::buildPanels()
{
    auto *central = new QWidget(this);
    central->setObjectName(QStringLiteral("central"));
    setCentralWidget(central);
    m_status = new StatusPanel(*m_session, central);
    m_controls = new ControlsPanel(*m_session, *m_status, central);
    m_readbacks = new ReadbacksPanel(*m_session, *m_rating, central);
    m_dacs = new DacPanel(*m_session, *m_rating, central);
    m_editor = new SetpointEditor(*m_session, *m_rating, *m_dacs, central);
    m_info = new InfoPanel(*m_session, central);
    m_rating->setTooltipTargets(m_editor->opt[0], m_editor->opt[1]);

    m_cycle = new UpdateCycle(
        *m_session, mnu_AUTOUPDATE, mnu_MANUAL,
        {[this] { m_readbacks->UpdateData(); }, [this] { m_dacs->btn_KVSET_Click(); },
         [this] { m_dacs->btn_EMI_Click(); }, [this] { m_dacs->btn_FILLIM_Click(); },
         [this] { m_dacs->btn_FILPREHEAT_Click(); }, [this] { m_status->btn_REQSTAT_Click(); },
         [this] { m_info->PollTotalHours(); }, [this] { m_readbacks->UpdateTemps(); },
         [this] { m_info->totalHours_Click(); }, [this] { m_info->btn_WEBREV_Click(); }},
        {[this] { m_readbacks->UpdateData(); }, [this] { m_readbacks->UpdateTemps(); },
         [this] { m_info->btn_HWREV_Click(); }, [this] { m_info->btn_MODNUM_Click(); },
         [this] { m_info->PollTotalHours(); }, [this] { m_info->btn_SWREV_Click(); },
         [this] { m_info->btn_WEBREV_Click(); }},
        [this](bool on) { setCommandButtonsEnabled(on); }, this);

    auto *grid = new QGridLayout(central);
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
    // A panel whose text changes asks for a layout, and QStatusBar answers every layout
    // request by repainting itself whole: each frame sent or received would repaint all
    // six panels. When the layout leaves every panel where it was, the changed panel's
    // own repaint is all that is needed, so the request stops here.
    class OnlyChangedPanels : public QObject {
    public:
        explicit OnlyChangedPanels(QStatusBar *bar) : QObject(bar), m_bar(bar) {}
        bool eventFilter(QObject *o, QEvent *e) override
        {
            if (o != m_bar || e->type() != QEvent::LayoutRequest)
                return false;
            if (QLayout *l = m_bar->layout())
                l->activate();   // a no-op when Qt has already laid out for this request
            QList<int> shape{m_bar->width(), m_bar->height(), m_bar->fontMetrics().height()};
            for (const QWidget *w : m_bar->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
                const QRect g = w->isVisible() ? w->geometry() : QRect();
                shape << g.x() << g.y() << g.width() << g.height() << w->minimumSizeHint().height();
            }
            if (shape == m_shape)
                return true;
            m_shape = shape;
            return false;
        }

    private:
        QStatusBar *m_bar;
        QList<int> m_shape;
    };
    bar->installEventFilter(new OnlyChangedPanels(bar));

    // That layout measures the changed panel's text (QLabel measures it three times, the
    // costliest part of the layout). The TX and RX texts repeat with the update cycle, so
    // each is measured once. The cache holds while the font, style, frame and margins do.
    class Panel : public QLabel {
    public:
        Panel(const QString &text, QWidget *parent) : QLabel(text, parent) {}
        QSize sizeHint() const override { return hints().first; }
        QSize minimumSizeHint() const override { return hints().second; }

    protected:
        void changeEvent(QEvent *e) override
        {
            m_hints.clear();
            QLabel::changeEvent(e);
        }

    private:
        std::pair<QSize, QSize> hints() const
        {
            const QMargins m = contentsMargins();
            const QList<int> shape{frameWidth(), margin(), indent(), int(alignment()), int(wordWrap()),
                                   int(textFormat()), m.left(), m.top(), m.right(), m.bottom()};
            if (shape != m_shape || m_hints.size() > 64) {
                m_hints.clear();
                m_shape = shape;
            }
            auto it = m_hints.constFind(text());
            if (it == m_hints.cend())
                it = m_hints.insert(text(), {QLabel::sizeHint(), QLabel::minimumSizeHint()});
            return *it;
        }
        mutable QHash<QString, std::pair<QSize, QSize>> m_hints;
        mutable QList<int> m_shape;
    };

    const char *texts[6] = {"SET PORT!", "Comm Ch.", "RX", "TX", "", ""};
    const QString tips[6] = {tr("Comm Port Settings"), tr("Selected Comm Port"), tr("Data Received"),
                             tr("Data Transmitted"), tr("Today's Date"), tr("The Time Right Now!!")};
    const int stretch[6] = {2, 2, 3, 3, 0, 0};
    for (int i = 0; i < 6; ++i) {
        m_panels[i] = new Panel(QLatin1String(texts[i]), bar);
        m_panels[i]->setObjectName(QStringLiteral("panel%1").arg(i + 1));
        m_panels[i]->setToolTip(tips[i]);
        m_panels[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        m_panels[i]->setMinimumWidth(60);
        bar->addPermanentWidget(m_panels[i], stretch[i]);
    }

    // The RX and TX panels change with every exchange, and a reply wait handles pending
    // repaints before it reads the reply: painted at once, they would stretch every
    // exchange. showPanel() holds their repaints until no reply is awaited; this timer
    // ends a hold after 20 ms, so a slow unit's TX still shows while its reply is awaited.
    auto *linkPanels = new QTimer(bar);
    linkPanels->setObjectName(QStringLiteral("linkPanelsRepaint"));
    linkPanels->setSingleShot(true);
    linkPanels->setInterval(20);
    connect(linkPanels, &QTimer::timeout, this, [this] {
        m_panels[2]->setUpdatesEnabled(true);
        m_panels[3]->setUpdatesEnabled(true);
    });

    auto *clock = new QTimer(this);
    clock->setObjectName(QStringLiteral("statusClock"));
    auto tick = [this, clock] {
        const QDateTime now = QDateTime::currentDateTime();
        showPanel(4, QLocale().toString(now.date(), QLocale::ShortFormat));
        showPanel(5, now.time().toString(QStringLiteral("HH:mm")));
        // Wake once a minute, on the minute: the panel shows hours and minutes.
        clock->start(int(60000 - now.time().second() * 1000 - now.time().msec()) + 5);
    };
    clock->setSingleShot(true);
    connect(clock, &QTimer::timeout, this, tick);
    tick();
}

void MainWindow::showPanel(int index, const QString &text)
{
    QLabel *panel = m_panels[index];
    if (panel->text() == text)
        return;   // nothing to lay out or repaint
    if (index == 2 || index == 3) {
        // Held repaint of the RX and TX panels (see buildStatusBar()).
        auto *hold = statusBar()->findChild<QTimer *>(QStringLiteral("linkPanelsRepaint"),
                                                      Qt::FindDirectChildrenOnly);
        if (hold) {
            panel->setUpdatesEnabled(false);
            if (!hold->isActive())
                hold->start();
            // RX is written as a reply wait ends (or for a frame outside any). This runs from
            // the event loop: if another wait has begun (the second command of a step), the
            // hold stays for that one's RX or the timer; after the exchange it ends the hold.
            // Nothing is posted for TX, which is written just before the command goes out.
            if (index == 2)
                QMetaObject::invokeMethod(hold, [this, hold] {
                    if (!hold->isActive() || m_session->waiting())
                        return;
                    hold->stop();
                    m_panels[2]->setUpdatesEnabled(true);
                    m_panels[3]->setUpdatesEnabled(true);
                }, Qt::QueuedConnection);
        }
    }
    panel->setText(text);
}

void MainWindow::startUp(const TesselFactory &tesselFactory)
{
    ExitSeq = 0;
    for (int i = 0; i < 4; ++i)
        m_editor->NewDAC[i] = 0;
    tmr_EXIT->stop();
    for (int i = 0; i < 4; ++i)
        m_editor->OldDAC[i] = 0;
    m_cycle->ctr_AutoUpdate = 0;
    m_rating->selectDefault();
    m_session->AutoUpdate = false;
    m_session->tmr_UPDATE->stop();
    m_session->CommErrors = 0;
    mnu_EXTRAS->setEnabled(false);
    mnu_EXTRAS->setVisible(false);
    outputString = QStringLiteral("A01");
    m_controls->btn_HVONOFF->setValue(false);
    m_session->tmr_COMMWDT->stop();
    m_session->CommStatusFlag = true;
    mnu_PASSTHRU->setEnabled(false);
    mnu_PASSTHRU->setVisible(false);
    // Channel A is selected when the window opens: give the scaled box its limits now.
    m_editor->selectChannel(Channel::A);
    if (tesselFactory)
        m_session->usb().setClient(tesselFactory(&m_tesselError));
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

// ---------------------------------------------------------------------------
// Ports menu

void MainWindow::checkPort(QAction *item)
{
    for (QAction *a : m_portItems)
        a->setChecked(a == item);
}

void MainWindow::invalidPort()
{
    prompter().message(this, tr("InValid Comm. Port"), QString(), Prompter::Icon::Information);
}

void MainWindow::connectedChoice()
{
    m_status->btn_REQSTAT_Click();
    m_cycle->mnu_AUTOUPDATE_Click();
}

void MainWindow::serialChoice(QAction *item, const QString &mode, const QString &fixedPort)
{
    m_session->tmr_RCVTIMER->stop();
    checkPort(item);
    QString portText = fixedPort, device;
    if (fixedPort.isEmpty()) {
        prompter().input(this, tr("Enter your Comm Port Number"), QString(), portText);
        const Checked<QString> dev = parseSerialPortEntry(portText);
        if (!dev.value) {
            invalidPort();
            return;
        }
        device = *dev.value;
    } else {
        device = serialDeviceForNumber(fixedPort.toInt());
    }

    GuiBaudRateDialog rate(this);
    if (prompter().exec(rate) == QDialog::Accepted) {
        m_session->serial().setSettings(rate.settings());
        showPanel(0, QStringLiteral("Comm Port Setting:  ") + rate.settings());
    }

    SerialTransport &serial = m_session->serial();
    serial.close();
    CommPortNum = portText.trimmed();
    serial.setPortName(device);
    if (!serial.open()) {
        invalidPort();
        return;
    }
    m_session->setSerialConfigured(true);
    showPanel(0, QStringLiteral("Comm Port Setting:  ") + serial.settings());
    showPanel(1, QStringLiteral("Comm Port:  ") + CommPortNum);
    m_session->CommMode = mode;
    m_session->tmr_RCVTIMER->start();
    m_session->tmr_NETRCVTMR->stop();
    connectedChoice();
}

void MainWindow::mnu_comm1_Click() { serialChoice(m_portItems[0], QStringLiteral("comm1"), QStringLiteral("1")); }
void MainWindow::mnu_comm2_Click() { serialChoice(m_portItems[1], QStringLiteral("comm2"), QStringLiteral("2")); }
void MainWindow::mnu_userComm_Click() { serialChoice(m_portItems[2], QStringLiteral("comm1"), QString()); }

void MainWindow::mnu_ethernet_Click()
{
    if (!m_remoteHost)
        m_remoteHost = new RemoteHostDialog(this);
    m_remoteHost->prepare();
    if (prompter().exec(*m_remoteHost) == QDialog::Accepted) {
        showPanel(1, QStringLiteral("IP: ") + m_remoteHost->acceptedHost());
        m_session->tcp().setRemote(m_remoteHost->acceptedHost(), quint16(m_remoteHost->acceptedPort().toUInt()));
    } else if (m_remoteHost->portRefused()) {
        invalidPort();
        return;
    }
    checkPort(m_portItems[3]);
    m_session->tmr_RCVTIMER->stop();
    m_session->tmr_NETRCVTMR->stop();
    showPanel(0, tr("Ethernet Comms"));
    m_session->CommMode = QStringLiteral("ethernet");

    TcpTransport &tcp = m_session->tcp();
    tcp.connectToUnit();
    // Wait for the connection, at most 10 s, with the event loop running. A refused or
    // failed attempt ends the wait early: nothing more will come of it.
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(&tcp.socket(), &QTcpSocket::stateChanged, &loop, [&loop](QAbstractSocket::SocketState s) {
        if (s == QAbstractSocket::ConnectedState || s == QAbstractSocket::UnconnectedState)
            loop.quit();
    });
    if (tcp.socket().state() != QAbstractSocket::ConnectedState
        && tcp.socket().state() != QAbstractSocket::UnconnectedState) {
        limit.start(10000);
        loop.exec();
    }
    m_session->tmr_NETRCVTMR->start();
    connectedChoice();
}

void MainWindow::mnu_USB_Click()
{
    checkPort(m_portItems[4]);
    showPanel(0, tr("USB Comms"));
    m_session->CommMode = QStringLiteral("USB");
    showPanel(1, QStringLiteral("USB HID  "));
    UsbTransport &usb = m_session->usb();
    usb.find();   // no device found shows no message of its own
    m_session->tmr_RCVTIMER->start();
    m_session->tmr_NETRCVTMR->stop();
    if (!usb.libraryLoaded()) {
        m_portItems[4]->setChecked(false);
        prompter().message(this, tr("The USB bridge library could not be loaded, so no USB unit can be reached."),
                           QString(), Prompter::Icon::Information);
        return;
    }
    if (!usb.isOpen()) {
        // The library refuses to write before a successful search: the status request
        // cannot go out.
        m_portItems[4]->setChecked(false);
        prompter().message(this, tr("The port number which you entered does not exist. Please try again!"),
                           QString(), Prompter::Icon::Information);
        return;
    }
    connectedChoice();
}

// ---------------------------------------------------------------------------
// Service functions

void MainWindow::enterSpecialMode()
{
    extras().show();
    mnu_EXTRAS->setEnabled(true);
    mnu_EXTRAS->setVisible(true);
    mnu_PASSTHRU->setEnabled(true);
    mnu_PASSTHRU->setVisible(true);
}

void MainWindow::mnu_EXTRAS_Click()
{
    extras().show();
    extras().raise();
    extras().txt_COMMERRORS->setText(QString::number(m_session->CommErrors));
}

void MainWindow::mnu_PASSTHRU_Click()
{
    // Unlike the other commands, the pass-through toggle does not pause the timers.
    m_session->outputOutputString("96,");
    if (m_session->WaitForReply().isEmpty()) {
        m_session->countError();
        m_session->showCommErrors();
    }
}

void MainWindow::mnu_Config_Click()
{
    ConfigDialog dialog(*this, this);   // a new dialog each time: locked at every opening
    prompter().exec(dialog);
}

void MainWindow::mnu_BaudRate_Click()
{
    UnitBaudRateDialog dialog(*this, this);
    prompter().exec(dialog);
}

void MainWindow::mnu_ABOUT_Click()
{
    if (!m_about)
        m_about = new RevScreen(*this, this);
    m_about->show();
    m_about->raise();
}

// ---------------------------------------------------------------------------
// Ending

void MainWindow::closeLinks(bool tcpAlways)
{
    m_session->serial().close();
    if (tcpAlways || m_session->isEthernet())
        m_session->tcp().close();
    m_session->tmr_COMMWDT->stop();
}

void MainWindow::endProgram()
{
    if (m_ended)
        return;
    m_ended = true;
    tmr_EXIT->stop();
    m_session->tmr_UPDATE->stop();
    m_session->tmr_COMMWDT->stop();
    m_session->tmr_RCVTIMER->stop();
    m_session->tmr_NETRCVTMR->stop();
    if (m_extras)
        m_extras->hide();
    if (m_about)
        m_about->hide();
    hide();
    emit programEnded();
}

void MainWindow::mnu_EXIT_Click()
{
    m_session->tmr_UPDATE->stop();
    EnableCommandButtons();
    closeLinks(false);
    endProgram();
}

void MainWindow::mnu_SHUTDOWN_Click()
{
    // Back to local control, then the four setpoints are zeroed on the exit timer.
    m_controls->btn_local_remote->setValue(true);
    m_controls->localRemoteAction();
    tmr_EXIT->start();
}

void MainWindow::tmr_EXIT_Timer()
{
    static const char *const zeroing[] = {"10,0,", "11,0,", "12,0,"};
    if (ExitSeq >= 1 && ExitSeq <= 3) {
        m_session->outputOutputString(zeroing[ExitSeq - 1]);
    } else if (ExitSeq >= 4) {
        tmr_EXIT->stop();
        m_session->outputOutputString("13,0,");
        m_session->tmr_UPDATE->stop();
        EnableCommandButtons();
        closeLinks(true);
        endProgram();
        return;
    }
    ++ExitSeq;
}

void MainWindow::closeEvent(QCloseEvent *e)
{
    if (m_ended) {
        e->accept();
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
