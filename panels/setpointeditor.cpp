#include "panels/setpointeditor.h"

#include "widgets/widgets.h"
#include "link/session.h"
#include "unit/unit.h"
#include "protocol/decode.h"
#include "panels/dacpanel.h"
#include "panels/ratingmenu.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace plv {

namespace {
// Limits are quoted as the result box's picture shows values: thousandths of a kV (whole
// volts in the scaled box), of a mA or of an A.
int shownDecimals(Channel c) { return c == Channel::A ? 0 : 3; }
} // namespace

SetpointEditor::SetpointEditor(Unit &unit, const RatingMenu &rating, DacPanel &results, QWidget *parent)
    : QObject(parent), m_unit(unit), m_session(unit.session()), m_rating(rating), m_results(results)
{
    fra_SETDACS = new QGroupBox(tr("SET DAC CHANNELS"), parent);
    fra_SETDACS->setObjectName(QStringLiteral("fra_SETDACS"));
    auto *outer = new QGridLayout(fra_SETDACS);

    auto *chsel = new QGroupBox(tr("Program Setpoints"), fra_SETDACS);
    chsel->setObjectName(QStringLiteral("fra_CHSEL"));
    auto *chl = new QVBoxLayout(chsel);
    auto *group = new QButtonGroup(this);
    for (int i = 0; i < 4; ++i) {
        const ChannelInfo &info = channelInfo(Channel(i));
        opt[i] = new QRadioButton(QLatin1String(info.optionText), chsel);
        opt[i]->setObjectName(QLatin1String(info.optionName));
        group->addButton(opt[i], i);
        chl->addWidget(opt[i]);
        connect(opt[i], &QRadioButton::clicked, this, [this, i] {
            // During a transaction the radio stays where it was: the selection takes
            // effect, whole, once the transaction has ended.
            if (m_session.waiting())
                opt[int(m_applied)]->setChecked(true);
            m_session.operate([this, i] { selectChannel(Channel(i)); });
        });
    }
    opt[0]->setChecked(true);

    lbl_CHMOD = new QLabel(QLatin1String(channelInfo(Channel::A).modifyText), fra_SETDACS);
    lbl_CHMOD->setObjectName(QStringLiteral("lbl_CHMOD"));
    ctrl_BITVAL = new NumEdit(fra_SETDACS);
    ctrl_BITVAL->setObjectName(QStringLiteral("ctrl_BITVAL"));
    ctrl_BITVAL->setMinimum(0);
    ctrl_BITVAL->setMaximum(kMaxCount);
    ctrl_BITVAL->setSingleStep(1);
    ctrl_SCALVAL = new NumEdit(fra_SETDACS);
    ctrl_SCALVAL->setObjectName(QStringLiteral("ctrl_SCALVAL"));
    auto *bitLabel = new QLabel(tr("&Bit Value"), fra_SETDACS);
    bitLabel->setBuddy(ctrl_BITVAL);
    auto *scalLabel = new QLabel(tr("&Scaled Value"), fra_SETDACS);
    scalLabel->setBuddy(ctrl_SCALVAL);
    lbl_SCALUNIT = new QLabel(fra_SETDACS);
    lbl_SCALUNIT->setObjectName(QStringLiteral("lbl_SCALUNIT"));
    lbl_WOULDSEND = new QLabel(fra_SETDACS);
    lbl_WOULDSEND->setObjectName(QStringLiteral("lbl_WOULDSEND"));

    btn_UPDATE = new QPushButton(tr("&TRY OUT"), fra_SETDACS);
    btn_UPDATE->setObjectName(QStringLiteral("btn_UPDATE"));
    btn_UPDATE->setToolTip(tr("Transmit New Value to DSP"));
    btn_ACCEPT = new QPushButton(tr("P&ROGRAM"), fra_SETDACS);
    btn_ACCEPT->setObjectName(QStringLiteral("btn_ACCEPT"));
    btn_ACCEPT->setToolTip(tr("Accept Current Value"));
    btn_CANCEL = new QPushButton(tr("CA&NCEL"), fra_SETDACS);
    btn_CANCEL->setObjectName(QStringLiteral("btn_CANCEL"));
    btn_CANCEL->setToolTip(tr("Revert to Original Value"));

    outer->addWidget(chsel, 0, 0, 4, 1);
    outer->addWidget(lbl_CHMOD, 0, 1, 1, 3);
    outer->addWidget(bitLabel, 1, 1);
    outer->addWidget(ctrl_BITVAL, 1, 2, 1, 2);
    outer->addWidget(scalLabel, 2, 1);
    outer->addWidget(ctrl_SCALVAL, 2, 2, 1, 2);
    outer->addWidget(lbl_SCALUNIT, 2, 4);
    outer->addWidget(btn_UPDATE, 3, 1);
    outer->addWidget(btn_ACCEPT, 3, 2);
    outer->addWidget(btn_CANCEL, 3, 3);
    outer->addWidget(lbl_WOULDSEND, 4, 1, 1, 4);

    connect(ctrl_BITVAL, &NumEdit::valueChanged, this, &SetpointEditor::bitValueChanged);
    connect(ctrl_SCALVAL, &NumEdit::valueChanged, this, &SetpointEditor::scaledValueChanged);
    connect(ctrl_BITVAL, &NumEdit::refused, this, &SetpointEditor::refused);
    connect(ctrl_SCALVAL, &NumEdit::refused, this, &SetpointEditor::refused);
    connect(&rating, &RatingMenu::ratingSelected, this, &SetpointEditor::showUnits);
    connect(btn_UPDATE, &QPushButton::clicked, this, [this] { m_session.operate([this] { tryOut(); }); });
    connect(btn_ACCEPT, &QPushButton::clicked, this, [this] { m_session.operate([this] { program(); }); });
    connect(btn_CANCEL, &QPushButton::clicked, this, [this] { m_session.operate([this] { cancel(); }); });
}

std::optional<Channel> SetpointEditor::selected() const
{
    for (Channel c : {Channel::A, Channel::B, Channel::D, Channel::C})
        if (opt[int(c)]->isChecked())
            return c;
    return std::nullopt;
}

double SetpointEditor::factor(Channel c) const
{
    return channelFactor(c, m_rating.VoltsPerCount, m_rating.MilliampsPerCount);
}

void SetpointEditor::selectChannel(Channel c)
{
    const ChannelInfo &info = channelInfo(c);
    m_applied = c;
    opt[int(c)]->setChecked(true);
    lbl_CHMOD->setText(QLatin1String(info.modifyText));
    ctrl_SCALVAL->setMinimum(0);
    ctrl_SCALVAL->setMaximum(info.scaledMax);
    ctrl_SCALVAL->setSingleStep(factor(c));
    ctrl_SCALVAL->setLimitDecimals(shownDecimals(c));
    ctrl_BITVAL->setValue(OldDAC[int(c)]);
    showUnits();
}

void SetpointEditor::showUnits()
{
    const auto c = selected();
    if (!c) {
        lbl_SCALUNIT->clear();
        lbl_WOULDSEND->clear();
        return;
    }
    // The scaled box counts volts on the kV channel, mA and A on the others.
    static const char *const kUnits[4] = {"V", "mA", "A", "A"};
    lbl_SCALUNIT->setText(QLatin1String(kUnits[int(*c)]));
    const int count = NewDAC[int(*c)];
    const double value = count * factor(*c);
    const QString shown = *c == Channel::A ? tr("%1 kV").arg(value / 1000, 0, 'f', 2)
                          : *c == Channel::B ? tr("%1 mA").arg(value, 0, 'f', 3)
                                             : tr("%1 A").arg(value, 0, 'f', 3);
    const Rating *r = m_rating.selected();
    lbl_WOULDSEND->setText(r ? tr("count %1 = %2 at %3 kV / %4 W").arg(count).arg(shown).arg(r->kV).arg(r->watts)
                             : tr("count %1 = %2").arg(count).arg(shown));
}

void SetpointEditor::bitValueChanged()
{
    const auto c = selected();
    if (!c)
        return;
    const double bits = ctrl_BITVAL->value();
    ctrl_SCALVAL->setValueQuietly(bits * factor(*c));
    NewDAC[int(*c)] = roundHalfEven16(bits);
    showUnits();
}

void SetpointEditor::scaledValueChanged()
{
    const auto c = selected();
    if (!c)
        return;
    const double bits = ctrl_SCALVAL->value() / factor(*c);
    if (!countForValue(*c, ctrl_SCALVAL->value(), m_rating.VoltsPerCount, m_rating.MilliampsPerCount)) {
        // More than the channel's full scale under this rating: never becomes a count.
        ctrl_SCALVAL->setValueQuietly(ctrl_BITVAL->value() * factor(*c));
        emit refused(tr("That is beyond the channel's full scale of %1 under the selected rating.")
                         .arg(kMaxCount * factor(*c), 0, 'f', shownDecimals(*c)));
        return;
    }
    ctrl_BITVAL->setValue(bits);
}

void SetpointEditor::tryOut()
{
    sendPending(selected(), Action::TryOut);
}

std::optional<int> SetpointEditor::sendPending(std::optional<Channel> c, Action action)
{
    const int count = c ? NewDAC[int(*c)] : 0;
    if (!c || !setpointCommand(*c, count)) {
        // Nothing is sent; the timers stay paused while the message is up, as during a
        // transaction, and come back as after one.
        m_session.pause();
        if (c)
            emit refused(tr("A count of %1 is outside the unit's range of 0 to %2: nothing was sent.")
                             .arg(count).arg(kMaxCount));
        m_session.showCommErrors(true);
        m_session.rearm();
        return std::nullopt;
    }
    QLineEdit *box = m_results.box(*c);
    setBoxColor(box, Qt::white);
    box->setText(tr("Not Set"));
    emit sending(*c, count, action);
    const TryOut r = m_unit.tryOut(*c, count);
    if (r.status == '$') {
        box->setText(confirmationText(*c, count, m_rating.VoltsPerCount, m_rating.MilliampsPerCount));
        setBoxColor(box, Qt::white);
    } else if (r.status == '1') {
        box->setText(tr("Invalid"));
        setBoxColor(box, QColor(255, 255, 0));
        emit lastError(QStringLiteral("1"));
    } else {
        box->setText(tr("No Comms"));
        setBoxColor(box, QColor(255, 0, 0));
    }
    m_session.showCommErrors(true);
    return count;
}

void SetpointEditor::program()
{
    // The channel and count are those of the transaction, whatever was selected while
    // it waited; accepted whatever the unit answered.
    const auto c = selected();
    if (const auto sent = sendPending(c, Action::Program))
        OldDAC[int(*c)] = *sent;
}

void SetpointEditor::cancel()
{
    const auto c = selected();
    if (!c)
        return;
    ctrl_BITVAL->setValue(OldDAC[int(*c)]);
    emit sending(*c, OldDAC[int(*c)], Action::Cancel);
    // The accepted count again; its reply is left to the receive timer.
    m_unit.resend(*c, OldDAC[int(*c)]);
}

} // namespace plv
