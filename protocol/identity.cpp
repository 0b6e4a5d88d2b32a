#include "protocol/identity.h"
#include "protocol/decode.h"

#include <QRegularExpression>

#include <algorithm>

namespace plv {

namespace {

// At most maxLen characters from 0-based index 'from', ended by a comma, the ETX or any
// other control byte: none of them belongs to a value shown or printed.
QByteArray textAt(const QByteArray &reply, qsizetype from, int maxLen)
{
    qsizetype end = from;
    while (end < reply.size() && end - from < maxLen) {
        const auto c = static_cast<unsigned char>(reply.at(end));
        if (c == ',' || c < 0x20 || c == 0x7F)
            break;
        ++end;
    }
    return reply.mid(from, end - from);
}

} // namespace

QByteArray revisionValue(const QByteArray &reply, int maxLen)
{
    if (reply.size() < 5 || maxLen <= 0)
        return {};
    return textAt(reply, 4, maxLen);
}

QByteArray modelNumberValue(const QByteArray &reply)
{
    QByteArray model = revisionValue(reply, 5);
    // Only a capital X marks the extended part; anything else at 11 is a following field.
    if (charAt(reply, 11) == 'X')
        model += '-' + textAt(reply, 10, 5);
    return model;
}

std::optional<QByteArray> totalHoursValue(const QByteArray &reply)
{
    if (reply.size() < 5)
        return std::nullopt;
    const QList<QByteArray> fields = cutFields(reply, 1);
    if (fields.isEmpty())
        return std::nullopt;
    return fields.first();
}

Checked<int> parseFilamentLimit(const QString &entry)
{
    // ASCII digits only: "," is refused because it would split the frame.
    static const QRegularExpression shape(
        QRegularExpression::anchoredPattern(QStringLiteral("([+-]?)([0-9]*)(?:\\.([0-9]*))?")));
    const auto m = shape.match(entry.trimmed());
    const QString intDigits = m.captured(2), fracDigits = m.captured(3);
    if (!m.hasMatch() || intDigits.size() + fracDigits.size() == 0)
        return {std::nullopt, QStringLiteral("Enter the filament limit as a number of amperes from 0 to 5.00.")};

    // Exact decimal arithmetic, so 5.00 is 2047 and no entry can land a count off.
    QString whole = intDigits;
    while (whole.size() > 1 && whole.front() == QLatin1Char('0'))
        whole.remove(0, 1);
    const int wholeAmps = whole.isEmpty() ? 0 : (whole.size() > 1 ? 10 : whole.toInt());
    const bool fracZero = std::all_of(fracDigits.begin(), fracDigits.end(), [](QChar c) { return c == u'0'; });
    const bool isZero = wholeAmps == 0 && fracZero;
    if ((m.captured(1) == QLatin1String("-") && !isZero) || wholeAmps > 5 || (wholeAmps == 5 && !fracZero))
        return {std::nullopt, QStringLiteral("The filament limit must lie between 0 and 5.00 A.")};

    // floor(A x 2047 / 5) == floor(floor(A x 2047) / 5): the dropped fraction is below 1/5.
    int carry = 0;
    for (qsizetype i = fracDigits.size() - 1; i >= 0; --i)
        carry = (fracDigits.at(i).digitValue() * 2047 + carry) / 10;
    const int code = (wholeAmps * 2047 + carry) / 5;
    return {std::clamp(code, 0, 2047), {}};
}

Checked<QByteArray> checkUnitText(const QString &entry, const QString &what)
{
    const QString t = entry.trimmed();
    auto fail = [&](const char *tail) {
        return Checked<QByteArray>{std::nullopt, QStringLiteral("The %1 %2").arg(what, QLatin1String(tail))};
    };
    if (t.isEmpty())
        return fail("may not be empty.");
    if (t.contains(QLatin1Char(',')))
        return fail("may not contain a comma.");
    for (QChar c : t)
        if (c.unicode() < 0x20 || c.unicode() > 0x7E)
            return fail("may contain only printable characters.");
    if (t.size() > 32)
        return fail("is too long (at most 32 characters).");
    return {t.toLatin1(), {}};
}

const QStringList &unitBaudTexts()
{
    static const QStringList texts = {QStringLiteral("9600"), QStringLiteral("19,200"), QStringLiteral("38,400"),
                                      QStringLiteral("57,600"), QStringLiteral("115,200")};
    return texts;
}

Checked<int> unitBaudCode(const QString &text)
{
    const qsizetype i = unitBaudTexts().indexOf(text.trimmed());
    if (i < 0)
        return {std::nullopt,
                QStringLiteral("Choose one of the listed rates: 9600, 19,200, 38,400, 57,600 or 115,200.")};
    return {int(i) + 1, {}};
}

} // namespace plv
