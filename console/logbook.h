#pragma once
// The console's records: the traffic log fed from the link's signals, the event log of
// the operator's actions and the unit's changes of state, one sample per completed update
// cycle for the recording and the trends, and the View menu with their windows. It only
// listens: the session, the unit operations and the panels know nothing of it.
#include "console/logdecode.h"
#include "health/linkhealth.h"
#include "link/session.h"
#include "logs/eventlog.h"
#include "logs/sample.h"
#include "logs/trafficlog.h"
#include "logs/trendstore.h"
#include "panels/setpointeditor.h"

#include <QObject>
#include <QPointer>

#include <array>
#include <memory>
#include <optional>

class QAction;
class QMenu;
class QTimer;
class QWidget;

namespace plv {

class EventWindow;
class MainWindow;
class TrafficWindow;
class TrendsWindow;

class Logbook : public QObject {
    Q_OBJECT
public:
    enum class View { Traffic, Events, Trends };
    static constexpr int ViewCount = 3;
    static QString viewKey(View v);   // "traffic", "events", "trends"

    // 'eventFolder' empty: the XDG state folder.
    Logbook(MainWindow &window, QMenu *viewMenu, const QString &eventFolder = {});
    ~Logbook() override;

    logs::TrafficLog &traffic() { return *m_traffic; }
    logs::EventLog &events() { return *m_events; }
    logs::SampleRecorder &recorder() { return *m_recorder; }
    const logs::TrendStore &trends() const { return m_trends; }

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

signals:
    void sampleTaken(const plv::logs::Sample &sample);
    // A View window was made (hidden), so its place can be restored before it shows.
    void viewMade(plv::Logbook::View view, QWidget *window);

private:
    // Traffic
    QString linkName(Session::LinkKind kind) const;
    QString makeLinkName(Session::LinkKind kind) const;
    Factors factors() const;
    void addRow(logs::Direction d, Session::LinkKind kind, const QByteArray &frame, const QString &meaning);
    void addRowOn(logs::Direction d, const QString &link, bool checksummed, const QByteArray &frame,
                  const QString &meaning);
    void discarded(Session::LinkKind kind, const QByteArray &bytes, const QString &reason);
    void flushDiscarded();
    void sent(const QByteArray &frame);
    void exchanged(const QByteArray &command, const QByteArray &reply);
    void unsolicited(const QByteArray &frame);

    // Events
    void log(logs::EventCategory c, const QString &text) { m_events->log(c, text); }
    void operatorSent(const QByteArray &payload);
    void operatorAnswered(const QByteArray &command, const QByteArray &reply);
    void statusSeen(const MainStatus &st);
    void flagsSeen(const std::array<std::optional<bool>, 6> &flags);
    void healthChanged(LinkHealth::State state, const QString &text);
    QString ratingText() const;

    // Samples
    void cycleCompleted();

    MainWindow &m_window;
    Session &m_session;
    logs::MonotonicWallClock m_clock;
    logs::TrafficLog *m_traffic;
    logs::EventLog *m_events;
    logs::SampleRecorder *m_recorder;
    logs::TrendStore m_trends;
    SampleAssembler m_sample;
    bool m_cycleWhole = true;   // the cycle in progress ran from its first step
    std::array<QPointer<QWidget>, ViewCount> m_windows;
    QAction *m_recordAction = nullptr;

    QByteArray m_lastSent;   // payload of the last command, for its reply's meaning
    QByteArray m_lastUnsolicited;   // and its meaning under those factors
    Factors m_lastUnsolicitedFactors{};
    QString m_lastUnsolicitedMeaning;
    struct LinkNameCache {
        QString address;
        quint16 port = 0;
        QString name;
    };
    mutable std::array<LinkNameCache, 3> m_linkNames;

    // Consecutive pieces of junk on one link become one row.
    struct Junk {
        bool active = false;
        Session::LinkKind link = Session::LinkKind::Serial;
        QString reason;
        QByteArray head;
        qint64 bytes = 0;
        int pieces = 0;
        qint64 timeMs = 0;
    } m_junk;
    QTimer *m_junkFlush;

    struct PendingSetpoint {
        Channel channel;
        int count;
        SetpointEditor::Action action;
    };
    std::optional<PendingSetpoint> m_setpoint;   // from the editor, until its frame is answered
    QString m_setpointText;                      // "kV setpoint 35.012 kV", for its answer

    // The unit's state as last read, for its changes.
    MainStatus m_status;
    std::array<std::optional<bool>, 6> m_flags;
    LinkHealth::State m_health = LinkHealth::State::NotChosen;
    std::optional<bool> m_automatic;
};

} // namespace plv
