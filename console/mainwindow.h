#pragma once
// The main window: the composition root. It builds the menus, panels and status bar
// over one link session and the unit operations, and wires each control to its
// operation. Link choice, the shutdown sequence and the update cycle are classes of
// their own; what they do to the unit lives in unit/.
#include "link/tesselclient.h"
#include "panels/dialogs.h"
#include "panels/mainpanel.h"
#include "protocol/ratings.h"

#include <QDateTime>
#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <memory>

class QAction;
class QLabel;
class QMenu;

namespace plv {

class ControlsPanel;
class DacPanel;
class ExitSequence;
class InfoPanel;
class HealthStrip;
class LinkChoice;
class LinkWatch;
class Logbook;
class Remembered;
class RatingMenu;
class Safety;
class ReadbacksPanel;
class Session;
class SetpointEditor;
class StatusBarPanels;
class StatusPanel;
class Unit;
class UpdateCycle;

using TesselFactory = std::function<std::unique_ptr<TesselClient>(QString *error)>;
// Builds the window's session (its parent is the window); tests hand in their links and clock.
using SessionFactory = std::function<Session *(QObject *window)>;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(const BuildData &build, TesselFactory tesselFactory = loadTessel, QWidget *parent = nullptr,
                        const SessionFactory &makeSession = {});
    ~MainWindow() override;

    const BuildData &build() const { return m_build; }
    Session &session() { return *m_session; }
    Unit &unit() { return *m_unit; }
    StatusPanel &status() { return *m_panel->status; }
    ControlsPanel &controls() { return *m_panel->controls; }
    ReadbacksPanel &readbacks() { return *m_panel->readbacks; }
    UpdateCycle &cycle() { return *m_cycle; }
    RatingMenu &rating() { return *m_rating; }
    SetpointEditor &editor() { return *m_panel->editor; }
    DacPanel &dacs() { return *m_panel->dacs; }
    InfoPanel &info() { return *m_panel->info; }
    LinkChoice &links() { return *m_links; }
    ExitSequence &exitSequence() { return *m_exit; }
    HealthStrip &healthStrip() { return *m_panel->strip; }
    LinkWatch &linkWatch() { return *m_watch; }
    // The traffic and event logs, the samples and the View windows.
    Logbook &logbook() { return *m_logbook; }
    // The emergency key, the alarms and the titles.
    Safety &safety() { return *m_safety; }

    // The diagnostics window, created hidden the first time it is written.
    ExtrasWindow &extras();
    bool extrasLoaded() const { return !m_extras.isNull(); }
    RevScreen *aboutBox() const { return m_about; }
    void enterSpecialMode();   // after the right password

    void mnu_EXIT_Click();
    bool ended() const { return m_ended; }

    // The whole panel without scrolling; on a smaller screen it scrolls instead.
    QSize sizeHint() const override;

signals:
    // The program ends: no further handler of this window runs.
    void programEnded();

protected:
    void closeEvent(QCloseEvent *e) override;

private:
    QAction *addItem(QMenu *menu, const char *name, const QString &caption, std::function<void()> handler);
    void buildMenus();
    void buildPanels();
    void connectSession();
    void startUp(const TesselFactory &tesselFactory);
    // Stops the cycle, closes the links and ends: the two menu exits.
    void leave(bool tcpAlways);
    void showSpecialItems(bool on);   // the special function mode's two Controls items
    void endProgram();

    const BuildData &m_build;
    Session *m_session;
    std::unique_ptr<Unit> m_unit;
    RatingMenu *m_rating = nullptr;
    UpdateCycle *m_cycle = nullptr;
    LinkChoice *m_links = nullptr;
    ExitSequence *m_exit = nullptr;
    MainPanel *m_panel = nullptr;
    LinkWatch *m_watch = nullptr;
    QMenu *m_viewMenu = nullptr;
    Logbook *m_logbook = nullptr;
    Remembered *m_remembered = nullptr;
    Safety *m_safety = nullptr;
    QPointer<ExtrasWindow> m_extras;
    QDateTime m_lastMissedReply;   // for the diagnostics window, loaded or not
    QPointer<RevScreen> m_about;
    StatusBarPanels *m_statusBar = nullptr;
    QMenu *m_portMenu = nullptr;
    QAction *mnu_EXTRAS = nullptr, *mnu_PASSTHRU = nullptr, *mnu_AUTOUPDATE = nullptr, *mnu_MANUAL = nullptr;
    bool m_ended = false;
};

} // namespace plv
