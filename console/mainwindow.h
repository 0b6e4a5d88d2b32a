#pragma once
// The main window: the composition root. It builds the menus, panels and status bar,
// holds the link session, and wires each control to its operation. The operations
// themselves live with their subsystem (link/, monitor/, setpoints/, unitinfo/).
#include "console/dialogs.h"
#include "link/tesselclient.h"
#include "setpoints/ratings.h"

#include <QMainWindow>
#include <QPointer>
#include <functional>

class QAction;
class QLabel;
class QMenu;
class QTimer;

namespace plv {

class ControlsPanel;
class DacPanel;
class ExtrasWindow;
class InfoPanel;
class RatingMenu;
class ReadbacksPanel;
class RemoteHostDialog;
class RevScreen;
class Session;
class SetpointEditor;
class StatusPanel;
class UpdateCycle;

using TesselFactory = std::function<std::unique_ptr<TesselClient>(QString *error)>;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(const BuildData &build, TesselFactory tesselFactory = loadTessel, QWidget *parent = nullptr);
    ~MainWindow() override;

    const BuildData &build() const { return m_build; }
    Session &session() { return *m_session; }
    StatusPanel &status() { return *m_status; }
    ControlsPanel &controls() { return *m_controls; }
    ReadbacksPanel &readbacks() { return *m_readbacks; }
    UpdateCycle &cycle() { return *m_cycle; }
    RatingMenu &rating() { return *m_rating; }
    SetpointEditor &editor() { return *m_editor; }
    DacPanel &dacs() { return *m_dacs; }
    InfoPanel &info() { return *m_info; }

    // The diagnostics window, created hidden the first time it is written.
    ExtrasWindow &extras();
    bool extrasLoaded() const { return !m_extras.isNull(); }

    // Ports menu.
    void mnu_comm1_Click();
    void mnu_comm2_Click();
    void mnu_userComm_Click();
    void mnu_ethernet_Click();
    void mnu_USB_Click();
    QString CommPortNum;

    // Controls and Help menus (service functions).
    void mnu_EXTRAS_Click();
    void mnu_PASSTHRU_Click();
    void mnu_Config_Click();
    void mnu_BaudRate_Click();
    void mnu_ABOUT_Click();
    void enterSpecialMode();   // after the right password
    RevScreen *aboutBox() const { return m_about; }

    // Exit menu and shutdown.
    void mnu_EXIT_Click();
    void mnu_SHUTDOWN_Click();
    void tmr_EXIT_Timer();
    int ExitSeq = 0;
    QTimer *tmr_EXIT;
    bool ended() const { return m_ended; }

    void DisableCommandButtons() { setCommandButtonsEnabled(false); }
    void EnableCommandButtons() { setCommandButtonsEnabled(true); }

    QString outputString = QStringLiteral("A01");
    QString tesselError() const { return m_tesselError; }

signals:
    // The program ends: no further handler of this window runs.
    void programEnded();

protected:
    void closeEvent(QCloseEvent *e) override;

private:
    QAction *addItem(QMenu *menu, const char *name, const QString &caption, std::function<void()> handler);
    void buildMenus();
    void buildPanels();
    void buildStatusBar();
    void startUp(const TesselFactory &tesselFactory);
    void setCommandButtonsEnabled(bool on);
    void checkPort(QAction *item);
    void serialChoice(QAction *item, const QString &mode, const QString &fixedPort);
    void connectedChoice();   // status request, then automatic update
    void showPanel(int index, const QString &text);
    void invalidPort();
    void endProgram();
    void closeLinks(bool tcpAlways);

    const BuildData &m_build;
    Session *m_session;
    RatingMenu *m_rating = nullptr;
    StatusPanel *m_status = nullptr;
    ControlsPanel *m_controls = nullptr;
    ReadbacksPanel *m_readbacks = nullptr;
    UpdateCycle *m_cycle = nullptr;
    DacPanel *m_dacs = nullptr;
    SetpointEditor *m_editor = nullptr;
    InfoPanel *m_info = nullptr;
    QPointer<ExtrasWindow> m_extras;
    QPointer<RevScreen> m_about;
    RemoteHostDialog *m_remoteHost = nullptr;
    QLabel *m_panels[6] = {};
    QAction *m_portItems[5] = {};
    QMenu *m_portMenu = nullptr, *m_controlMenu = nullptr, *m_wattageMenu = nullptr, *m_helpMenu = nullptr,
          *m_exitMenu = nullptr;
    QAction *mnu_EXTRAS = nullptr, *mnu_PASSTHRU = nullptr, *mnu_AUTOUPDATE = nullptr, *mnu_MANUAL = nullptr;
    QString m_tesselError;
    bool m_ended = false;
};

} // namespace plv
