#pragma once
// "Traffic Log": every frame sent and received, time-out, error and discarded input, one
// row each and decoded, with filters by command, direction and text, pause, copy and
// save. A view over the log only: closing it loses nothing.
#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTimer;
class QToolButton;

namespace plv {

class BatchedRows;

namespace logs {
class TrafficLog;
class TrafficLogModel;
class TrafficFilterModel;
}

class TrafficWindow : public QWidget {
    Q_OBJECT
public:
    explicit TrafficWindow(logs::TrafficLog &log, QWidget *parent = nullptr);

    // While the window shows.
    logs::TrafficLogModel &model() const { return *m_model; }
    logs::TrafficFilterModel &filter() const { return *m_filter; }

    // The selected rows, tab-separated, onto the clipboard.
    void copySelection();
    // The rows the table shows (the filter's, up to a pause): CSV for a .csv name,
    // tab-separated text otherwise.
    bool saveTo(const QString &path, QString *error = nullptr);
    int rowsToSave() const;
    void chooseAndSave();

    QSize sizeHint() const override { return {940, 480}; }

    QTableView *tbl_TRAFFIC;
    QLineEdit *txt_COMMAND, *txt_FILTER;
    QToolButton *btn_DIRECTIONS;
    QPushButton *btn_PAUSE, *btn_COPY, *btn_SAVE;
    QLabel *lbl_ROWS;

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void attach();
    void detach();
    void applyDirections();
    void showCounts();
    void followTail();
    void noteMeanings(int first, int last);   // rows of the filter
    void fitMeaning();

    logs::TrafficLog &m_log;
    logs::TrafficLogModel *m_model = nullptr;
    logs::TrafficFilterModel *m_filter = nullptr;
    BatchedRows *m_view = nullptr;   // what the table shows: the filter's rows, in batches
    QString m_longestMeaning;   // of the rows the filter has taken
    QList<int> m_widths;   // the columns' widths, kept while the window is hidden
    QTimer *m_textDelay;
    bool m_follow = true;
    bool m_scrollQueued = false;
};

} // namespace plv
