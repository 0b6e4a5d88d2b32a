#pragma once
// Passes a table model's rows on to a view in batches: rows added at the end and rows
// dropped from the front reach the view together a few times a second, so a log that
// turns at hundreds of rows a second costs the view one change per batch, not one per
// row (a table view's work for each change grows with its row count). Any other change
// of the source resets the view at once.
#include <QAbstractTableModel>
#include <QTimer>

namespace plv {

class BatchedRows : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit BatchedRows(QAbstractItemModel *source, int intervalMs, QObject *parent = nullptr);

    // The view catches up with the source now.
    void flush();
    void setInterval(int ms) { m_timer.setInterval(ms); }
    int lastBatch() const { return m_lastBatch; }   // rows the last catching up added

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

signals:
    void flushed();

private:
    void changed();
    void beginReset();
    void endReset();

    QAbstractItemModel *m_source;
    QTimer m_timer;
    int m_rows = 0;      // rows the view knows
    int m_dropped = 0;   // rows dropped from the source's front since the view last caught up
    bool m_resetting = false;
    int m_lastBatch = 0;
};

} // namespace plv
