#include "logs/formatting.h"

#include <cstdio>
#include <cstdlib>
#include <limits>

namespace plv::logs {

MonotonicWallClock::MonotonicWallClock() : MonotonicWallClock(QDateTime::currentDateTime()) {}

MonotonicWallClock::MonotonicWallClock(const QDateTime &anchor) : m_anchorMs(anchor.toMSecsSinceEpoch())
{
    m_elapsed.start();
}

qint64 MonotonicWallClock::nowMs() const { return m_anchorMs + m_elapsed.elapsed(); }

QDateTime MonotonicWallClock::now() const { return QDateTime::fromMSecsSinceEpoch(nowMs(), Qt::UTC); }

QString isoTime(const QDateTime &time) { return isoTime(time.toMSecsSinceEpoch()); }

namespace {

constexpr qint64 dayMs = 24 * 60 * 60 * 1000;

// Local time's offset from UTC in seconds. Asking the time zone is what costs
// (microseconds a call); offsets change only at quarter hours of UTC, so one answer
// serves a whole quarter hour.
int localOffsetAt(qint64 msSinceEpoch)
{
    constexpr qint64 quarterMs = 15 * 60 * 1000;
    thread_local qint64 cachedQuarter = std::numeric_limits<qint64>::min();
    thread_local int cachedOffset = 0;
    const qint64 quarter = msSinceEpoch - ((msSinceEpoch % quarterMs) + quarterMs) % quarterMs;
    if (quarter != cachedQuarter) {
        cachedOffset = QDateTime::fromMSecsSinceEpoch(quarter).offsetFromUtc();
        cachedQuarter = quarter;
    }
    return cachedOffset;
}

qint64 floorDays(qint64 ms) { return ms >= 0 ? ms / dayMs : (ms - dayMs + 1) / dayMs; }

} // namespace

QDate localDate(qint64 msSinceEpoch)
{
    return QDate(1970, 1, 1).addDays(floorDays(msSinceEpoch + qint64(localOffsetAt(msSinceEpoch)) * 1000));
}

namespace {

struct LocalFields {
    QDate date;
    qint64 inDay;   // milliseconds since local midnight
    int offset;     // seconds east of UTC
};

LocalFields localFields(qint64 msSinceEpoch)
{
    const int offset = localOffsetAt(msSinceEpoch);
    const qint64 local = msSinceEpoch + qint64(offset) * 1000;
    const qint64 days = floorDays(local);
    return {QDate(1970, 1, 1).addDays(days), local - days * dayMs, offset};
}

} // namespace

QString isoTime(qint64 msSinceEpoch)
{
    const LocalFields f = localFields(msSinceEpoch);
    const int minutes = std::abs(f.offset) / 60;
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", f.date.year(), f.date.month(),
                  f.date.day(), int(f.inDay / 3600000), int(f.inDay / 60000 % 60), int(f.inDay / 1000 % 60),
                  int(f.inDay % 1000), f.offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return QString::fromLatin1(buf);
}

QString spreadsheetTime(qint64 msSinceEpoch)
{
    const LocalFields f = localFields(msSinceEpoch);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", f.date.year(), f.date.month(), f.date.day(),
                  int(f.inDay / 3600000), int(f.inDay / 60000 % 60), int(f.inDay / 1000 % 60), int(f.inDay % 1000));
    return QString::fromLatin1(buf);
}

QString renderFrame(QByteArrayView frame)
{
    static constexpr char hex[] = "0123456789abcdef";
    QString s;
    s.reserve(frame.size() + 10);
    for (char c : frame) {
        const auto u = static_cast<unsigned char>(c);
        if (u == 0x02) {
            s += QLatin1String("<STX>");
        } else if (u == 0x03) {
            s += QLatin1String("<ETX>");
        } else if (u < 0x20 || u >= 0x7F || u == '<') {
            s += QLatin1Char('<');
            s += QLatin1Char(hex[u >> 4]);
            s += QLatin1Char(hex[u & 0xF]);
            s += QLatin1Char('>');
        } else {
            s += QLatin1Char(c);
        }
    }
    return s;
}

void appendCsvField(QString &line, QStringView field)
{
    bool quote = false;
    for (QChar c : field) {
        if (c == u',' || c == u'"' || c == u'\r' || c == u'\n') {
            quote = true;
            break;
        }
    }
    if (!quote) {
        line += field;
        return;
    }
    line += QLatin1Char('"');
    for (QChar c : field) {
        if (c == u'"')
            line += QLatin1Char('"');
        line += c;
    }
    line += QLatin1Char('"');
}

} // namespace plv::logs
