#pragma once
// The traffic log's store: every frame sent and received on any link, and every time-out,
// error and discarded input, one row each, in a bounded ring. Once full its memory stays
// constant and each new row drops the oldest. Rows are numbered by a sequence that never
// repeats, so views can follow the ring as it turns. Used from one thread, the console's:
// the link layer's signals reach it there.
#include "logs/formatting.h"

#include <QByteArray>
#include <QIODevice>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace plv::logs {

enum class Direction : quint8 { Tx, Rx, RxUnsolicited, Timeout, Error, Discarded };
constexpr int DirectionCount = 6;
QString directionName(Direction d);   // "TX", "RX", "RX unsolicited", "timeout", "error", "discarded"

enum class ChecksumVerdict : quint8 { NotApplicable, Ok, Bad };
QString checksumName(ChecksumVerdict v);   // "n.a.", "ok", "bad"

// The console's own decoders, supplied by the caller; the log knows no protocol beyond
// "digits and a comma" for the command number.
struct TrafficDecoder {
    // "HV off, interlock closed, no fault, local"; empty when there is nothing to say.
    std::function<QString(Direction, const QString &link, const QByteArray &frame)> meaning;
    // The checksum character's verdict on links that carry one, n.a. on the others.
    std::function<ChecksumVerdict(const QString &link, const QByteArray &frame)> checksum;
};

// One row as read back from the log.
struct TrafficRow {
    qint64 seq = -1;
    qint64 timeMs = 0;   // wall time, milliseconds since the epoch
    Direction direction = Direction::Tx;
    ChecksumVerdict checksum = ChecksumVerdict::NotApplicable;
    int command = -1;   // -1 when the frame carries none
    QString link;
    QByteArray frame;
    QString meaning;

    QString frameText() const { return renderFrame(frame); }
};

// The command number of a frame: the digits before the first comma, after STX.
int frameCommand(QByteArrayView frame);

class TrafficLog : public QObject {
    Q_OBJECT
public:
    static constexpr int DefaultCapacity = 100000;
    // Longer input (a burst of line noise) is kept up to this many bytes and marked cut.
    static constexpr int MaxFrameBytes = 512;
    static constexpr int MaxLinks = 256;   // names beyond this share one row label

    explicit TrafficLog(int capacity = DefaultCapacity, QObject *parent = nullptr);

    void setDecoder(TrafficDecoder decoder) { m_decoder = std::move(decoder); }

    // Logs a frame at the time of the call. The meaning is `note` when given (a time-out's
    // "no reply within 500 ms"), else the decoder's; the checksum verdict is the decoder's.
    void record(Direction direction, const QString &link, const QByteArray &frame, const QString &note = {});
    // The same with everything given; times that go back are held at the latest one.
    void recordAt(qint64 timeMs, Direction direction, const QString &link, const QByteArray &frame,
                  ChecksumVerdict checksum, const QString &meaning);

    int capacity() const { return m_capacity; }
    int size() const { return int(m_endSeq - m_firstSeq); }
    qint64 firstSeq() const { return m_firstSeq; }   // oldest row still held
    qint64 endSeq() const { return m_endSeq; }       // one past the newest
    bool contains(qint64 seq) const { return seq >= m_firstSeq && seq < m_endSeq; }

    TrafficRow row(qint64 seq) const;   // seq must be held
    // Cheap reads for filters and views, without building a whole row.
    Direction direction(qint64 seq) const { return slot(seq).direction; }
    ChecksumVerdict checksum(qint64 seq) const { return slot(seq).checksum; }
    int command(qint64 seq) const { return slot(seq).command; }
    qint64 timeMs(qint64 seq) const { return slot(seq).timeMs; }
    const QString &link(qint64 seq) const { return m_links.at(slot(seq).link); }
    QByteArrayView frame(qint64 seq) const;
    QString meaning(qint64 seq) const;

    void clear();

    // Every row held that `keep` accepts (all without one), oldest first, with a header
    // line: tab-separated text or CSV.
    enum class Format { Text, Csv };
    bool write(QIODevice &out, Format format, const std::function<bool(qint64 seq)> &keep = {}) const;
    // One row in that form, without the line break.
    QString formatRow(qint64 seq, Format format) const;
    static QString header(Format format);

    // Heap held by the rows, for the benchmark.
    qsizetype approxBytes() const;

signals:
    // Around dropping the oldest rows, so a model can announce the removal while the rows
    // still exist; `newFirstSeq` is what firstSeq() will be.
    void aboutToDrop(qint64 newFirstSeq);
    void dropped();
    void appended();
    void aboutToClear();
    void cleared();

private:
    struct Slot {
        qint64 timeMs = 0;
        QByteArray blob;   // the frame's bytes, then the meaning as UTF-8: one allocation
        quint32 frameBytes = 0;
        qint16 command = -1;
        quint16 link = 0;
        Direction direction = Direction::Tx;
        ChecksumVerdict checksum = ChecksumVerdict::NotApplicable;
    };
    const Slot &slot(qint64 seq) const { return m_slots[size_t((seq - m_baseSeq) % m_capacity)]; }
    quint16 linkIndex(const QString &link);

    int m_capacity;
    std::vector<Slot> m_slots;   // grows to capacity, then turns
    qint64 m_baseSeq = 0;   // the seq held in m_slots[0] since the last clear
    qint64 m_firstSeq = 0;
    qint64 m_endSeq = 0;
    qint64 m_lastTimeMs = 0;
    QStringList m_links;   // link names are few; rows keep an index
    qsizetype m_lastLink = 0;
    TrafficDecoder m_decoder;
    MonotonicWallClock m_clock;
};

} // namespace plv::logs
