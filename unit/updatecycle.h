#pragma once
// Automatic and manual update modes. In automatic mode tmr_UPDATE runs one step per
// tick, 66 ms after the previous transaction ended, through a fixed ten-step cycle;
// entering automatic mode first runs seven queries at once. What a step does on screen
// (or in a client) is the owner's: the cycle only knows the order.
#include <QObject>
#include <array>
#include <functional>

namespace plv {

class Session;

class UpdateCycle : public QObject {
    Q_OBJECT
public:
    enum class Step {
        Monitors, SetpointA, SetpointB, SetpointC, SetpointD, Status, PollHours, Supplies, Hours, WebRevision,
        HardwareRevision, ModelNumber, SoftwareRevision
    };
    static constexpr std::array<Step, 10> kCycle = {
        Step::Monitors, Step::SetpointA, Step::SetpointB, Step::SetpointC, Step::SetpointD,
        Step::Status,   Step::PollHours, Step::Supplies,  Step::Hours,     Step::WebRevision};
    static constexpr std::array<Step, 7> kStart = {Step::Monitors,    Step::Supplies,         Step::HardwareRevision,
                                                   Step::ModelNumber, Step::PollHours,        Step::SoftwareRevision,
                                                   Step::WebRevision};

    UpdateCycle(Session &session, std::function<void(Step)> runStep, QObject *parent);

    void mnu_AUTOUPDATE_Click();
    void mnu_MANUAL_Click();
    void tmr_UPDATE_Timer();

    int ctr_AutoUpdate = 0;

signals:
    // Automatic mode chosen (before its first queries) or manual mode chosen.
    void modeChanged(bool automatic);
    // A full pass of the ten steps has ended (after the web revision step).
    void cycleCompleted();

private:
    Session &m_session;
    std::function<void(Step)> m_run;
    quint64 m_modeChoices = 0;   // automatic or manual mode chosen so far
};

} // namespace plv
