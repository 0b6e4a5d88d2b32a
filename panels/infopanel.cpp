#include "panels/infopanel.h"

#include "widgets/widgets.h"
#include "link/session.h"
#include "unit/unit.h"
#include "protocol/ratings.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

namespace plv {

InfoPanel::InfoPanel(Unit &unit, QWidget *parent) : QObject(parent), m_unit(unit), m_session(unit.session())
{
    fra_SYSINFO = new QGroupBox(tr("SYSTEM INFORMATION"), parent);
    fra_SYSINFO->setObjectName(QStringLiteral("fra_SYSINFO"));
    auto *grid = new QGridLayout(fra_SYSINFO);
    int row = 0;
    auto add = [&](QPushButton *&btn, const char *name, const QString &caption, QLineEdit *&box,
                   const char *boxName, const QString &initial, void (InfoPanel::*handler)()) {
        btn = new QPushButton(caption, parent);
        btn->setObjectName(QLatin1String(name));
        box = makeValueBox(QLatin1String(boxName), initial, parent);
        grid->addWidget(btn, row, 0);
        grid->addWidget(box, row, 1);
        ++row;
        connect(btn, &QPushButton::clicked, this, [this, handler] { m_session.operate([this, handler] { (this->*handler)(); }); });
    };
    add(btn_MODNUM, "btn_MODNUM", tr("Model Number"), txt_MODNUM, "txt_MODNUM", tr("Rev. ??"), &InfoPanel::btn_MODNUM_Click);
    add(btn_WEBREV, "btn_WEBREV", tr("Web Server Rev"), txt_WEBREV, "txt_WEBREV", tr("Rev. ??"), &InfoPanel::btn_WEBREV_Click);
    add(btn_SWREV, "btn_SWREV", tr("Software Rev."), txt_SWREV, "txt_SWREV", tr("Rev. ??"), &InfoPanel::btn_SWREV_Click);
    add(btn_HWREV, "btn_HWREV", tr("Hardware Rev."), txt_HWREV, "txt_HWREV", tr("Rev. ??"), &InfoPanel::btn_HWREV_Click);
    add(totalHours, "totalHours", tr("Total Hours On."), txt_totalHours, "txt_totalHours", tr("Hours ??"),
        &InfoPanel::totalHours_Click);
}

void InfoPanel::showIdentity(Identity item, const std::optional<QByteArray> &value)
{
    QLineEdit *const boxes[] = {txt_MODNUM, txt_WEBREV, txt_SWREV, txt_HWREV};
    QLineEdit *box = boxes[int(item)];
    if (value) {
        box->setText(QString::fromLatin1(*value));
        setBoxColor(box, Qt::white);
    } else {
        box->setText(tr("Unknown"));
        setBoxColor(box, QColor(255, 0, 0));
    }
}

void InfoPanel::btn_MODNUM_Click() { showIdentity(Identity::ModelNumber, m_unit.readIdentity(Identity::ModelNumber)); }
void InfoPanel::btn_WEBREV_Click() { showIdentity(Identity::WebRevision, m_unit.readIdentity(Identity::WebRevision)); }
void InfoPanel::btn_SWREV_Click()
{
    showIdentity(Identity::SoftwareRevision, m_unit.readIdentity(Identity::SoftwareRevision));
}
void InfoPanel::btn_HWREV_Click()
{
    showIdentity(Identity::HardwareRevision, m_unit.readIdentity(Identity::HardwareRevision));
}

void InfoPanel::totalHours_Click()
{
    const Hours h = m_unit.readHours();
    if (!h.replied) {
        txt_totalHours->setText(tr("Unknown"));
        setBoxColor(txt_totalHours, QColor(255, 0, 0));
    } else if (h.value) {
        // Without a comma after the echo the box stays as it was.
        txt_totalHours->setText(QString::fromLatin1(*h.value));
        setBoxColor(txt_totalHours, Qt::white);
    }
}

// The cycle's own hours poll: the box is left alone.
void InfoPanel::PollTotalHours() { m_unit.readHours(); }

void InfoPanel::mnu_Reset_total_hrs_Click() { m_unit.resetHours(); }

QString InfoPanel::unitLine(const Rating *rating, const BuildData &build) const
{
    QString model = txt_MODNUM->text();
    if (model == QLatin1String("Rev. ??"))
        model = tr("not read");
    const QString r = rating ? QStringLiteral("%1 kV / %2 W").arg(rating->kV).arg(rating->watts) : QString();
    return tr("model %1  \u00b7  %2  \u00b7  %3 %4").arg(model, r, build.windowCaption, build.aboutVersion.trimmed());
}

} // namespace plv
