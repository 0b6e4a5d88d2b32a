#include "console/exitsequence.h"

#include "panels/controlspanel.h"
#include "unit/unit.h"
#include "widgets/widgets.h"

#include <QTimer>

#include <algorithm>

namespace plv {

ExitSequence::ExitSequence(Unit &unit, ControlsPanel &controls, std::function<void()> finish, QObject *window)
    : QObject(window), tmr_EXIT(new QTimer(window)), m_unit(unit), m_controls(controls), m_finish(std::move(finish))
{
    tmr_EXIT->setObjectName(QStringLiteral("tmr_EXIT"));
    tmr_EXIT->setInterval(75);
    tmr_EXIT->setTimerType(Qt::PreciseTimer);
    connect(tmr_EXIT, &QTimer::timeout, this, &ExitSequence::tmr_EXIT_Timer);
}

void ExitSequence::mnu_SHUTDOWN_Click()
{
    // The first step through the switch, so it shows local control.
    static_assert(kShutdownSteps[0] == ShutdownStep::Local);
    m_controls.btn_local_remote->setValue(true);
    m_controls.localRemoteAction();   // with the switch on: "99,0,", a whole transaction
    tmr_EXIT->start();
}

void ExitSequence::tmr_EXIT_Timer()
{
    // The zeroing steps, one a tick, sent without waiting for or checking any reply; the
    // program ends on the fifth tick.
    const int last = int(kShutdownSteps.size()) - 1;
    if (ExitSeq >= 1)
        m_unit.shutdownStep(kShutdownSteps[size_t(std::min(ExitSeq, last))], false);
    if (ExitSeq >= last) {
        tmr_EXIT->stop();
        m_finish();
        return;
    }
    ++ExitSeq;
}

} // namespace plv
