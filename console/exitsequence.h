#pragma once
// "Shutdown and Exit": the unit back to local control, then its four setpoints zeroed
// on four ticks of the exit timer, 75 ms apart, and the end.
#include <QObject>
#include <functional>

class QTimer;

namespace plv {

class ControlsPanel;
class Unit;

class ExitSequence : public QObject {
    Q_OBJECT
public:
    // 'finish' closes the links and ends the program after the last command.
    ExitSequence(Unit &unit, ControlsPanel &controls, std::function<void()> finish, QObject *window);

    void mnu_SHUTDOWN_Click();
    void tmr_EXIT_Timer();

    int ExitSeq = 0;
    QTimer *tmr_EXIT;

private:
    Unit &m_unit;
    ControlsPanel &m_controls;
    std::function<void()> m_finish;
};

} // namespace plv
