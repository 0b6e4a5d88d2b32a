#include "unit/updatecycle.h"

#include "link/session.h"

namespace plv {

UpdateCycle::UpdateCycle(Session &session, std::function<void(Step)> runStep, QObject *parent)
    : QObject(parent), m_session(session), m_run(std::move(runStep))
{
    connect(m_session.tmr_UPDATE, &CycleTimer::timeout, this, &UpdateCycle::tmr_UPDATE_Timer);
}

void UpdateCycle::mnu_AUTOUPDATE_Click()
{
    const quint64 choice = ++m_modeChoices;
    emit modeChanged(true);
    // Queued operator actions run between these queries; one that ends the sequence
    // (manual mode, a new link, an exit) stops it, and automatic mode is not entered.
    // When what stopped it chose no mode itself (a link choice that failed), the console
    // is left in manual mode rather than ticked automatic with no cycle running.
    auto stopped = [&] {
        if (choice == m_modeChoices && !m_session.ended())
            mnu_MANUAL_Click();
    };
    for (const Step s : kStart) {
        if (!m_session.nextTransaction())
            return stopped();
        m_run(s);
    }
    if (!m_session.nextTransaction())
        return stopped();
    m_session.setAutoUpdate(true);
    m_session.tmr_UPDATE->start();
}

void UpdateCycle::mnu_MANUAL_Click()
{
    ++m_modeChoices;
    m_session.endSequences();
    m_session.setAutoUpdate(false);
    emit modeChanged(false);
    m_session.tmr_UPDATE->stop();
}

void UpdateCycle::tmr_UPDATE_Timer()
{
    // Each step pauses tmr_UPDATE for its transaction and restarts it at the end, so
    // the next step runs 66 ms after this one's exchange ended.
    // A transaction that did not pause the timer is still waiting: one at a time.
    if (m_session.waiting() || m_session.ended())
        return;
    const int step = ctr_AutoUpdate;
    if (step >= 0 && step < int(kCycle.size()))
        m_run(kCycle[size_t(step)]);
    ctr_AutoUpdate = step + 1 >= int(kCycle.size()) ? 0 : step + 1;
    if (step == int(kCycle.size()) - 1)
        emit cycleCompleted();
}

} // namespace plv
