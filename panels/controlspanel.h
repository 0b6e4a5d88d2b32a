#pragma once
// The controls that act on the unit: the high-voltage switch ("98,"), the local/remote
// switch ("99,") and the fault reset ("31,"). Each lives in its own frame.
#include <QObject>

class QGroupBox;
class QWidget;

namespace plv {

class LampButton;
class Session;
class Unit;
class StatusPanel;

class ControlsPanel : public QObject {
    Q_OBJECT
public:
    ControlsPanel(Unit &unit, StatusPanel &status, QWidget *parent);

    void hvAction();
    void localRemoteAction();
    void resetFaultAction();

    QGroupBox *fra_HV, *fra_LOCALREMOTE, *fra_RESET;
    LampButton *btn_HVONOFF, *btn_local_remote, *btn_RSTTIME;

    // The emergency stop: "98,0," whatever the switch shows.
    void hvOff();

signals:
    void lastError(const QString &code);
    void hvRequested(bool on);

private:
    void switchHv(bool turnOn);
    Unit &m_unit;
    Session &m_session;
    StatusPanel &m_status;
};

} // namespace plv
