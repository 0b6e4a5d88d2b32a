#pragma once
// Automatic and manual update modes. In automatic mode tmr_UPDATE runs one query per
// tick, 66 ms after the previous transaction ended, through a fixed ten-step cycle.
#include <QObject>
#include <array>
#include <functional>

class QAction;

namespace plv {

class Session;

class UpdateCycle : public QObject {
    Q_OBJECT
public:
    using Step = std::function<void()>;
    // 'steps' are the ten queries in cycle order; 'immediate' the seven that entering
    // automatic mode runs at once.
    UpdateCycle(Session &session, QAction *autoItem, QAction *manualItem, std::array<Step, 10> steps,
                std::array<Step, 7> immediate, std::function<void(bool)> setCommandButtonsEnabled,
                QObject *parent);

    void mnu_AUTOUPDATE_Click();
    void mnu_MANUAL_Click();
    void tmr_UPDATE_Timer();

    int ctr_AutoUpdate = 0;

private:
    Session &m_session;
    QAction *m_auto, *m_manual;
    std::array<Step, 10> m_steps;
    std::array<Step, 7> m_immediate;
    std::function<void(bool)> m_setButtons;
};

} // namespace plv
