#pragma once
// One reply of the unit, decoded once: what it answers, whether it is usable, and its
// values. The panels show what the reply says by their own display rules; link health,
// samples, plvctl and the broker use only what a good reply carries.
#include "protocol/decode.h"

#include <QByteArray>
#include <QList>
#include <array>
#include <optional>

namespace plv {

using FaultFlags = std::array<std::optional<bool>, 6>;

enum class ReplyOutcome {
    Good,      // STX, the command's echo and an ETX, carrying the answer's form
    Refused,   // a whole frame whose data says no: '1' or '2' where data was asked for
    Partial,   // something came, but not a whole frame echoing the command
    None,      // nothing came (or nothing was awaited)
};

struct Reply {
    QByteArray command;   // the two digits it answers ("22")
    QByteArray frame;     // as received, possibly cut short or empty
    ReplyOutcome outcome = ReplyOutcome::None;
    // Comma-ended fields from position 5, up to the ETX; a piece without its comma may be
    // cut short and is left out, with everything after it. Not cut for status and flags,
    // which are read by position.
    QList<QByteArray> fields;
    QList<std::optional<double>> numbers;   // the fields as numbers (monitors, setpoints, hours)
    bool asksForData = false;   // a query (values, status, identity), not a command that acts
    char answer = '\0';   // position 5: '$' accepted, '1' or '2' refused, for commands that act
    MainStatus status;    // "22," and status frames the unit sends by itself
    FaultFlags flags;     // "68,"
    QByteArray text;      // identity value or total hours, cut at comma, ETX or control byte

    // The unit answered (for link health): data or a refusal.
    bool answered() const { return outcome == ReplyOutcome::Good || outcome == ReplyOutcome::Refused; }
    // A value to record, print or publish.
    bool isData() const { return outcome == ReplyOutcome::Good; }
    std::optional<double> number(int i) const { return i < numbers.size() ? numbers[i] : std::nullopt; }
};

// 'command' is the two-digit number the reply answers; a status frame the unit sent by
// itself is decoded with "22".
Reply decodeReply(const QByteArray &command, const QByteArray &frame);

} // namespace plv
