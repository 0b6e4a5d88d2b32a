#pragma once
// "DAC SETTINGS": the unit's four setpoints read back ("14," to "17,") into the result
// boxes that the setpoint editor also writes.
#include "protocol/channels.h"

#include <QObject>

class QGroupBox;
class QLineEdit;
class QPushButton;
class QWidget;

namespace plv {

class RatingMenu;
class Session;
class Unit;

class DacPanel : public QObject {
    Q_OBJECT
public:
    DacPanel(Unit &unit, const RatingMenu &rating, QWidget *parent);

    void readback(Channel c);
    void btn_KVSET_Click() { readback(Channel::A); }
    void btn_EMI_Click() { readback(Channel::B); }
    void btn_FILLIM_Click() { readback(Channel::C); }
    void btn_FILPREHEAT_Click() { readback(Channel::D); }

    QLineEdit *box(Channel c) const { return m_boxes[int(c)]; }
    QPushButton *button(Channel c) const { return m_buttons[int(c)]; }
    QGroupBox *fra_DACSETTINGS;

private:
    Unit &m_unit;
    Session &m_session;
    const RatingMenu &m_rating;
    QLineEdit *m_boxes[4];
    QPushButton *m_buttons[4];
};

} // namespace plv
