#include "console/exitsequence.h"

#include "panels/controlspanel.h"
#include "unit/unit.h"
#include "widgets/widgets.h"

#include <QTimer>

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
    m_controls.btn_local_remote->setValue(true);
    m_controls.localRemoteAction();   // with the switch on: "99,0,", a whole transaction
    tmr_EXIT->start();
}

void ExitSequence::tmr_EXIT_Timer()
{
    // Sent without waiting for or checking any reply; the program ends on the fifth tick.
    static const char *const zeroing[] = {"10,0,", "11,0,", "12,0,"};
    if (ExitSeq >= 1 && ExitSeq <= 3) {
        m_unit.sendOnly(zeroing[ExitSeq - 1]);
    } else if (ExitSeq >= 4) {
        tmr_EXIT->stop();
        m_unit.sendOnly("13,0,");
        m_finish();
        return;
    }
    ++ExitSeq;
}

} // namespace plv
