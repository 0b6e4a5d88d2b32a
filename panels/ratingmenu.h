#pragma once
// The "Wattage/KV" menu and the factors of the selected rating. Nothing else records
// the selection: the check marks are display only.
#include "protocol/ratings.h"

#include <QHash>
#include <QObject>
#include <functional>

class QAction;
class QMenu;
class QWidget;

namespace plv {

class RatingMenu : public QObject {
    Q_OBJECT
public:
    // Builds the three power submenus into 'menu'. 'kvOption' and 'maOption' get the
    // range tooltips of the selected rating.
    RatingMenu(const BuildData &build, QMenu *menu, QObject *parent);
    void setTooltipTargets(QWidget *kvOption, QWidget *maOption);
    // Asked before the operator's menu choice takes effect; false keeps the rating
    // (and the tick) as it was.
    void setChoiceGuard(std::function<bool(const Rating &)> guard) { m_guard = std::move(guard); }

    void SelectRating(const Rating &r);
    void selectDefault() { SelectRating(m_build.defaultRating()); }
    QAction *action(const Rating &r) const { return m_actions.value(ratingMenuName(r)); }

    double VoltsPerCount = 0;
    double MilliampsPerCount = 0;
    const Rating *selected() const { return m_selected; }

signals:
    void ratingSelected(int kV, int watts);

private:
    const BuildData &m_build;
    const Rating *m_selected = nullptr;
    QHash<QString, QAction *> m_actions;
    QWidget *m_kvOption = nullptr;
    QWidget *m_maOption = nullptr;
    std::function<bool(const Rating &)> m_guard;
};

} // namespace plv
