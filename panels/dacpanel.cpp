#include "panels/dacpanel.h"

#include "widgets/widgets.h"
#include "link/session.h"
#include "unit/unit.h"
#include "protocol/decode.h"
#include "panels/ratingmenu.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

namespace plv {
namespace {

struct Row {
    const char *button, *caption, *initial, *tip;
};
const Row kRows[4] = {
    {"btn_KVSET", "Voltage Setpoint", "Channel A", "Ch. A, U21, Pin 2"},
    {"btn_EMI", "Emission Current", "Channel B", "Ch. B, U21, Pin 6"},
    {"btn_FILLIM", "Filament Limit", "N/A", ""},
    {"btn_FILPREHEAT", "Filament PreHeat", "N/A", "Ch. D, U21, Pin 7"},
};

} // namespace

DacPanel::DacPanel(Unit &unit, const RatingMenu &rating, QWidget *parent)
    : QObject(parent), m_unit(unit), m_session(unit.session()), m_rating(rating)
{
    fra_DACSETTINGS = new QGroupBox(tr("DAC SETTINGS"), parent);
    fra_DACSETTINGS->setObjectName(QStringLiteral("fra_DACSETTINGS"));
    auto *grid = new QGridLayout(fra_DACSETTINGS);
    for (int i = 0; i < 4; ++i) {
        const Channel c = Channel(i);
        m_buttons[i] = new QPushButton(tr(kRows[i].caption), parent);
        m_buttons[i]->setObjectName(QLatin1String(kRows[i].button));
        m_boxes[i] = makeValueBox(QLatin1String(channelInfo(c).resultBox), tr(kRows[i].initial), parent);
        if (*kRows[i].tip)
            m_boxes[i]->setToolTip(QLatin1String(kRows[i].tip));
        grid->addWidget(m_buttons[i], i, 0);
        grid->addWidget(m_boxes[i], i, 1);
        connect(m_buttons[i], &QPushButton::clicked, this, [this, c] { m_session.operate([this, c] { readback(c); }); });
    }
}

void DacPanel::readback(Channel c)
{
    // Anything but a comma-ended number leaves the box as it was, and counts nothing.
    if (const auto count = m_unit.readSetpoint(c)) {
        QLineEdit *b = box(c);
        b->setText(readbackText(c, *count, m_rating.VoltsPerCount, m_rating.MilliampsPerCount));
        setBoxColor(b, Qt::white);
    }
}

} // namespace plv
