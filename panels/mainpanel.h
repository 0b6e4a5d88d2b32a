#pragma once
// Everything inside the main window's frame: the safety header, always in view, over the
// panels, which scroll rather than hide a control on a small or scaled screen; and what
// each step of the update cycle asks of them.
#include "unit/updatecycle.h"

#include <QWidget>

class QScrollArea;

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
    // The header and every panel without scrolling.
    QSize wholeSizeHint() const;

    HealthStrip *strip;
    QScrollArea *scroll;
    StatusPanel *status;
    ControlsPanel *controls;
    ReadbacksPanel *readbacks;
    DacPanel *dacs;
    SetpointEditor *editor;
    InfoPanel *info;
};

} // namespace plv
