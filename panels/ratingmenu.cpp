#include "panels/ratingmenu.h"

#include <QAction>
#include <QMenu>
#include <QWidget>

namespace plv {

RatingMenu::RatingMenu(const BuildData &build, QMenu *menu, QObject *parent)
    : QObject(parent), m_build(build)
{
    for (int watts : build.powers) {
        QMenu *sub = menu->addMenu(powerMenuCaption(watts));
        sub->setObjectName(powerMenuName(watts));
        sub->menuAction()->setObjectName(powerMenuName(watts));
        for (int kV : build.kVs) {
            const Rating *r = build.find(kV, watts);
            if (!r)
                continue;
            QAction *a = sub->addAction(ratingMenuCaption(*r));
            a->setObjectName(ratingMenuName(*r));
            a->setCheckable(true);
            const Rating row = *r;
            connect(a, &QAction::triggered, this, [this, row, a] {
                if (!m_guard || m_guard(row))
                    SelectRating(row);
                else   // Qt ticked it already
                    a->setChecked(m_selected && m_selected->kV == row.kV && m_selected->watts == row.watts);
            });
            m_actions.insert(a->objectName(), a);
        }
    }
}

void RatingMenu::setTooltipTargets(QWidget *kvOption, QWidget *maOption)
{
    m_kvOption = kvOption;
    m_maOption = maOption;
}

void RatingMenu::SelectRating(const Rating &r)
{
    VoltsPerCount = r.voltsPerCount;
    MilliampsPerCount = milliampsPerCount(r);
    if (m_kvOption)
        m_kvOption->setToolTip(kvRangeText(r));
    if (m_maOption)
        m_maOption->setToolTip(QString::fromLatin1(r.mARange));
    const QString chosen = ratingMenuName(r);
    for (auto it = m_actions.cbegin(); it != m_actions.cend(); ++it)
        it.value()->setChecked(it.key() == chosen);
    m_selected = m_build.find(r.kV, r.watts);
    emit ratingSelected(r.kV, r.watts);
}

} // namespace plv
