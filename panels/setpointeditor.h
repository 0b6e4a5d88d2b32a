#pragma once
// "SET DAC CHANNELS": pick a setpoint channel, edit it as a count or in engineering
// units, and TRY OUT, PROGRAM or CANCEL it on the unit.
#include "protocol/channels.h"

#include <QObject>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QWidget;

namespace plv {

class DacPanel;
class NumEdit;
class RatingMenu;
class Session;
class Unit;

class SetpointEditor : public QObject {
    Q_OBJECT
public:
    SetpointEditor(Unit &unit, const RatingMenu &rating, DacPanel &results, QWidget *parent);

    enum class Action { TryOut, Program, Cancel };

    // Selecting a channel: limits, increment, and the accepted count into the bit box.
    void selectChannel(Channel c);
    void bitValueChanged();
    void scaledValueChanged();
    void tryOut();    // btn_UPDATE
    void program();   // btn_ACCEPT
    void cancel();    // btn_CANCEL

    // The channel the rules act on: A, B, D, C order, the first selected.
    std::optional<Channel> selected() const;

    int NewDAC[4] = {0, 0, 0, 0};   // pending counts, A to D
    int OldDAC[4] = {0, 0, 0, 0};   // accepted counts

    QGroupBox *fra_SETDACS;
    QRadioButton *opt[4];
    QLabel *lbl_CHMOD;
    // The scaled box's unit, and what PROGRAM or TRY OUT would send in the unit's words.
    QLabel *lbl_SCALUNIT, *lbl_WOULDSEND;
    NumEdit *ctrl_BITVAL, *ctrl_SCALVAL;
    QPushButton *btn_UPDATE, *btn_ACCEPT, *btn_CANCEL;

signals:
    void lastError(const QString &code);
    void refused(const QString &message);
    // A count is about to go to the unit, for the event log.
    void sending(plv::Channel c, int count, plv::SetpointEditor::Action action);

private:
    double factor(Channel c) const;
    void showUnits();
    // TRY OUT's transaction for the channel fixed when it started; the count it sent.
    std::optional<int> sendPending(std::optional<Channel> c, Action action);
    Channel m_applied = Channel::A;   // the selection the boxes were last set up for
    Unit &m_unit;
    Session &m_session;
    const RatingMenu &m_rating;
    DacPanel &m_results;
};

} // namespace plv
