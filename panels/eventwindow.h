#pragma once
// "Event Log": the audit trail of the operator's actions and the unit's changes of
// state, filtered by a word and a category, with the file it is written to, and a file
// that cannot be written said once.
#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;
class QTableView;

namespace plv {

namespace logs {
class EventLog;
class EventLogModel;
class EventFilterModel;
}

class EventWindow : public QWidget {
    Q_OBJECT
public:
    explicit EventWindow(logs::EventLog &log, QWidget *parent = nullptr);

    QSize sizeHint() const override { return {820, 420}; }

    QLineEdit *txt_FILTER;
    QComboBox *cmb_CATEGORY;
    QLabel *lbl_FILE, *lbl_WRITEFAILED;
    QTableView *tbl_EVENTS;

private:
    void showFailure(const QString &path, const QString &reason);
    void showFile(qint64 msSinceEpoch);

    logs::EventLog &m_log;
    logs::EventLogModel *m_model;
    logs::EventFilterModel *m_filter;
};

} // namespace plv
