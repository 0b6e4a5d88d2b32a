#include "panels/controlspanel.h"

#include "widgets/widgets.h"
#include "link/session.h"
#include "unit/unit.h"
#include "protocol/decode.h"
#include "panels/prompt.h"
#include "panels/statuspanel.h"

#include <QApplication>
#include <QMessageBox>

#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>

namespace plv {
namespace {

QGroupBox *frame(const char *name, const QString &title, QWidget *inner, QWidget *parent)
{
    auto *box = new QGroupBox(title, parent);
    box->setObjectName(QLatin1String(name));
    auto *l = new QVBoxLayout(box);
    l->addWidget(inner, 0, Qt::AlignCenter);
    return box;
}

} // namespace

ControlsPanel::ControlsPanel(Unit &unit, StatusPanel &status, QWidget *parent)
    : QObject(parent), m_unit(unit), m_session(unit.session()), m_status(status), m_window(parent)
{
    btn_HVONOFF = new LampButton(LampButton::Style::Switch, parent);
    btn_HVONOFF->setObjectName(QStringLiteral("btn_HVONOFF"));
    btn_HVONOFF->setSwitchLabels(tr("HV ON"), tr("HV OFF"));
    btn_HVONOFF->setToolTip(tr("Turn HV On and Off"));
    btn_HVONOFF->setAccessibleName(tr("HV ON / OFF"));
    // Never the first Tab stop nor where focus falls after a mode change: one Space on it
    // must not be a stray keystroke.
    btn_HVONOFF->setFocusPolicy(Qt::ClickFocus);

    btn_local_remote = new LampButton(LampButton::Style::Switch, parent);
    btn_local_remote->setObjectName(QStringLiteral("btn_local_remote"));
    btn_local_remote->setSwitchLabels(tr("REMOTE"), tr("LOCAL"));
    btn_local_remote->setAccessibleName(tr("LOCAL/REMOTE"));

    btn_RSTTIME = new LampButton(LampButton::Style::Button, parent);
    btn_RSTTIME->setObjectName(QStringLiteral("btn_RSTTIME"));
    btn_RSTTIME->setColors(QColor(255, 255, 0), QColor(255, 128, 255));
    btn_RSTTIME->setTexts(tr("RESET"), tr("In Process!"));
    btn_RSTTIME->setToolTip(tr("Reset Faults"));

    fra_HV = frame("fra_HVONOFF", tr("HV ON / OFF"), btn_HVONOFF, parent);
    fra_LOCALREMOTE = frame("fra_LOCALREMOTE", tr("LOCAL/REMOTE"), btn_local_remote, parent);
    fra_RESET = frame("fra_RESETFAULT", tr("RESET FAULT"), btn_RSTTIME, parent);

    connect(btn_HVONOFF, &LampButton::operated, this, [this] {
        const bool on = !btn_HVONOFF->value();   // the direction the operator saw
        const int offs = m_offRequests;
        m_session.operate([this, on, offs] {
            // An HV OFF since the click (F12 goes ahead of the queue) cancels a queued ON.
            if (!on || m_offRequests == offs)
                requestHv(on);
        });
    });
    connect(btn_local_remote, &LampButton::operated, this,
            [this] { m_session.operate([this] { localRemoteAction(); }); });
    connect(btn_RSTTIME, &LampButton::operated, this, [this] { m_session.operate([this] { resetFaultAction(); }); });
    status.setSwitches(btn_HVONOFF, btn_local_remote);
}

QString ControlsPanel::hvOnQuestion() { return tr("Switch high voltage ON?"); }

void ControlsPanel::hvAction()
{
    requestHv(!btn_HVONOFF->value());
}

void ControlsPanel::requestHv(bool on)
{
    if (!on) {
        switchHv(false);
        return;
    }
    if (btn_HVONOFF->value())
        return;
    const int offs = m_offRequests;
    m_askingHvOn = true;
    const bool yes = prompter().choose(m_window, hvOnQuestion(), {tr("Switch HV ON"), tr("No")}, 1, 1) == 0;
    m_askingHvOn = false;
    // An HV OFF while the question was open answers it.
    if (!yes || m_offRequests != offs)
        return;
    // The update cycle may have run while the question was open; the ON waits its turn.
    m_session.operate([this] {
        if (!btn_HVONOFF->value() && !m_askingHvOn)
            switchHv(true);
    });
}

void ControlsPanel::hvOff()
{
    ++m_offRequests;
    if (m_askingHvOn)
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            box && box->text() == hvOnQuestion())
            box->reject();
    switchHv(false);
}

void ControlsPanel::resendHvOff()
{
    ++m_offRequests;
    emit hvResent();
    send(false);
}

void ControlsPanel::switchHv(bool turnOn)
{
    // The switch moves at once; only the unit's acceptance changes the status lamp.
    btn_HVONOFF->setValue(turnOn);
    emit hvRequested(turnOn);
    send(turnOn);
}

void ControlsPanel::send(bool turnOn)
{
    const char c = m_unit.switchHv(turnOn);
    if (c == '$') {
        m_status.led_HVSTAT->setValue(turnOn);
        m_status.lbl_HVSTAT->setText(turnOn ? QStringLiteral("HV ON") : QStringLiteral("HV OFF"));
        setTextColor(m_status.lbl_HVSTAT, turnOn ? QColor(255, 0, 0) : QColor(0, 0, 0));
    } else if (c == '1') {
        emit lastError(QStringLiteral("1"));
        if (!turnOn)
            btn_HVONOFF->setValue(false);
    }
    m_session.showCommErrors();
}

void ControlsPanel::localRemoteAction()
{
    const bool wasRemote = btn_local_remote->value();
    const char c = m_unit.setRemote(!wasRemote);
    if (c == '$')
        btn_local_remote->setValue(!wasRemote);
    else if (c == '\0')
        btn_local_remote->setValue(wasRemote);
}

void ControlsPanel::resetFaultAction()
{
    m_unit.resetFaults();
    // The reply is not examined: accepted, refused or missing end the same way.
    btn_RSTTIME->setValue(true);
    btn_RSTTIME->setValue(false);
}

} // namespace plv
