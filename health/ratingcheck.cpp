#include "health/ratingcheck.h"

namespace plv {

RatingCheck::RatingCheck(const QString &letters, const QList<int> &kVs, const QString &otherLetters,
                         QObject *parent)
    : QObject(parent), m_letters(letters), m_kVs(kVs), m_otherLetters(otherLetters)
{
}

std::optional<int> RatingCheck::unitKvFromModel(const QString &model, const QString &letters,
                                                const QList<int> &kVs)
{
    const qsizetype dash = model.indexOf(u'-');
    const QStringView field = QStringView(model).left(dash < 0 ? model.size() : dash);
    if (letters.isEmpty() || !field.startsWith(letters))
        return std::nullopt;
    const QStringView digits = field.mid(letters.size());
    if (digits.isEmpty() || digits.size() > 4 || digits.front() == u'0')
        return std::nullopt;
    int kV = 0;
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        kV = kV * 10 + (c.unicode() - u'0');
    }
    if (!kVs.contains(kV))
        return std::nullopt;
    return kV;
}

void RatingCheck::select(int kV, int watts)
{
    changing([&] {
        m_kV = kV;
        m_watts = watts;
    });
}

void RatingCheck::setModelNumber(const QString &model)
{
    changing([&] {
        m_unitKv = unitKvFromModel(model, m_letters, m_kVs);
        const bool other = !m_otherLetters.isEmpty() && model.startsWith(m_otherLetters);
        m_otherLineModel = other ? model : QString();
    });
}

QString RatingCheck::ratingText() const
{
    return m_kV ? QStringLiteral("Rating %1 kV / %2 W").arg(m_kV).arg(m_watts) : QString();
}

QString RatingCheck::unitText() const
{
    return m_unitKv ? QStringLiteral("Unit %1 kV").arg(*m_unitKv) : QStringLiteral("Unit rating not known");
}

QString RatingCheck::warningText() const
{
    if (!m_otherLineModel.isEmpty())
        return QStringLiteral("%1 unit on the %2 console (%3)").arg(m_otherLetters, m_letters, m_otherLineModel);
    if (!m_unitKv || !m_kV || *m_unitKv == m_kV)
        return {};
    return QStringLiteral("Selected rating %1 kV does not match the unit (%2 kV)").arg(m_kV).arg(*m_unitKv);
}

template <typename F> void RatingCheck::changing(F &&change)
{
    const QString rating = ratingText(), unit = unitText(), warning = warningText();
    change();
    if (ratingText() != rating)
        emit ratingTextChanged(ratingText());
    if (unitText() != unit)
        emit unitTextChanged(unitText());
    if (warningText() != warning)
        emit warningChanged(warningText());
}

} // namespace plv
