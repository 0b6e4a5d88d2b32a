#include "logs/eventlog.h"

#include <QDir>
#include <QFile>

#include <utility>

namespace plv::logs {

QString categoryName(EventCategory c)
{
    switch (c) {
    case EventCategory::Operator: return QStringLiteral("operator");
    case EventCategory::Unit: return QStringLiteral("unit");
    case EventCategory::Link: return QStringLiteral("link");
    case EventCategory::Console: return QStringLiteral("console");
    }
    return {};
}

EventLog::EventLog(const QString &folder, QObject *parent) : QObject(parent), m_folder(folder)
{
    connect(&m_writer, &LineWriter::failed, this, [this](const QString &path, const QString &reason) {
        m_lastError = reason;
        emit writeFailed(path, reason);
    });
    connect(&m_writer, &LineWriter::recovered, this, &EventLog::writeRecovered);
}

QString EventLog::defaultFolder()
{
    // The XDG rule: a relative path in the variable is invalid and is ignored.
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/plv-console");
}

QString EventLog::filePath(QDate localDay) const
{
    return m_folder + QStringLiteral("/events-") + localDay.toString(QStringLiteral("yyyy-MM-dd"))
           + QStringLiteral(".log");
}

void EventLog::log(EventCategory category, const QString &text) { logAt(m_clock.now(), category, text); }

void EventLog::logAt(const QDateTime &time, EventCategory category, const QString &text)
{
    Event e{time, category, text};
    for (QChar &c : e.text) {
        const auto kind = c.category();
        if (kind == QChar::Other_Control || kind == QChar::Separator_Line || kind == QChar::Separator_Paragraph)
            c = u' ';   // one event, one line
    }
    // The day is the event's own, not the writer's: a line queued just before midnight
    // still goes to that day's file.
    m_writer.append(filePath(localDate(e.time.toMSecsSinceEpoch())), (formatLine(e) + QLatin1Char('\n')).toUtf8());

    trim(m_capacity - 1);
    m_events.push_back(std::move(e));
    emit eventAdded(m_events.back());
}

QString EventLog::formatLine(const Event &event)
{
    return isoTime(event.time) + QLatin1Char(' ') + categoryName(event.category) + QLatin1Char(' ') + event.text;
}

std::optional<Event> EventLog::parseLine(QStringView line)
{
    const qsizetype timeEnd = line.indexOf(QLatin1Char(' '));
    const qsizetype categoryEnd = timeEnd < 0 ? -1 : line.indexOf(QLatin1Char(' '), timeEnd + 1);
    if (categoryEnd < 0)
        return std::nullopt;
    const QDateTime time = QDateTime::fromString(line.first(timeEnd).toString(), Qt::ISODateWithMs);
    const QStringView category = line.sliced(timeEnd + 1, categoryEnd - timeEnd - 1);
    if (!time.isValid())
        return std::nullopt;
    for (auto c : {EventCategory::Operator, EventCategory::Unit, EventCategory::Link, EventCategory::Console})
        if (category == categoryName(c))
            return Event{time, c, line.sliced(categoryEnd + 1).toString()};
    return std::nullopt;
}

int EventLog::loadDay(QDate localDay)
{
    if (std::exchange(m_dayLoaded, true))
        return 0;
    const int room = m_capacity - count();
    QFile f(filePath(localDay));
    if (room <= 0 || !f.open(QIODevice::ReadOnly))
        return 0;
    // Each event is a short line: the tail holds more than the memory keeps.
    const qint64 tailBytes = qint64(m_capacity) * 512;
    const bool cut = f.size() > tailBytes;
    if (cut)
        f.seek(f.size() - tailBytes);
    const QList<QByteArray> lines = f.readAll().split('\n');
    // This run's own events are in the file too, from the first one held on.
    const QDateTime before = m_events.empty() ? QDateTime() : m_events.front().time;
    std::deque<Event> earlier;
    for (qsizetype i = cut ? 1 : 0; i < lines.size(); ++i) {   // the first piece of a cut tail is half a line
        std::optional<Event> e = parseLine(QString::fromUtf8(lines[i]));
        if (e && (!before.isValid() || e->time < before))
            earlier.push_back(std::move(*e));
    }
    while (qsizetype(earlier.size()) > room)
        earlier.pop_front();
    m_events.insert(m_events.begin(), earlier.begin(), earlier.end());
    return int(earlier.size());
}

void EventLog::setMemoryCapacity(int events)
{
    m_capacity = qMax(1, events);
    trim(m_capacity);
}

void EventLog::trim(int capacity)
{
    const int excess = count() - qMax(0, capacity);
    if (excess <= 0)
        return;
    emit aboutToDropOldest(excess);
    m_events.erase(m_events.begin(), m_events.begin() + excess);
    emit oldestDropped(excess);
}

EventLogModel::EventLogModel(EventLog *log, QObject *parent)
    : QAbstractTableModel(parent), m_log(log), m_rows(log->count())
{
    connect(log, &EventLog::aboutToDropOldest, this, [this](int n) { beginRemoveRows({}, 0, n - 1); });
    connect(log, &EventLog::oldestDropped, this, [this](int n) {
        m_rows -= n;
        endRemoveRows();
    });
    connect(log, &EventLog::eventAdded, this, [this] {
        beginInsertRows({}, m_rows, m_log->count() - 1);
        m_rows = m_log->count();
        endInsertRows();
    });
}

int EventLogModel::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : m_rows; }

int EventLogModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant EventLogModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    const Event &e = m_log->at(index.row());
    switch (index.column()) {
    case TimeColumn: return isoTime(e.time);
    case CategoryColumn: return categoryName(e.category);
    case TextColumn: return e.text;
    }
    return {};
}

QVariant EventLogModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case TimeColumn: return tr("Time");
    case CategoryColumn: return tr("Category");
    case TextColumn: return tr("Event");
    }
    return {};
}

EventFilterModel::EventFilterModel(EventLogModel *source, QObject *parent) : QSortFilterProxyModel(parent)
{
    setSourceModel(source);
}

void EventFilterModel::setText(const QString &text)
{
    m_text = text.trimmed();
    invalidateRowsFilter();
}

void EventFilterModel::setCategory(std::optional<EventCategory> category)
{
    m_category = category;
    invalidateRowsFilter();
}

bool EventFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex &) const
{
    const QAbstractItemModel *m = sourceModel();
    if (m_category
        && m->index(sourceRow, EventLogModel::CategoryColumn).data().toString() != categoryName(*m_category))
        return false;
    return m_text.isEmpty()
           || m->index(sourceRow, EventLogModel::TextColumn).data().toString().contains(m_text, Qt::CaseInsensitive);
}

} // namespace plv::logs
