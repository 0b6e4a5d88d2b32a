#pragma once
// What the logs say about frames and replies, in the operator's words: a command's
// purpose, a reply decoded with the decoders and rating factors the panels use, the
// checksum character's verdict, and one sample assembled from an update cycle's replies.
#include "logs/sample.h"
#include "logs/trafficlog.h"
#include "protocol/decode.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace plv {

// The selected rating's factors when a reply arrived.
struct Factors {
    double voltsPerCount = 0;
    double milliampsPerCount = 0;
};

// A command frame's payload, between STX and the checksum character or ETX ("22,").
QByteArray framePayload(const QByteArray &frame);
// "status request", "HV ON", "program kV setpoint: count 2048 = 35.01 kV".
QString commandMeaning(const QByteArray &payload, const Factors &f);
// A reply or unsolicited frame: "HV off, interlock closed, no fault, local". 'sent' is
// the payload it answers, when known, so a '$' reads "HV ON accepted".
QString replyMeaning(const QByteArray &frame, const QByteArray &sent, const Factors &f);
// The checksum character of a serial or USB frame; n.a. for one without STX ... ETX.
logs::ChecksumVerdict checksumVerdict(const QByteArray &frame);

// "HV off, interlock closed, no fault, local"; a field that could not be read shows "?".
QString mainStatusText(const MainStatus &s);
// "none" or "arc, over voltage".
QString faultFlagsText(const std::array<std::optional<bool>, 6> &flags);
// "arc", "temperature", "over voltage", "under voltage", "over current", "under current".
QString faultFlagName(int i);

// Gathers one update cycle's replies into a sample. Each awaited reply fills its columns,
// and a query that failed (no reply, or one cut short) empties them.
class SampleAssembler {
public:
    void take(const QByteArray &command, const QByteArray &reply, const Factors &f);
    // The sample of the cycle just completed; the next one starts empty.
    logs::Sample finish(const QDateTime &time, const QString &rating);
    void clear() { m_s = {}; }

private:
    logs::Sample m_s;
};

} // namespace plv
