#include "panels/celltextcache.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>

namespace plv {

CellTextCache::CellTextCache(int keyRole, QObject *parent)
    : QStyledItemDelegate(parent), m_keyRole(keyRole), m_cache(4096)
{
}

void CellTextCache::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    bool known = false;
    const qint64 row = index.data(m_keyRole).toLongLong(&known);
    if (!known)
        return QStyledItemDelegate::paint(painter, option, index);
    const qint64 key = row * 16 + index.column();
    QStaticText *text = m_cache.object(key);
    if (!text) {
        text = new QStaticText(index.data(Qt::DisplayRole).toString());
        text->setTextFormat(Qt::PlainText);
        text->prepare(QTransform(), option.font);
        m_cache.insert(key, text);
    }

    const QWidget *widget = option.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    QStyleOptionViewItem o(option);
    o.index = index;
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &o, painter, widget);
    const bool selected = o.state & QStyle::State_Selected;
    const QPalette::ColorGroup group = !(o.state & QStyle::State_Enabled) ? QPalette::Disabled
                                       : (o.state & QStyle::State_Active) ? QPalette::Active
                                                                          : QPalette::Inactive;
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    const QRect r = o.rect.adjusted(margin, 0, -margin, 0);
    painter->save();
    painter->setClipRect(r);
    painter->setFont(option.font);
    painter->setPen(o.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
    painter->drawStaticText(r.left(), r.top() + (r.height() - int(text->size().height())) / 2, *text);
    painter->restore();
}

} // namespace plv
