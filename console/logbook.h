#pragma once
// The console's records and their View menu: the traffic log, the event log and the
// samples (recording and trends), each fed by its own part, and the windows that show
// them. It only listens: the session, the unit operations and the panels know nothing
// of it.
#include "console/logbookevents.h"
#include "console/logbooksamples.h"
#include "console/logbooktraffic.h"

#include <QObject>
#include <functional>
#include <QPointer>

#include <array>

class QAction;
class QMenu;
class QWidget;

namespace plv {

class EventWindow;
class MainWindow;
class TrafficWindow;
class TrendsWindow;

class EventWindow;
class LinkChoice;
class LinkWatch;
class RatingMenu;
class Session;
class SetpointEditor;
class TrafficWindow;
class TrendsWindow;
class Unit;
class UpdateCycle;

class Logbook : public QObject {
    Q_OBJECT
public:
    enum class View { Traffic, Events, Trends };
    static constexpr int ViewCount = 3;
    static QString viewKey(View v);   // "traffic", "events", "trends"

    // What the records are fed from, handed in by the window that owns them.
    struct Sources {
        QWidget &window;   // parent of the View windows and the prompts
        QMenu *viewMenu;
        const QString &caption;   // the program's, for the "started" line
        Session &session;
        Unit &unit;
        UpdateCycle &cycle;
        RatingMenu &rating;
        LinkChoice &links;
        LinkWatch &watch;
        SetpointEditor &editor;
        QAction *extras;   // shown when special function mode is entered
        QString eventFolder = {};   // empty: the XDG state folder
        std::function<QString()> trendsTitle = {};   // the exported picture's unit line
    };
    explicit Logbook(const Sources &from);
    ~Logbook() override;

    logs::TrafficLog &traffic() { return m_traffic->log(); }
    logs::EventLog &events() { return m_events->log(); }
    logs::SampleRecorder &recorder() { return m_samples->recorder(); }
    const logs::TrendStore &trends() const { return m_samples->trends(); }

    // The window, created hidden the first time it is asked for.
    QWidget &window(View v);
    QWidget *windowIfMade(View v) const { return m_windows[size_t(v)]; }
    TrafficWindow &trafficWindow();
    EventWindow &eventWindow();
    TrendsWindow &trendsWindow();
    void showView(View v);
    void hideViews();

    // Record Readbacks…: asks for a file and starts, or stops when recording.
    void mnu_RECORD_Click();
    bool startRecording(const QString &path);
    void stopRecording();
    // The program ends: held-back rows written, the recording closed.
    void end();

signals:
    void sampleTaken(const plv::logs::Sample &sample);
    // A View window was made (hidden), so its place can be restored before it shows.
    void viewMade(plv::Logbook::View view, QWidget *window);

private:
    void log(logs::EventCategory c, const QString &text) { m_events->log(c, text); }

    QWidget &m_window;
    TrafficFeed *m_traffic;
    EventFeed *m_events;
    SampleFeed *m_samples;
    std::function<QString()> m_trendsTitle;
    std::array<QPointer<QWidget>, ViewCount> m_windows;
    QAction *m_recordAction = nullptr;
};

} // namespace plv
