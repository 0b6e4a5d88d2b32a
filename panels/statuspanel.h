#pragma once
// "SYSTEM STATUS": high voltage, interlock, supply fault and the six fault flags,
// filled by the status request ("22," then "68,") and by unsolicited status frames.
#include "protocol/decode.h"

#include <QGroupBox>
#include <array>
#include <optional>

class QLabel;
class QPushButton;

namespace plv {

struct Reply;

class LampButton;
class Session;
class Unit;

class StatusPanel : public QGroupBox {
    Q_OBJECT
public:
    StatusPanel(Unit &unit, QWidget *parent);

    // The two switches the status keeps in step (they belong to the controls panel).
    void setSwitches(LampButton *hvSwitch, LampButton *localRemote);

    void btn_REQSTAT_Click();
    // A frame picked up by a receive timer: only high voltage, interlock and fault.
    void applyUnsolicited(const plv::Reply &status, bool viaEthernet);

    QPushButton *btn_REQSTAT;
    LampButton *led_HVSTAT, *led_INTRLKSTAT, *led_FAULT;
    QLabel *lbl_HVSTAT, *lbl_INTRLKSTAT, *lbl_FAULT;
    LampButton *flagLeds[6];
    QLabel *flagLabels[6];

signals:
    // Each status read as the panel shows it, for the alarms: a "22," reply or an
    // unsolicited frame, and a "68," reply (true: the flag's fault).
    void mainStatusRead(const plv::MainStatus &status, bool unsolicited);
    void faultFlagsRead(const std::array<std::optional<bool>, 6> &faults);

private:
    void showInterlock(bool open);
    void showFault(bool fault);
    Unit &m_unit;
    Session &m_session;
    LampButton *m_hvSwitch = nullptr;
    LampButton *m_localRemote = nullptr;
};

} // namespace plv
