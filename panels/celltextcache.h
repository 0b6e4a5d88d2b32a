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
    // 'keyRole' gives a number that names a row for as long as its text stays the same;
    // 'rowColumn' is the column whose text differs on every row (the time). The other
    // columns repeat themselves (directions, links, the same frames every cycle) and are
    // laid out once per distinct text.
    CellTextCache(int keyRole, int rowColumn, QObject *parent);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void clear()
    {
        m_byRow.clear();
        m_byText.clear();
    }

private:
    const QStaticText *laidOut(const QModelIndex &index, const QFont &font) const;

    int m_keyRole;
    int m_rowColumn;
    mutable QCache<qint64, QStaticText> m_byRow;
    mutable QCache<QString, QStaticText> m_byText;
};

} // namespace plv
