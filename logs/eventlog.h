#pragma once
// The audit trail: what the operator did and how the unit's state changed, one line per
// event, appended to a file per local day under the XDG state folder and kept (bounded)
// in memory for a window. Writing happens on a thread of its own: a full or read-only
// disk is reported once and the caller never waits for it.
//
// Callers pass only the text to be kept. They must never pass a password, a mode or
// configuration key or anything derived from one: every word given here goes to disk.
#include "logs/formatting.h"
#include "logs/linewriter.h"

#include <QAbstractTableModel>
#include <QDate>
#include <QDateTime>
#include <QObject>
#include <QSortFilterProxyModel>
#include <QString>

#include <deque>
#include <optional>

namespace plv::logs {

enum class EventCategory : quint8 {
    Operator,   // requests and actions: link chosen, HV ON asked for, a setpoint programmed
    Unit,       // the unit's own changes: HV, interlock, fault flags, remote
    Link,       // link lost and restored
    Console,    // the console itself: started, stopped
};
QString categoryName(EventCategory c);   // "operator", "unit", "link", "console"

struct Event {
    QDateTime time;
    EventCategory category = EventCategory::Console;
    QString text;   // one line: control characters became spaces
};

class EventLog : public QObject {
    Q_OBJECT
public:
    static constexpr int DefaultMemoryCapacity = 10000;

    // Day files go to `folder`, made when the first line is written.
    explicit EventLog(const QString &folder = defaultFolder(), QObject *parent = nullptr);

    // $XDG_STATE_HOME/plv-console, or ~/.local/state/plv-console when that is unset.
    static QString defaultFolder();
    QString folder() const { return m_folder; }
    // events-YYYY-MM-DD.log for that local day.
    QString filePath(QDate localDay) const;

    // Records an event at the time of the call. See the top of this file about secrets.
    void log(EventCategory category, const QString &text);
    // The same at a given time; the day file is chosen by that time's local date.
    void logAt(const QDateTime &time, EventCategory category, const QString &text);

    // "2024-05-01T23:59:59.250+02:00 operator HV ON requested", without the line break.
    static QString formatLine(const Event &event);
    // The reverse; nothing for a line that is not an event's.
    static std::optional<Event> parseLine(QStringView line);

    // Puts that day's events from before the first one held in front of them, as far as
    // the memory bound reaches, so a restarted console still shows what happened earlier
    // that day. Once per log, and before a model shows it; returns how many were read.
    int loadDay(QDate localDay);

    int count() const { return int(m_events.size()); }
    const Event &at(int i) const { return m_events[size_t(i)]; }
    void setMemoryCapacity(int events);
    int memoryCapacity() const { return m_capacity; }

    bool isWriteFailing() const { return m_writer.isFailing(); }
    QString lastWriteError() const { return m_lastError; }
    // Waits until every line so far is on disk or has failed; for tests and shutdown.
    bool waitForWritten(int msecs) { return m_writer.waitForIdle(msecs); }

signals:
    void aboutToDropOldest(int count);
    void oldestDropped(int count);
    void eventAdded(const plv::logs::Event &event);
    // Once when the file cannot be written, and again only after a line got through.
    void writeFailed(const QString &path, const QString &reason);
    void writeRecovered(const QString &path);

private:
    void trim(int capacity);

    QString m_folder;
    std::deque<Event> m_events;
    int m_capacity = DefaultMemoryCapacity;
    QString m_lastError;
    MonotonicWallClock m_clock;
    bool m_dayLoaded = false;
    LineWriter m_writer;
};

// The events held in memory, oldest first, for a table view.
class EventLogModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { TimeColumn, CategoryColumn, TextColumn, ColumnCount };

    explicit EventLogModel(EventLog *log, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    EventLog *m_log;
    int m_rows;   // rows announced to views; trails the log only inside a signal
};

// Events whose text holds a word (case-insensitive) and, when one is set, of one category.
class EventFilterModel : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit EventFilterModel(EventLogModel *source, QObject *parent = nullptr);

    void setText(const QString &text);
    void setCategory(std::optional<EventCategory> category);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

private:
    QString m_text;
    std::optional<EventCategory> m_category;
};

} // namespace plv::logs
