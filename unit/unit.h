#pragma once
// What can be done with a unit. Each call is one transaction over the session, run by
// the rule its command follows, and returns what the unit answered, decoded. The
// console's panels, the command-line client and the broker bridge all act through
// these and only render the results. Every reply, and every status frame the unit
// sends by itself, is decoded here once and published: the logs, the link watch, the
// samples and the clients listen instead of reading frames again.
#include "link/session.h"
#include "protocol/channels.h"
#include "protocol/reply.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <array>
#include <optional>

namespace plv {

enum class Identity { ModelNumber, WebRevision, SoftwareRevision, HardwareRevision };

// Numeric fields of a "19," or "20," reply. 'accepted' is false for no reply (counted,
// shown by the next handler that shows the count) and for a reply too short to carry
// data; 'fields' are the complete fields from position 5, 'numbers' the same as numbers.
struct Readback {
    bool accepted = false;
    QList<QByteArray> fields;
    QList<std::optional<double>> numbers;
};

// The shutdown, in its order: the unit back to local control, then its four setpoints
// zeroed. The console's exit, plvctl's shutdown and the broker's all run this list.
enum class ShutdownStep { Local, ZeroA, ZeroB, ZeroC, ZeroD };
constexpr std::array<ShutdownStep, 5> kShutdownSteps = {ShutdownStep::Local, ShutdownStep::ZeroA, ShutdownStep::ZeroB,
                                                        ShutdownStep::ZeroC, ShutdownStep::ZeroD};

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

class Unit : public QObject {
    Q_OBJECT
public:
    explicit Unit(Session &session, QObject *parent = nullptr);
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
    // One step of the shutdown. Waited for: the answer at position 5 ('$' accepted). Not
    // waited for (the console's exit): the command alone, no pause, nothing re-armed.
    char shutdownStep(ShutdownStep step, bool wait);

signals:
    // Every awaited reply, decoded, or its absence (outcome None).
    void replied(const plv::Reply &reply);
    // A status frame the unit sent by itself (or one found among discarded input).
    void statusReported(const plv::Reply &reply, bool viaEthernet);

private:
    // One transaction; the reply as decoded when it came.
    const Reply &ask(const QByteArray &payload, const Session::Exchange &how);
    const Reply &ask(const QByteArray &payload);
    Readback readback(const char *command);
    void decoded(const QByteArray &command, const QByteArray &frame);
    Session &m_session;
    Reply m_last;
};

} // namespace plv
