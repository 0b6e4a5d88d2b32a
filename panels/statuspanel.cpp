#include "panels/statuspanel.h"

#include "widgets/widgets.h"
#include "link/session.h"
#include "unit/unit.h"
#include "protocol/decode.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

namespace plv {
namespace {

const QColor kYellow(255, 255, 0), kRed(255, 0, 0), kBlack(0, 0, 0), kOrange(255, 192, 128);

struct FlagRow {
    const char *led, *label, *caption, *okText, *errorText;
};
const FlagRow kFlags[6] = {
    {"led_ARC", "lbl_ARC", "ARC", "Arc OK", "Arc Error"},
    {"led_TEMP", "lbl_TEMP", "TEMP", "Temp OK", "Temp Error"},
    {"led_OV", "lbl_OV", "Over Voltage", "Over Voltage OK", "Over Voltage Error"},
    {"led_UV", "lbl_UV", "Under Voltage", "Under Voltage OK", "Under Voltage Error"},
    {"led_OC", "lbl_OC", "Over Current", "Over Current OK", "Over Current Error"},
    {"led_UC", "lbl_UC", "Under Current", "Under Current OK", "Under Current Error"},
};

LampButton *lamp(const char *name, const QColor &off, const QColor &on, QWidget *parent)
{
    auto *l = new LampButton(LampButton::Style::Lamp, parent);
    l->setObjectName(QLatin1String(name));
    l->setColors(off, on);
    return l;
}

QLabel *label(const char *name, const char *text, QWidget *parent)
{
    auto *l = new QLabel(QLatin1String(text), parent);
    l->setObjectName(QLatin1String(name));
    return l;
}

} // namespace

StatusPanel::StatusPanel(Unit &unit, QWidget *parent)
    : QGroupBox(tr("SYSTEM STATUS"), parent), m_unit(unit), m_session(unit.session())
{
    setObjectName(QStringLiteral("fra_STATUS"));
    auto *grid = new QGridLayout(this);
    led_HVSTAT = lamp("led_HVSTAT", kBlack, kOrange, this);
    lbl_HVSTAT = label("lbl_HVSTAT", "HV OFF", this);
    led_INTRLKSTAT = lamp("led_INTRLKSTAT", kYellow, kRed, this);
    lbl_INTRLKSTAT = label("lbl_INTRLKSTAT", "INTERLOCK", this);
    led_FAULT = lamp("led_FAULT", kYellow, kRed, this);
    lbl_FAULT = label("lbl_FAULT", "NO PS  FAULT", this);
    grid->addWidget(led_HVSTAT, 0, 0);
    grid->addWidget(lbl_HVSTAT, 0, 1);
    grid->addWidget(led_INTRLKSTAT, 1, 0);
    grid->addWidget(lbl_INTRLKSTAT, 1, 1);
    grid->addWidget(led_FAULT, 2, 0);
    grid->addWidget(lbl_FAULT, 2, 1);
    for (int i = 0; i < 6; ++i) {
        // The flag lamps are lit (yellow) for the normal state.
        flagLeds[i] = lamp(kFlags[i].led, kRed, kYellow, this);
        flagLabels[i] = label(kFlags[i].label, kFlags[i].caption, this);
        grid->addWidget(flagLeds[i], i % 3, 2 + 2 * (i / 3));
        grid->addWidget(flagLabels[i], i % 3, 3 + 2 * (i / 3));
    }
    btn_REQSTAT = new QPushButton(tr("Request Status"), this);
    btn_REQSTAT->setObjectName(QStringLiteral("btn_REQSTAT"));
    grid->addWidget(btn_REQSTAT, 3, 0, 1, 6);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    grid->setColumnStretch(5, 1);
    connect(btn_REQSTAT, &QPushButton::clicked, this, [this] { m_session.operate([this] { btn_REQSTAT_Click(); }); });
}

void StatusPanel::setSwitches(LampButton *hvSwitch, LampButton *localRemote)
{
    m_hvSwitch = hvSwitch;
    m_localRemote = localRemote;
}

void StatusPanel::showInterlock(bool open)
{
    led_INTRLKSTAT->setValue(open);
    lbl_INTRLKSTAT->setText(open ? QStringLiteral("Interlock Open") : QStringLiteral("Interlock Closed"));
    setTextColor(lbl_INTRLKSTAT, open ? kRed : kBlack);
}

void StatusPanel::showFault(bool fault)
{
    led_FAULT->setValue(fault);
    lbl_FAULT->setText(fault ? QStringLiteral("P.S. FAULT") : QStringLiteral("NO P.S. FAULT"));
    setTextColor(lbl_FAULT, fault ? kRed : kBlack);
}

void StatusPanel::btn_REQSTAT_Click()
{
    if (const auto reading = m_unit.readMainStatus()) {
        const MainStatus &st = *reading;
        if (st.hvOn) {
            led_HVSTAT->setValue(*st.hvOn);
            lbl_HVSTAT->setText(*st.hvOn ? QStringLiteral("HV ON") : QStringLiteral("HV OFF"));
            if (m_hvSwitch)
                m_hvSwitch->setValue(*st.hvOn);
        }
        if (st.interlockOpen) {
            showInterlock(*st.interlockOpen);
            // An open interlock means high voltage cannot be on, whatever position 5 said.
            if (*st.interlockOpen && m_hvSwitch)
                m_hvSwitch->setValue(false);
        }
        if (st.fault)
            showFault(*st.fault);
        if (st.remote && m_localRemote)
            m_localRemote->setValue(*st.remote);
        emit mainStatusRead(st, false);
    }

    // The pair is one step: only the emergency HV OFF goes between "22," and "68,";
    // anything else queued, a mode or link choice among it, runs after the flags.
    m_session.runUrgent();
    const auto flags = m_unit.readFaultFlags();
    for (int i = 0; i < 6; ++i) {
        if (!flags[i])
            continue;
        flagLeds[i]->setValue(!*flags[i]);
        flagLabels[i]->setText(QLatin1String(*flags[i] ? kFlags[i].errorText : kFlags[i].okText));
    }
    emit faultFlagsRead(flags);
}

void StatusPanel::applyUnsolicited(const Reply &status, bool viaEthernet)
{
    const MainStatus &st = status.status;
    if (st.hvOn && *st.hvOn) {
        led_HVSTAT->setValue(true);
        lbl_HVSTAT->setText(QStringLiteral("HV ON"));
        if (m_hvSwitch)
            m_hvSwitch->setValue(true);
        if (viaEthernet)
            setTextColor(lbl_HVSTAT, kRed);
    }
    if (st.interlockOpen)
        showInterlock(*st.interlockOpen);
    if (st.fault)
        showFault(*st.fault);
    emit mainStatusRead(st, true);
}

} // namespace plv
