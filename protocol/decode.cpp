#include "protocol/decode.h"
#include "protocol/channels.h"
#include "protocol/framing.h"
#include "protocol/picture.h"

#include <charconv>

namespace plv {

char charAt(const QByteArray &reply, int pos)
{
    return pos >= 1 && pos <= reply.size() ? reply.at(pos - 1) : '\0';
}

std::optional<bool> flagAt(const QByteArray &reply, int pos)
{
    switch (charAt(reply, pos)) {
    case '1': return true;
    case '0': return false;
    default: return std::nullopt;
    }
}

MainStatus decodeMainStatus(const QByteArray &reply)
{
    return {flagAt(reply, 5), flagAt(reply, 7), flagAt(reply, 9), flagAt(reply, 11)};
}

std::array<std::optional<bool>, 6> decodeFaultFlags(const QByteArray &reply)
{
    std::array<std::optional<bool>, 6> flags;
    for (int i = 0; i < 6; ++i)
        flags[size_t(i)] = flagAt(reply, 5 + 2 * i);
    return flags;
}

QList<QByteArray> cutFields(const QByteArray &reply, int maxFields)
{
    QList<QByteArray> fields;
    qsizetype p = 4;   // 0-based index of position 5
    const qsizetype etx = reply.indexOf(ETX, p);
    const qsizetype end = etx < 0 ? reply.size() : etx;   // nothing at or past the ETX is data
    while (fields.size() < maxFields && p < end) {
        const qsizetype comma = reply.indexOf(',', p);
        if (comma < 0 || comma > end)
            break;   // a field without its comma may be cut short: not trusted
        fields.append(reply.mid(p, comma - p));
        p = comma + 1;
    }
    return fields;
}

std::optional<double> parseNumber(const QByteArray &field)
{
    const QByteArray t = field.trimmed();
    qsizetype i = 0;
    const bool negative = !t.isEmpty() && t.at(0) == '-';
    if (!t.isEmpty() && (t.at(0) == '-' || t.at(0) == '+'))
        ++i;
    int digits = 0, points = 0;
    for (qsizetype j = i; j < t.size(); ++j) {
        const char c = t.at(j);
        if (c >= '0' && c <= '9')
            ++digits;
        else if (c == '.' && points == 0)
            ++points;
        else
            return std::nullopt;
    }
    if (digits == 0)
        return std::nullopt;
    // from_chars is locale-free; the shape check above already excluded "inf", "1e3" and hex.
    double v = 0;
    const char *begin = t.constData() + i, *end = t.constData() + t.size();
    const auto res = std::from_chars(begin, end, v);
    if (res.ec != std::errc() || res.ptr != end)
        return std::nullopt;   // includes a digit string too long for a double
    return negative ? -v : v;
}

QString kvMonitorText(double count, double voltsPerCount)
{
    return formatPicture(kilovolts(count, voltsPerCount), QStringLiteral("#0.00")) + QStringLiteral(" kV");
}

QString maMonitorText(double count, double milliampsPerCount)
{
    return formatPicture(monitorMilliamps(count, milliampsPerCount), QStringLiteral("0.00")) + QStringLiteral(" mA");
}

QString filamentMonitorText(double count)
{
    return formatPicture(filamentAmps(count), QStringLiteral("0.##0")) + QStringLiteral(" A");
}

QString supplyText(double count)
{
    // The supply is negative and shown with a fixed "-"; a reading beyond 3972 then shows
    // its own minus as well, which is left visible rather than hidden.
    return QStringLiteral("-") + formatPicture(-supplyVolts(count), QStringLiteral("##.#0")) + QStringLiteral(" V");
}

double monitorMilliamps(double count, double milliampsPerCount) { return count * milliampsPerCount; }
double filamentAmps(double count) { return count * kFilamentAmpsPerCount; }
double supplyVolts(double count) { return -((3972.0 - count) * 0.006224); }

QString rawChannelText(double count) { return formatPicture(count, QStringLiteral("##.0")); }

} // namespace plv
