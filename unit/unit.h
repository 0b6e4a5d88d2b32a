#pragma once
// What can be done with a unit. Each call is one transaction over the session, run by
// the rule its command follows, and returns what the unit answered, decoded. The
// console's panels, the command-line client and the broker bridge all act through
// these and only render the results.
#include "protocol/channels.h"
#include "protocol/decode.h"

#include <QByteArray>
#include <QList>
#include <array>
#include <optional>

namespace plv {

class Session;

enum class Identity { ModelNumber, WebRevision, SoftwareRevision, HardwareRevision };

// Numeric fields of a "19," or "20," reply. 'accepted' is false for no reply (counted,
// shown by the next handler that shows the count) and for a reply too short to carry
// data; 'fields' are the complete comma-ended fields from position 5.
struct Readback {
    bool accepted = false;
    QList<QByteArray> fields;
};

struct Hours {
    bool replied = false;
    std::optional<QByteArray> value;   // up to the first comma from position 5
};

// TRY OUT: whether a command could be formed for the count, and the character at
// position 5 of the reply ('$' accepted, '1' refused, '\0' no reply).
struct TryOut {
    bool sent = false;
    char status = '\0';
};

class Unit {
public:
    explicit Unit(Session &session) : m_session(session) {}
    Session &session() const { return m_session; }

    // The status pair, always asked in this order. "22,": nullopt when no reply came
    // (counted and shown); nothing is re-armed until the flags.
    std::optional<MainStatus> readMainStatus();
    // "68,": each flag unknown when its character is not '0' or '1', or nothing came.
    std::array<std::optional<bool>, 6> readFaultFlags();
    Readback readMonitors();   // "19,": kV, mA, filament counts
    Readback readSupplies();   // "20,": -15 V supply, two converter channels
    // "14," to "17,": the count, or nullopt for no reply or no number (not counted).
    std::optional<double> readSetpoint(Channel c);
    // "26,", "25,", "23,", "24,": the value cut from the reply; nullopt for no reply
    // (counted and shown).
    std::optional<QByteArray> readIdentity(Identity item);
    Hours readHours();          // "21,"
    void resetHours();          // "30,": acknowledged; nothing depends on the answer
    char switchHv(bool on);     // "98,": position 5 of the reply; no reply is counted
    char setRemote(bool remote);   // "99,"
    char resetFaults();         // "31,": position 5 of the reply; the console does not look
    // Sends the setpoint command and waits.
    TryOut tryOut(Channel c, int count);
    // CANCEL: the accepted count again, without waiting; only the receive timer is re-armed.
    void resend(Channel c, int count);
    bool togglePassthrough();   // "96,": not paused, not re-armed; true when answered
    // Service writes: position 5 of the reply ('$' taken, else the unit's error code,
    // '\0' no reply); a missing answer is not counted.
    char programModelNumber(const QByteArray &text);
    char programHardwareRevision(const QByteArray &text);
    char programFilamentLimit(int code);
    void setUnitBaudRate(int code);   // "07,": only the receive timer re-armed afterwards
    // The exit sequence: the command alone, no pause, no wait, nothing re-armed.
    void sendOnly(const QByteArray &payload);

private:
    Readback readback(const char *command);
    Session &m_session;
};

} // namespace plv
