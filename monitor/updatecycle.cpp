#include "monitor/updatecycle.h"

#include "link/session.h"

#include <QAction>

namespace plv {

UpdateCycle::UpdateCycle(Session &session, QAction *autoItem, QAction *manualItem, std::array<Step, 10> steps,
                         std::array<Step, 7> immediate, std::function<void(bool)> setCommandButtonsEnabled,
                         QObject *parent)
    : QObject(parent), m_session(session), m_auto(autoItem), m_manual(manualItem), m_steps(std::move(steps)),
      m_immediate(std::move(immediate)), m_setButtons(std::move(setCommandButtonsEnabled))
{
    connect(m_session.tmr_UPDATE, &CycleTimer::timeout, this, &UpdateCycle::tmr_UPDATE_Timer);
}

void UpdateCycle::mnu_AUTOUPDATE_Click()
{
    m_auto->setChecked(true);
    m_manual->setChecked(false);
    m_setButtons(false);
    // Queued operator actions run between these queries; one that ends the sequence
    // (manual mode, a new link, an exit) stops it, and automatic mode is not entered.
    for (const Step &s : m_immediate) {
        if (!m_session.nextTransaction())
            return;
        s();
    }
    if (!m_session.nextTransaction())
        return;
    m_session.AutoUpdate = true;
    m_session.tmr_UPDATE->start();
}

void UpdateCycle::mnu_MANUAL_Click()
{
    m_session.endSequences();
    m_session.AutoUpdate = false;
    m_auto->setChecked(false);
    m_manual->setChecked(true);
    m_session.tmr_UPDATE->stop();
    m_setButtons(true);
}

void UpdateCycle::tmr_UPDATE_Timer()
{
    // Each step pauses tmr_UPDATE for its transaction and restarts it at the end, so
    // the next step runs 66 ms after this one's exchange ended.
    // A transaction that did not pause the timer is still waiting: one at a time.
    if (m_session.waiting() || m_session.ended())
        return;
    const int step = ctr_AutoUpdate;
    if (step >= 0 && step < 10)
        m_steps[size_t(step)]();
    ctr_AutoUpdate = step + 1 >= 10 ? 0 : step + 1;
}

} // namespace plv
