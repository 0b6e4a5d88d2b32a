#include "panels/batchedrows.h"

namespace plv {

BatchedRows::BatchedRows(QAbstractItemModel *source, int intervalMs, QObject *parent)
    : QAbstractTableModel(parent), m_source(source), m_rows(source->rowCount())
{
    m_timer.setParent(this);   // found by name among the window's timers
    m_timer.setObjectName(QStringLiteral("tmr_TRAFFICROWS"));
    m_timer.setSingleShot(true);
    m_timer.setInterval(intervalMs);
    connect(&m_timer, &QTimer::timeout, this, &BatchedRows::flush);

    connect(source, &QAbstractItemModel::rowsAboutToBeRemoved, this, [this](const QModelIndex &, int first) {
        if (first != 0)
            beginReset();
    });
    connect(source, &QAbstractItemModel::rowsRemoved, this, [this](const QModelIndex &, int first, int last) {
        if (m_resetting)
            return endReset();
        m_dropped += last - first + 1;
        changed();
    });
    connect(source, &QAbstractItemModel::rowsAboutToBeInserted, this, [this](const QModelIndex &, int first) {
        if (first != m_source->rowCount())
            beginReset();
    });
    connect(source, &QAbstractItemModel::rowsInserted, this, [this] {
        if (m_resetting)
            return endReset();
        changed();
    });
    connect(source, &QAbstractItemModel::modelAboutToBeReset, this, &BatchedRows::beginReset);
    connect(source, &QAbstractItemModel::modelReset, this, &BatchedRows::endReset);
    connect(source, &QAbstractItemModel::layoutAboutToBeChanged, this, &BatchedRows::beginReset);
    connect(source, &QAbstractItemModel::layoutChanged, this, &BatchedRows::endReset);
    connect(source, &QAbstractItemModel::dataChanged, this, [this] {
        emit dataChanged(index(0, 0), index(m_rows - 1, columnCount() - 1));
    });
}

void BatchedRows::changed()
{
    if (!m_timer.isActive())
        m_timer.start();
}

void BatchedRows::beginReset()
{
    if (m_resetting)
        return;
    m_resetting = true;
    m_timer.stop();
    beginResetModel();
}

void BatchedRows::endReset()
{
    if (!m_resetting)
        return;
    m_rows = m_source->rowCount();
    m_dropped = 0;
    m_resetting = false;
    endResetModel();
    emit flushed();
}

void BatchedRows::flush()
{
    m_timer.stop();
    if (m_resetting)
        return;
    // Rows the source dropped after the view last caught up: those the view still shows
    // go in one removal; the rest came and went unseen.
    const int gone = qMin(m_dropped, m_rows);
    if (gone > 0) {
        beginRemoveRows({}, 0, gone - 1);
        m_rows -= gone;
        m_dropped = 0;
        endRemoveRows();
    }
    m_dropped = 0;
    const int target = m_source->rowCount();
    m_lastBatch = qMax(0, target - m_rows);
    if (target > m_rows) {
        beginInsertRows({}, m_rows, target - 1);
        m_rows = target;
        endInsertRows();
    } else if (target < m_rows) {
        beginResetModel();
        m_rows = target;
        endResetModel();
    }
    emit flushed();
}

int BatchedRows::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : m_rows; }

int BatchedRows::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_source->columnCount();
}

QVariant BatchedRows::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows)
        return {};
    const int row = index.row() - m_dropped;   // negative: dropped, not yet removed here
    if (row < 0 || row >= m_source->rowCount())
        return {};
    return m_source->index(row, index.column()).data(role);
}

QVariant BatchedRows::headerData(int section, Qt::Orientation orientation, int role) const
{
    return m_source->headerData(section, orientation, role);
}

} // namespace plv
