#include "logs/trafficmodel.h"

#include <algorithm>
#include <set>

namespace plv::logs {

TrafficLogModel::TrafficLogModel(TrafficLog *log, QObject *parent)
    : QAbstractTableModel(parent), m_log(log), m_viewFirst(log->firstSeq()), m_viewEnd(log->endSeq())
{
    connect(log, &TrafficLog::aboutToDrop, this, &TrafficLogModel::onAboutToDrop);
    connect(log, &TrafficLog::dropped, this, &TrafficLogModel::onDropped);
    connect(log, &TrafficLog::appended, this, [this] {
        if (!m_paused)
            showPending();
    });
    connect(log, &TrafficLog::aboutToClear, this, [this] { beginResetModel(); });
    connect(log, &TrafficLog::cleared, this, [this] {
        m_viewFirst = m_viewEnd = m_log->endSeq();
        endResetModel();
    });
}

int TrafficLogModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_viewEnd - m_viewFirst);
}

int TrafficLogModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant TrafficLogModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const qint64 seq = seqAt(index.row());
    if (!m_log->contains(seq))
        return {};
    switch (role) {
    case SeqRole: return seq;
    case TimeMsRole: return m_log->timeMs(seq);
    case DirectionRole: return int(m_log->direction(seq));
    case CommandRole: return m_log->command(seq);
    case FrameBytesRole: return m_log->frame(seq).toByteArray();
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
    case ExportTextRole:
        switch (index.column()) {
        case TimeColumn:
            if (role == ExportTextRole)
                return isoTime(m_log->timeMs(seq));
            return QDateTime::fromMSecsSinceEpoch(m_log->timeMs(seq)).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
        case DirectionColumn: return directionName(m_log->direction(seq));
        case LinkColumn: return m_log->link(seq);
        case FrameColumn: return renderFrame(m_log->frame(seq));
        case ChecksumColumn: return checksumName(m_log->checksum(seq));
        case MeaningColumn: return m_log->meaning(seq);
        }
        return {};
    default:
        return {};
    }
}

QVariant TrafficLogModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case TimeColumn: return tr("Time");
    case DirectionColumn: return tr("Direction");
    case LinkColumn: return tr("Link");
    case FrameColumn: return tr("Frame");
    case ChecksumColumn: return tr("Checksum");
    case MeaningColumn: return tr("Meaning");
    }
    return {};
}

void TrafficLogModel::setPaused(bool paused)
{
    if (paused == m_paused)
        return;
    m_paused = paused;
    if (!paused)
        showPending();
    emit pausedChanged(paused);
}

void TrafficLogModel::onAboutToDrop(qint64 newFirstSeq)
{
    // Announced before the log lets go, so views still read the rows being removed.
    const qint64 gone = qMin(newFirstSeq, m_viewEnd) - m_viewFirst;
    if (gone > 0) {
        beginRemoveRows({}, 0, int(gone - 1));
        m_removing = true;
    }
}

void TrafficLogModel::onDropped()
{
    m_viewFirst = qMax(m_viewFirst, m_log->firstSeq());
    m_viewEnd = qMax(m_viewEnd, m_viewFirst);
    if (m_removing) {
        m_removing = false;
        endRemoveRows();
    }
}

void TrafficLogModel::showPending()
{
    const qint64 end = m_log->endSeq();
    if (end <= m_viewEnd)
        return;
    const int first = rowCount();
    beginInsertRows({}, first, first + int(end - m_viewEnd) - 1);
    m_viewEnd = end;
    endInsertRows();
}

TrafficFilterModel::TrafficFilterModel(TrafficLogModel *source, QObject *parent) : QAbstractProxyModel(parent)
{
    setSourceModel(source);
}

void TrafficFilterModel::setSourceModel(QAbstractItemModel *source)
{
    auto *model = qobject_cast<TrafficLogModel *>(source);
    Q_ASSERT_X(model || !source, "TrafficFilterModel", "the source must be a TrafficLogModel");
    beginResetModel();
    if (m_source)
        disconnect(m_source, nullptr, this, nullptr);
    m_source = model;
    QAbstractProxyModel::setSourceModel(model);
    if (m_source) {
        connect(m_source, &QAbstractItemModel::rowsAboutToBeRemoved, this, &TrafficFilterModel::onAboutToBeRemoved);
        connect(m_source, &QAbstractItemModel::rowsRemoved, this, &TrafficFilterModel::onRemoved);
        connect(m_source, &QAbstractItemModel::rowsInserted, this, &TrafficFilterModel::onInserted);
        connect(m_source, &QAbstractItemModel::modelAboutToBeReset, this, [this] { beginResetModel(); });
        connect(m_source, &QAbstractItemModel::modelReset, this, [this] {
            rebuild();
            endResetModel();
        });
    }
    rebuild();
    endResetModel();
}

void TrafficFilterModel::setCommand(int command)
{
    command = qMax(-1, command);
    if (command != m_command) {
        m_command = command;
        refilter();
    }
}

void TrafficFilterModel::setDirections(DirectionMask directions)
{
    directions &= AllDirections;
    if (directions != m_directions) {
        m_directions = directions;
        refilter();
    }
}

void TrafficFilterModel::setText(const QString &text)
{
    if (text != m_text) {
        m_text = text;
        refilter();
    }
}

bool TrafficFilterModel::accepts(qint64 seq) const
{
    const TrafficLog *log = m_source->log();
    if (!(m_directions & directionBit(log->direction(seq))))
        return false;
    if (m_command >= 0 && log->command(seq) != m_command)
        return false;
    if (m_text.isEmpty())
        return true;
    return log->meaning(seq).contains(m_text, Qt::CaseInsensitive)
           || renderFrame(log->frame(seq)).contains(m_text, Qt::CaseInsensitive)
           || log->link(seq).contains(m_text, Qt::CaseInsensitive);
}

void TrafficFilterModel::refilter()
{
    beginResetModel();
    rebuild();
    endResetModel();
    emit filterChanged();
}

void TrafficFilterModel::rebuild()
{
    m_seqs.clear();
    if (!m_source)
        return;
    const int rows = m_source->rowCount();
    for (int r = 0; r < rows; ++r) {
        const qint64 seq = m_source->seqAt(r);
        if (accepts(seq))
            m_seqs.push_back(seq);
    }
}

void TrafficFilterModel::onAboutToBeRemoved(const QModelIndex &parent, int first, int last)
{
    if (parent.isValid())
        return;
    const auto from = std::lower_bound(m_seqs.begin(), m_seqs.end(), m_source->seqAt(first));
    const auto to = std::upper_bound(from, m_seqs.end(), m_source->seqAt(last));
    if (from == to)
        return;
    m_removeFrom = from - m_seqs.begin();
    m_removeTo = to - m_seqs.begin();
    beginRemoveRows({}, int(m_removeFrom), int(m_removeTo - 1));
}

void TrafficFilterModel::onRemoved()
{
    if (m_removeFrom < 0)
        return;
    m_seqs.erase(m_seqs.begin() + m_removeFrom, m_seqs.begin() + m_removeTo);
    m_removeFrom = m_removeTo = -1;
    endRemoveRows();
}

void TrafficFilterModel::onInserted(const QModelIndex &parent, int first, int last)
{
    if (parent.isValid())
        return;
    // The source only ever appends, so accepted rows go to the end here too.
    std::vector<qint64> accepted;
    for (int r = first; r <= last; ++r) {
        const qint64 seq = m_source->seqAt(r);
        if (accepts(seq))
            accepted.push_back(seq);
    }
    if (accepted.empty())
        return;
    const int at = int(m_seqs.size());
    beginInsertRows({}, at, at + int(accepted.size()) - 1);
    m_seqs.insert(m_seqs.end(), accepted.begin(), accepted.end());
    endInsertRows();
}

QModelIndex TrafficFilterModel::index(int row, int column, const QModelIndex &parent) const
{
    if (parent.isValid() || row < 0 || row >= rowCount() || column < 0 || column >= columnCount())
        return {};
    return createIndex(row, column);
}

QModelIndex TrafficFilterModel::parent(const QModelIndex &) const { return {}; }

int TrafficFilterModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_seqs.size());
}

int TrafficFilterModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() || !m_source ? 0 : m_source->columnCount();
}

bool TrafficFilterModel::hasChildren(const QModelIndex &parent) const { return !parent.isValid() && !m_seqs.empty(); }

QModelIndex TrafficFilterModel::mapToSource(const QModelIndex &proxyIndex) const
{
    if (!proxyIndex.isValid() || !m_source || proxyIndex.row() >= rowCount())
        return {};
    const int row = m_source->rowOfSeq(m_seqs[size_t(proxyIndex.row())]);
    return row < 0 ? QModelIndex() : m_source->index(row, proxyIndex.column());
}

QModelIndex TrafficFilterModel::mapFromSource(const QModelIndex &sourceIndex) const
{
    if (!sourceIndex.isValid() || sourceIndex.model() != m_source)
        return {};
    const qint64 seq = m_source->seqAt(sourceIndex.row());
    const auto it = std::lower_bound(m_seqs.begin(), m_seqs.end(), seq);
    if (it == m_seqs.end() || *it != seq)
        return {};
    return createIndex(int(it - m_seqs.begin()), sourceIndex.column());
}

QString rowsAsText(const QAbstractItemModel &model, const QModelIndexList &selection)
{
    std::set<int> rows;
    for (const QModelIndex &i : selection) {
        if (i.isValid() && i.model() == &model)
            rows.insert(i.row());
    }
    QString text;
    const int columns = model.columnCount();
    for (int r : rows) {
        for (int c = 0; c < columns; ++c) {
            if (c > 0)
                text += QLatin1Char('\t');
            QString cell = model.index(r, c).data(TrafficLogModel::ExportTextRole).toString();
            for (QChar &ch : cell) {
                if (ch == u'\t' || ch == u'\r' || ch == u'\n')
                    ch = u' ';
            }
            text += cell;
        }
        text += QLatin1Char('\n');
    }
    return text;
}

} // namespace plv::logs
