#include "logs/trafficlog.h"

namespace plv::logs {

QString directionName(Direction d)
{
    switch (d) {
    case Direction::Tx: return QStringLiteral("TX");
    case Direction::Rx: return QStringLiteral("RX");
    case Direction::RxUnsolicited: return QStringLiteral("RX unsolicited");
    case Direction::Timeout: return QStringLiteral("timeout");
    case Direction::Error: return QStringLiteral("error");
    case Direction::Discarded: return QStringLiteral("discarded");
    }
    return {};
}

QString checksumName(ChecksumVerdict v)
{
    switch (v) {
    case ChecksumVerdict::NotApplicable: return QStringLiteral("n.a.");
    case ChecksumVerdict::Ok: return QStringLiteral("ok");
    case ChecksumVerdict::Bad: return QStringLiteral("bad");
    }
    return {};
}

int frameCommand(QByteArrayView frame)
{
    qsizetype i = 0;
    if (i < frame.size() && frame[i] == '\x02')
        ++i;
    int value = 0;
    int digits = 0;
    for (; i < frame.size() && frame[i] >= '0' && frame[i] <= '9'; ++i) {
        if (++digits > 4)
            return -1;
        value = value * 10 + (frame[i] - '0');
    }
    return digits > 0 && i < frame.size() && frame[i] == ',' ? value : -1;
}

TrafficLog::TrafficLog(int capacity, QObject *parent) : QObject(parent), m_capacity(qMax(1, capacity)) {}

void TrafficLog::record(Direction direction, const QString &link, const QByteArray &frame, const QString &note)
{
    const ChecksumVerdict verdict = m_decoder.checksum && !frame.isEmpty() ? m_decoder.checksum(link, frame)
                                                                           : ChecksumVerdict::NotApplicable;
    QString meaning = note;
    if (meaning.isEmpty() && m_decoder.meaning)
        meaning = m_decoder.meaning(direction, link, frame);
    recordAt(m_clock.nowMs(), direction, link, frame, verdict, meaning);
}

void TrafficLog::recordAt(qint64 timeMs, Direction direction, const QString &link, const QByteArray &frame,
                          ChecksumVerdict checksum, const QString &meaning)
{
    if (size() == m_capacity) {
        emit aboutToDrop(m_firstSeq + 1);
        ++m_firstSeq;
        emit dropped();
    }
    const size_t index = size_t((m_endSeq - m_baseSeq) % m_capacity);
    if (index == m_slots.size())
        m_slots.emplace_back();
    Slot &s = m_slots[index];

    m_lastTimeMs = qMax(m_lastTimeMs, timeMs);
    s.timeMs = m_lastTimeMs;
    s.direction = direction;
    s.checksum = checksum;
    s.command = qint16(frameCommand(frame));
    s.link = linkIndex(link);
    const QByteArrayView kept = QByteArrayView(frame).first(qMin<qsizetype>(frame.size(), MaxFrameBytes));
    const QByteArray text = (kept.size() < frame.size()
                                 ? tr("(cut from %1 bytes) ").arg(frame.size()) + meaning
                                 : meaning)
                                .toUtf8();
    s.frameBytes = quint32(kept.size());
    s.blob = QByteArray();   // a fresh, exact-size buffer: reuse would keep the largest ever
    s.blob.reserve(kept.size() + text.size());
    s.blob.append(kept).append(text);
    ++m_endSeq;
    emit appended();
}

quint16 TrafficLog::linkIndex(const QString &link)
{
    // Most rows repeat the previous row's link.
    if (m_lastLink < m_links.size() && m_links.at(m_lastLink) == link)
        return quint16(m_lastLink);
    qsizetype i = m_links.indexOf(link);
    if (i < 0) {
        if (m_links.size() == MaxLinks - 1)
            m_links.append(tr("(other link)"));
        if (m_links.size() >= MaxLinks)
            return quint16(MaxLinks - 1);
        m_links.append(link);
        i = m_links.size() - 1;
    }
    m_lastLink = i;
    return quint16(i);
}

QByteArrayView TrafficLog::frame(qint64 seq) const
{
    const Slot &s = slot(seq);
    return QByteArrayView(s.blob).first(s.frameBytes);
}

QString TrafficLog::meaning(qint64 seq) const
{
    const Slot &s = slot(seq);
    return QString::fromUtf8(QByteArrayView(s.blob).sliced(s.frameBytes));
}

TrafficRow TrafficLog::row(qint64 seq) const
{
    const Slot &s = slot(seq);
    TrafficRow r;
    r.seq = seq;
    r.timeMs = s.timeMs;
    r.direction = s.direction;
    r.checksum = s.checksum;
    r.command = s.command;
    r.link = m_links.at(s.link);
    r.frame = frame(seq).toByteArray();
    r.meaning = meaning(seq);
    return r;
}

void TrafficLog::clear()
{
    emit aboutToClear();
    std::vector<Slot>().swap(m_slots);
    m_firstSeq = m_baseSeq = m_endSeq;
    emit cleared();
}

QString TrafficLog::header(Format format)
{
    const QStringList names = {QStringLiteral("time"), QStringLiteral("direction"), QStringLiteral("link"),
                               QStringLiteral("frame"), QStringLiteral("checksum"), QStringLiteral("meaning")};
    return names.join(format == Format::Csv ? QLatin1Char(',') : QLatin1Char('\t'));
}

QString TrafficLog::formatRow(qint64 seq, Format format) const
{
    const Slot &s = slot(seq);
    const QString fields[] = {isoTime(s.timeMs), directionName(s.direction), m_links.at(s.link),
                              renderFrame(frame(seq)), checksumName(s.checksum), meaning(seq)};
    QString line;
    for (const QString &f : fields) {
        if (format == Format::Csv) {
            if (!line.isEmpty())
                line += QLatin1Char(',');
            appendCsvField(line, f);
        } else {
            if (!line.isEmpty())
                line += QLatin1Char('\t');
            // One row per line, columns split on tabs: neither may appear inside a field.
            QString clean = f;
            for (QChar &c : clean) {
                if (c == u'\t' || c == u'\r' || c == u'\n')
                    c = u' ';
            }
            line += clean;
        }
    }
    return line;
}

bool TrafficLog::write(QIODevice &out, Format format, const std::function<bool(qint64)> &keep) const
{
    // CSV lines end in CR LF as RFC 4180 has them; the text form in a plain LF.
    const QByteArray eol = format == Format::Csv ? "\r\n" : "\n";
    QByteArray chunk = header(format).toUtf8() + eol;
    for (qint64 seq = m_firstSeq; seq < m_endSeq; ++seq) {
        if (keep && !keep(seq))
            continue;
        chunk += formatRow(seq, format).toUtf8();
        chunk += eol;
        if (chunk.size() > 64 * 1024) {
            if (out.write(chunk) != chunk.size())
                return false;
            chunk.clear();
        }
    }
    return out.write(chunk) == chunk.size();
}

qsizetype TrafficLog::approxBytes() const
{
    // Each blob: its bytes plus Qt's header and the allocator's rounding.
    qsizetype bytes = qsizetype(m_slots.capacity() * sizeof(Slot));
    for (const Slot &s : m_slots)
        bytes += s.blob.capacity() + 32;
    return bytes;
}

} // namespace plv::logs
