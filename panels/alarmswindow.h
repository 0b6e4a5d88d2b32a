#pragma once
// View > Alarms: the latched alarms, oldest first, with the time each first rose, its
// state and the first-out mark, and the two acknowledge buttons.
#include <QWidget>

class QPushButton;
class QTableWidget;

namespace plv {

class AlarmList;

class AlarmsWindow : public QWidget {
    Q_OBJECT
public:
    AlarmsWindow(AlarmList &alarms, QWidget *parent);

    QTableWidget *tbl_ALARMS;
    QPushButton *btn_ACK, *btn_ACKALL;

private:
    void refill();
    AlarmList &m_alarms;
};

} // namespace plv
