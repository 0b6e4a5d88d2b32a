#pragma once
// Shared text forms of the logs: wall time from a monotonic source, ISO 8601 stamps,
// frames with their control characters named, and RFC 4180 CSV fields.
#include <QByteArrayView>
#include <QDateTime>
#include <QElapsedTimer>
#include <QString>

namespace plv::logs {

// Wall time read once from the system clock and then advanced by a monotonic timer, so
// a clock step (NTP, the operator) can never reorder or duplicate log rows.
class MonotonicWallClock {
public:
    MonotonicWallClock();
    explicit MonotonicWallClock(const QDateTime &anchor);

    qint64 nowMs() const;   // milliseconds since the epoch
    // In UTC, which costs no time zone look-up; isoTime() shows it as local time.
    QDateTime now() const;

private:
    qint64 m_anchorMs;
    QElapsedTimer m_elapsed;
};

// "2024-05-01T12:34:56.789+02:00": local time, milliseconds, numeric UTC offset (never
// "Z", so every line carries the same shape).
QString isoTime(const QDateTime &time);
QString isoTime(qint64 msSinceEpoch);
// "2024-05-01 12:34:56.789": the same local time without zone, as spreadsheets take a
// date-time.
QString spreadsheetTime(qint64 msSinceEpoch);
// The local calendar day of an instant.
QDate localDate(qint64 msSinceEpoch);

// Printable ASCII as is; STX and ETX by name; every other byte, and '<' itself so the
// text stays unambiguous, as two hex digits in angle brackets: "<STX>22,p<ETX>".
QString renderFrame(QByteArrayView frame);

// Appends one CSV field, quoted (with inner quotes doubled) only when it holds a comma,
// a quote or a line break.
void appendCsvField(QString &line, QStringView field);

} // namespace plv::logs
