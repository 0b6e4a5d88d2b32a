#pragma once
// Everything inside the main window's frame: the health strip and the panels, laid out,
// and what each step of the update cycle asks of them.
#include "unit/updatecycle.h"

#include <QWidget>

namespace plv {

class ControlsPanel;
class DacPanel;
class HealthStrip;
class InfoPanel;
class RatingMenu;
class ReadbacksPanel;
class SetpointEditor;
class StatusPanel;
class Unit;

class MainPanel : public QWidget {
    Q_OBJECT
public:
    MainPanel(Unit &unit, RatingMenu &rating, QWidget *parent);

    // One step of the update cycle, shown where its panel shows it.
    void runStep(UpdateCycle::Step step);
    // The eleven query buttons, off while automatic update runs.
    void setCommandButtonsEnabled(bool on);

    HealthStrip *strip;
    StatusPanel *status;
    ControlsPanel *controls;
    ReadbacksPanel *readbacks;
    DacPanel *dacs;
    SetpointEditor *editor;
    InfoPanel *info;
};

} // namespace plv
