#include "unit/unit.h"

namespace plv {

using Exchange = Session::Exchange;

Unit::Unit(Session &session, QObject *parent) : QObject(parent), m_session(session)
{
    connect(&m_session, &Session::exchanged, this, &Unit::decoded);
    connect(&m_session, &Session::unsolicitedStatus, this, [this](const QByteArray &frame, bool viaEthernet) {
        emit statusReported(decodeReply(QByteArrayLiteral("22"), frame), viaEthernet);
    });
}

void Unit::decoded(const QByteArray &command, const QByteArray &frame)
{
    m_last = decodeReply(command, frame);
    emit replied(m_last);
}

const Reply &Unit::ask(const QByteArray &payload, const Exchange &how)
{
    // Stays "nothing came" unless the session hands over a reply for this command.
    m_last = Reply{};
    m_last.command = payload.left(2);
    m_session.transact(payload, how);
    return m_last;
}

const Reply &Unit::ask(const QByteArray &payload) { return ask(payload, Exchange{}); }

std::optional<MainStatus> Unit::readMainStatus()
{
    // The first of the status pair: re-armed only after the flags.
    const Reply &r = ask("22,", {.rearm = Exchange::Rearm::Nothing});
    if (r.frame.isEmpty())
        return std::nullopt;
    m_session.replyDecoded();
    return r.status;
}

std::array<std::optional<bool>, 6> Unit::readFaultFlags()
{
    // The second of the pair goes out as the first left the timers.
    return ask("68,", {.pause = Exchange::Pause::Nothing, .count = Exchange::Count::Nothing}).flags;
}

Readback Unit::readback(const char *command)
{
    const Reply &r = ask(command, {.count = Exchange::Count::IfEmpty});
    Readback out;
    if (r.frame.size() < 6)   // no reply, or nothing past the echo to decode
        return out;
    m_session.replyDecoded();
    out.accepted = true;
    out.fields = r.fields;
    out.numbers = r.numbers;
    return out;
}

Readback Unit::readMonitors() { return readback("19,"); }
Readback Unit::readSupplies() { return readback("20,"); }

std::optional<double> Unit::readSetpoint(Channel c)
{
    const auto count = ask(channelInfo(c).readCommand, {.count = Exchange::Count::Nothing}).number(0);
    if (count)
        m_session.replyDecoded();
    return count;
}

std::optional<QByteArray> Unit::readIdentity(Identity item)
{
    static const char *const commands[] = {"26,", "25,", "23,", "24,"};
    const Reply &r = ask(commands[int(item)]);
    if (r.frame.isEmpty())
        return std::nullopt;
    m_session.replyDecoded();
    return r.text;
}

Hours Unit::readHours()
{
    const Reply &r = ask("21,");
    Hours out;
    out.replied = !r.frame.isEmpty();
    if (!r.fields.isEmpty()) {
        out.value = r.text;
        m_session.replyDecoded();
    }
    return out;
}

void Unit::resetHours()
{
    ask("30,", {.count = Exchange::Count::Nothing});
}

char Unit::switchHv(bool on)
{
    const char c = ask(on ? "98,1," : "98,0,", {.count = Exchange::Count::Nothing}).answer;
    if (c == '$')
        m_session.replyDecoded();
    else if (c == '\0' && !m_session.ended())
        m_session.countError();   // also a reply too short to hold an answer
    return c;
}

char Unit::setRemote(bool remote)
{
    return ask(remote ? "99,1," : "99,0,", {.count = Exchange::Count::Nothing}).answer;
}

char Unit::resetFaults()
{
    return ask("31,", {.count = Exchange::Count::Nothing}).answer;
}

TryOut Unit::tryOut(Channel c, int count)
{
    TryOut out;
    const auto command = setpointCommand(c, count);
    if (!command)
        return out;   // a count the unit cannot take is never sent
    const Reply &r = ask(*command, {.count = Exchange::Count::Nothing});
    out.sent = true;
    out.status = r.answer;
    if (!r.frame.isEmpty())
        m_session.replyDecoded();
    if (out.status != '$' && out.status != '1')
        m_session.countError();
    return out;
}

void Unit::resend(Channel c, int count)
{
    const Exchange how{.pause = Exchange::Pause::ReceiveTimers, .wait = false, .rearm = Exchange::Rearm::ReceiveTimer};
    if (const auto command = setpointCommand(c, count))   // a count the unit cannot take is never sent
        m_session.transact(*command, how);
}

bool Unit::togglePassthrough()
{
    return !ask("96,", {.pause = Exchange::Pause::Nothing, .rearm = Exchange::Rearm::Nothing}).frame.isEmpty();
}

char Unit::programModelNumber(const QByteArray &text)
{
    return ask("93," + text + ',', {.count = Exchange::Count::Nothing}).answer;
}

char Unit::programHardwareRevision(const QByteArray &text)
{
    return ask("94," + text + ',', {.count = Exchange::Count::Nothing}).answer;
}

char Unit::programFilamentLimit(int code)
{
    return ask("95," + QByteArray::number(code) + ',', {.count = Exchange::Count::Nothing}).answer;
}

void Unit::setUnitBaudRate(int code)
{
    m_session.transact("07," + QByteArray::number(code) + ',', {.wait = false, .rearm = Exchange::Rearm::ReceiveTimer});
}

char Unit::shutdownStep(ShutdownStep step, bool wait)
{
    if (step == ShutdownStep::Local)
        return setRemote(false);
    const Channel c = Channel(int(step) - int(ShutdownStep::ZeroA));
    if (wait)
        return tryOut(c, 0).status;
    m_session.transact(*setpointCommand(c, 0),
                       {.pause = Exchange::Pause::Nothing, .wait = false, .rearm = Exchange::Rearm::Nothing});
    return '\0';
}

} // namespace plv
