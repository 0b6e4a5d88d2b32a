#pragma once
// Draws a log table's cells from text laid out once: a log view is painted again a few
// times a second as rows arrive, and shaping the same text again each time costs more
// than everything else the console does meanwhile. Cells are cut at their edge rather than
// elided; the tooltip holds the whole text.
#include <QCache>
#include <QStaticText>
#include <QStyledItemDelegate>

namespace plv {

class CellTextCache : public QStyledItemDelegate {
    Q_OBJECT
public:
    // 'keyRole' gives a number that names a row for as long as its text stays the same.
    CellTextCache(int keyRole, QObject *parent);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void clear() { m_cache.clear(); }

private:
    int m_keyRole;
    mutable QCache<qint64, QStaticText> m_cache;
};

} // namespace plv
