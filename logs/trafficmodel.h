#pragma once
// Item models over the traffic log for a table view: one that shows the log's rows and
// formats only those a view asks for, and one that filters it by command number,
// direction or text. Both follow the ring as it drops its oldest rows.
#include "logs/trafficlog.h"

#include <QAbstractProxyModel>
#include <QAbstractTableModel>

#include <algorithm>
#include <deque>

namespace plv::logs {

class TrafficLogModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { TimeColumn, DirectionColumn, LinkColumn, FrameColumn, ChecksumColumn, MeaningColumn, ColumnCount };
    enum Role {
        SeqRole = Qt::UserRole + 1,   // qint64, the row's number in the log
        TimeMsRole,                   // qint64, milliseconds since the epoch
        DirectionRole,                // int, a Direction
        CommandRole,                  // int, -1 when none
        FrameBytesRole,               // QByteArray, the frame as it went over the link
        ExportTextRole,               // QString, the cell as copied or saved (ISO 8601 time)
    };

    explicit TrafficLogModel(TrafficLog *log, QObject *parent = nullptr);
    TrafficLog *log() const { return m_log; }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Paused, no new rows reach the view while the log keeps collecting them; resuming
    // shows them all at once. Rows that the full ring drops still leave a paused view,
    // since they no longer exist.
    void setPaused(bool paused);
    bool isPaused() const { return m_paused; }
    qint64 pendingRows() const { return m_log->endSeq() - m_viewEnd; }

    qint64 seqAt(int row) const { return m_viewFirst + row; }
    int rowOfSeq(qint64 seq) const { return seq >= m_viewFirst && seq < m_viewEnd ? int(seq - m_viewFirst) : -1; }

signals:
    void pausedChanged(bool paused);

private:
    void onAboutToDrop(qint64 newFirstSeq);
    void onDropped();
    void showPending();

    TrafficLog *m_log;
    qint64 m_viewFirst;   // the rows shown are [m_viewFirst, m_viewEnd) of the log
    qint64 m_viewEnd;
    bool m_paused = false;
    bool m_removing = false;
};

using DirectionMask = quint8;
constexpr DirectionMask directionBit(Direction d) { return DirectionMask(1u << unsigned(d)); }
constexpr DirectionMask AllDirections = DirectionMask((1u << DirectionCount) - 1);

// Rows of a TrafficLogModel that pass every filter set. Changing a filter resets the
// model; new rows are tested as they arrive.
class TrafficFilterModel : public QAbstractProxyModel {
    Q_OBJECT
public:
    explicit TrafficFilterModel(TrafficLogModel *source, QObject *parent = nullptr);

    void setCommand(int command);   // -1: any command
    int command() const { return m_command; }
    void setDirections(DirectionMask directions);
    DirectionMask directions() const { return m_directions; }
    // Case-insensitive, in the frame as shown, the meaning and the link name.
    void setText(const QString &text);
    QString text() const { return m_text; }
    bool isFiltering() const { return m_command >= 0 || m_directions != AllDirections || !m_text.isEmpty(); }

    bool accepts(qint64 seq) const;
    // Whether the row is among those shown now (accepted, and not held back by a pause).
    bool shows(qint64 seq) const { return std::binary_search(m_seqs.begin(), m_seqs.end(), seq); }
    qint64 seqAt(int row) const { return m_seqs[size_t(row)]; }

    // Only a TrafficLogModel can be the source.
    void setSourceModel(QAbstractItemModel *source) override;
    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    bool hasChildren(const QModelIndex &parent = {}) const override;   // the base asks the source
    QModelIndex mapToSource(const QModelIndex &proxyIndex) const override;
    QModelIndex mapFromSource(const QModelIndex &sourceIndex) const override;

signals:
    void filterChanged();

private:
    void rebuild();
    void refilter();
    void onAboutToBeRemoved(const QModelIndex &parent, int first, int last);
    void onRemoved();
    void onInserted(const QModelIndex &parent, int first, int last);

    TrafficLogModel *m_source = nullptr;
    std::deque<qint64> m_seqs;   // the accepted rows' seqs, ascending
    qsizetype m_removeFrom = -1;
    qsizetype m_removeTo = -1;
    int m_command = -1;
    DirectionMask m_directions = AllDirections;
    QString m_text;
};

// The rows touched by `selection`, each once and in row order, as tab-separated lines
// of the same cells a saved text file has: what "Copy" puts on the clipboard.
QString rowsAsText(const QAbstractItemModel &model, const QModelIndexList &selection);

} // namespace plv::logs
