#include "panels/mainpanel.h"

#include "panels/controlspanel.h"
#include "panels/dacpanel.h"
#include "panels/healthstrip.h"
#include "panels/infopanel.h"
#include "panels/ratingmenu.h"
#include "panels/readbackspanel.h"
#include "panels/setpointeditor.h"
#include "panels/statuspanel.h"
#include "widgets/widgets.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace plv {

MainPanel::MainPanel(Unit &unit, RatingMenu &rating, QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("central"));
    strip = new HealthStrip(this);
    scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("scr_PANELS"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto *panels = new QWidget(scroll);
    panels->setObjectName(QStringLiteral("panels"));
    status = new StatusPanel(unit, panels);
    controls = new ControlsPanel(unit, *status, panels);
    readbacks = new ReadbacksPanel(unit, rating, panels);
    dacs = new DacPanel(unit, rating, panels);
    editor = new SetpointEditor(unit, rating, *dacs, panels);
    info = new InfoPanel(unit, panels);
    rating.setTooltipTargets(editor->opt[0], editor->opt[1]);

    // kV and mA readable from a step back.
    for (QLineEdit *big : {readbacks->txt_ADC2, readbacks->txt_ADC3}) {
        QFont f = big->font();
        f.setPointSizeF(f.pointSizeF() * 1.6);
        f.setBold(true);
        big->setFont(f);
    }

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(strip);
    outer->addWidget(scroll, 1);
    auto *grid = new QGridLayout(panels);
    grid->addWidget(readbacks->fra_READBACKS, 0, 0);
    grid->addWidget(readbacks->fra_TEMPS, 0, 1);
    grid->addWidget(readbacks->fra_UPDATEDATA, 0, 2);
    grid->addWidget(status, 1, 0, 1, 2);
    grid->addWidget(controls->fra_HV, 1, 2);
    grid->addWidget(info->fra_SYSINFO, 2, 0);
    grid->addWidget(controls->fra_LOCALREMOTE, 2, 2);
    grid->addWidget(editor->fra_SETDACS, 3, 0, 1, 2);
    grid->addWidget(controls->fra_RESET, 3, 2);
    grid->addWidget(dacs->fra_DACSETTINGS, 2, 1);
    scroll->setWidget(panels);
}

QSize MainPanel::wholeSizeHint() const
{
    const QSize panels = scroll->widget()->sizeHint();
    return {panels.width(), panels.height() + strip->sizeHint().height() + layout()->spacing()};
}

void MainPanel::runStep(UpdateCycle::Step step)
{
    using Step = UpdateCycle::Step;
    switch (step) {
    case Step::Monitors: readbacks->UpdateData(); break;
    case Step::SetpointA: dacs->readback(Channel::A); break;
    case Step::SetpointB: dacs->readback(Channel::B); break;
    case Step::SetpointC: dacs->readback(Channel::C); break;
    case Step::SetpointD: dacs->readback(Channel::D); break;
    case Step::Status: status->btn_REQSTAT_Click(); break;
    case Step::PollHours: info->PollTotalHours(); break;
    case Step::Supplies: readbacks->UpdateTemps(); break;
    case Step::Hours: info->totalHours_Click(); break;
    case Step::WebRevision: info->btn_WEBREV_Click(); break;
    case Step::HardwareRevision: info->btn_HWREV_Click(); break;
    case Step::ModelNumber: info->btn_MODNUM_Click(); break;
    case Step::SoftwareRevision: info->btn_SWREV_Click(); break;
    }
}

void MainPanel::setCommandButtonsEnabled(bool on)
{
    QWidget *buttons[] = {readbacks->btn_UPDATEDATA, dacs->button(Channel::A), dacs->button(Channel::B),
                          dacs->button(Channel::C),  dacs->button(Channel::D), status->btn_REQSTAT,
                          info->btn_HWREV,           info->btn_MODNUM,         info->btn_SWREV,
                          info->btn_WEBREV,          info->totalHours};
    for (QWidget *w : buttons)
        w->setEnabled(on);
}

} // namespace plv
