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

    // The switch's action now: towards the position it does not show.
    void hvAction();
    // The operator's request, its direction fixed when the switch was operated. ON asks
    // first and is dropped when the switch already shows on; OFF never asks.
    void requestHv(bool on);
    void localRemoteAction();
    void resetFaultAction();

    QGroupBox *fra_HV, *fra_LOCALREMOTE, *fra_RESET;
    LampButton *btn_HVONOFF, *btn_local_remote, *btn_RSTTIME;

    // The emergency stop: "98,0," whatever the switch shows; an HV ON question still
    // open is answered No.
    void hvOff();
    // The console's own second HV OFF, after one the unit did not confirm.
    void resendHvOff();
    static QString hvOnQuestion();

signals:
    void lastError(const QString &code);
    void hvRequested(bool on);
    void hvResent();

private:
    void switchHv(bool turnOn);
    void send(bool turnOn);
    Unit &m_unit;
    Session &m_session;
    StatusPanel &m_status;
    QWidget *m_window;
    int m_offRequests = 0;
    bool m_askingHvOn = false;
};

} // namespace plv
