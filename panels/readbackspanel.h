#pragma once
// "READBACKS" (command 19: kV, mA and filament monitors) and "TEMPERATURES AND
// VOLTAGE" (command 20: the -15 V supply and two converter channels), with the shared
// busy lamp of "UPDATE DATA".
#include <QByteArray>
#include <QObject>

class QGroupBox;
class QLineEdit;
class QWidget;

namespace plv {

class LampButton;
class RatingMenu;
class Session;
class Unit;

class ReadbacksPanel : public QObject {
    Q_OBJECT
public:
    ReadbacksPanel(Unit &unit, const RatingMenu &rating, QWidget *parent);

    void UpdateData();
    void UpdateTemps();

    // The last fields cut from the replies, as text.
    QByteArray KV_MON, EmMon, Fil_I_Mon, LVPS24;

    QGroupBox *fra_READBACKS, *fra_TEMPS, *fra_UPDATEDATA;
    QLineEdit *txt_ADC2, *txt_ADC3, *txt_ADC13, *txt_ADC1, *txt_ADC0, *txt_ADC6;
    LampButton *btn_UPDATEDATA;

private:
    Unit &m_unit;
    Session &m_session;
    const RatingMenu &m_rating;
};

} // namespace plv
