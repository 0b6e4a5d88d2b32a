#pragma once
// What frames and replies mean, in the operator's words, for the traffic and event logs:
// a command's purpose and a reply's content, under the selected rating's factors.
#include "protocol/channels.h"
#include "protocol/reply.h"

#include <QByteArray>
#include <QString>

namespace plv {

// The selected rating's factors when a reply arrived.
struct Factors {
    double voltsPerCount = 0;
    double milliampsPerCount = 0;
    bool operator==(const Factors &) const = default;
};

// A command frame's payload, between STX and the checksum character or ETX ("22,").
QByteArray framePayload(const QByteArray &frame);
// "status request", "HV ON", "program kV setpoint: count 2048 = 35.01 kV".
QString commandMeaning(const QByteArray &payload, const Factors &f);
// A decoded reply: "HV off, interlock closed, no fault, local". 'sent' is the payload it
// answers, when known, so a '$' reads "HV ON accepted".
QString replyMeaning(const Reply &reply, const QByteArray &sent, const Factors &f);
// A frame nobody awaited (sent by the unit itself, or thrown away), read by its own echo.
QString frameMeaning(const QByteArray &frame, const Factors &f);
// What an operator's command got back: "accepted", "refused (1)", "answered <frame>".
QString answerText(const Reply &reply);

// "HV off, interlock closed, no fault, local"; a field that could not be read shows "?".
QString mainStatusText(const MainStatus &s);
// "none" or "arc, over voltage".
QString faultFlagsText(const FaultFlags &flags);
// "arc", "temperature", "over voltage", "under voltage", "over current", "under current".
QString faultFlagName(int i);
// "kV setpoint", "mA setpoint", "filament limit", "filament preheat".
QString channelName(Channel c);
// The two-digit command number of a payload or frame ("22," -> 22), -1 without one.
int commandNumber(const QByteArray &frame);

} // namespace plv
