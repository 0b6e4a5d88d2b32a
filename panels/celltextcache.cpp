#include "panels/celltextcache.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>

namespace plv {

CellTextCache::CellTextCache(int keyRole, int rowColumn, QObject *parent)
    : QStyledItemDelegate(parent), m_keyRole(keyRole), m_rowColumn(rowColumn), m_byRow(1024), m_byText(4096)
{
}

const QStaticText *CellTextCache::laidOut(const QModelIndex &index, const QFont &font) const
{
    auto make = [&](const QString &text) {
        auto *t = new QStaticText(text);
        t->setTextFormat(Qt::PlainText);
        t->prepare(QTransform(), font);
        return t;
    };
    if (index.column() != m_rowColumn) {
        const QString text = index.data(Qt::DisplayRole).toString();
        if (QStaticText *t = m_byText.object(text))
            return t;
        QStaticText *t = make(text);
        m_byText.insert(text, t);
        return t;
    }
    bool known = false;
    const qint64 row = index.data(m_keyRole).toLongLong(&known);
    if (!known)
        return nullptr;
    if (QStaticText *t = m_byRow.object(row))
        return t;
    QStaticText *t = make(index.data(Qt::DisplayRole).toString());
    m_byRow.insert(row, t);
    return t;
}

void CellTextCache::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const QStaticText *text = laidOut(index, option.font);
    if (!text)
        return QStyledItemDelegate::paint(painter, option, index);

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
    // Most texts fit their cell: a clip for each costs more than drawing the text.
    if (text->size().width() > r.width())
        painter->setClipRect(r);
    painter->setFont(option.font);
    painter->setPen(o.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
    painter->drawStaticText(r.left(), r.top() + (r.height() - int(text->size().height())) / 2, *text);
    painter->restore();
}

} // namespace plv
