#include "panels/readbackspanel.h"

#include "widgets/widgets.h"
#include "link/session.h"
#include "unit/unit.h"
#include "protocol/decode.h"
#include "panels/ratingmenu.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace plv {
namespace {

QLineEdit *row(QFormLayout *form, const char *labelName, const QString &label, const char *boxName,
               const QString &initial, const QString &tip, QWidget *parent)
{
    auto *l = new QLabel(label, parent);
    l->setObjectName(QLatin1String(labelName));
    QLineEdit *box = makeValueBox(QLatin1String(boxName), initial, parent);
    if (!tip.isEmpty())
        box->setToolTip(tip);
    l->setBuddy(box);
    form->addRow(l, box);
    return box;
}

} // namespace

ReadbacksPanel::ReadbacksPanel(Unit &unit, const RatingMenu &rating, QWidget *parent)
    : QObject(parent), m_unit(unit), m_session(unit.session()), m_rating(rating)
{
    fra_READBACKS = new QGroupBox(tr("READBACKS"), parent);
    fra_READBACKS->setObjectName(QStringLiteral("fra_READBACKS"));
    auto *f1 = new QFormLayout(fra_READBACKS);
    txt_ADC2 = row(f1, "lbl_ADC2", tr("HV Monitor"), "txt_ADC2", tr("Channel 2"), tr("Ch. 2, CR26"), parent);
    txt_ADC3 = row(f1, "lbl_ADC3_0", tr("MA Current"), "txt_ADC3", tr("Channel 3"), tr("Ch. 3, CR46"), parent);
    txt_ADC13 = row(f1, "lbl_ADC3_1", tr("FIL Monitor"), "txt_ADC13", QString(), QString(), parent);

    fra_TEMPS = new QGroupBox(tr("TEMPERATURES AND VOLTAGE"), parent);
    fra_TEMPS->setObjectName(QStringLiteral("fra_TEMPS"));
    auto *f2 = new QFormLayout(fra_TEMPS);
    txt_ADC1 = row(f2, "Label1", tr("LVPS -15 V"), "txt_ADC1", tr("Channel 1"), tr("Ch. 1, CR31"), parent);
    txt_ADC0 = row(f2, "lbl_ADC0", tr("ADC CAL LOW"), "txt_ADC0", tr("Channel 0"), tr("Ch. 0, CR45"), parent);
    txt_ADC6 = row(f2, "lbl_ADC6", tr("ADC CAL HIGH"), "txt_ADC6", tr("N/A"), tr("Ch. 6, CR44"), parent);

    fra_UPDATEDATA = new QGroupBox(tr("UPDATE DATA"), parent);
    fra_UPDATEDATA->setObjectName(QStringLiteral("fra_UPDATEDATA"));
    btn_UPDATEDATA = new LampButton(LampButton::Style::Button, parent);
    btn_UPDATEDATA->setObjectName(QStringLiteral("btn_UPDATEDATA"));
    btn_UPDATEDATA->setColors(QColor(255, 255, 0), QColor(255, 255, 0));
    btn_UPDATEDATA->setTexts(tr("UPDATE"), tr("WAITING!"));
    btn_UPDATEDATA->setToolTip(tr("Update Analog Data Fields"));
    (new QVBoxLayout(fra_UPDATEDATA))->addWidget(btn_UPDATEDATA, 0, Qt::AlignCenter);
    connect(btn_UPDATEDATA, &LampButton::operated, this, [this] { m_session.operate([this] { UpdateData(); }); });
}

void ReadbacksPanel::UpdateData()
{
    btn_UPDATEDATA->setValue(true);   // "WAITING!" until a usable reply has come
    const Readback r = m_unit.readMonitors();
    if (!r.accepted)
        return;
    btn_UPDATEDATA->setValue(false);
    // Field by field: the first that is missing or not a number ends the decode, and
    // everything shown so far stays.
    QByteArray *vars[3] = {&KV_MON, &EmMon, &Fil_I_Mon};
    for (qsizetype i = 0; i < r.fields.size(); ++i) {
        *vars[i] = r.fields[i];
        const auto v = r.numbers.value(i);
        if (!v)
            break;
        if (i == 0)
            txt_ADC2->setText(kvMonitorText(*v, m_rating.VoltsPerCount));
        else if (i == 1)
            txt_ADC3->setText(maMonitorText(*v, m_rating.MilliampsPerCount));
        else
            txt_ADC13->setText(filamentMonitorText(*v));
    }
}

void ReadbacksPanel::UpdateTemps()
{
    btn_UPDATEDATA->setValue(true);
    const Readback r = m_unit.readSupplies();
    if (!r.accepted)
        return;
    btn_UPDATEDATA->setValue(false);
    const QList<QByteArray> &f = r.fields;
    if (f.isEmpty())
        return;
    LVPS24 = f[0];
    if (const auto v = r.numbers.value(0)) {
        txt_ADC1->setText(supplyText(*v));
        // The two converter channels are shown unscaled; a field that is not a number is
        // shown as it came rather than ending the decode.
        auto raw = [&r](qsizetype i) {
            const auto n = r.numbers.value(i);
            return n ? rawChannelText(*n) : QString::fromLatin1(r.fields[i]);
        };
        if (f.size() > 1)
            txt_ADC0->setText(raw(1));
        if (f.size() > 2)
            txt_ADC6->setText(raw(2));
    }
}

} // namespace plv
