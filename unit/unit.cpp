#include "unit/unit.h"

#include "link/session.h"
#include "protocol/identity.h"

namespace plv {

using Exchange = Session::Exchange;

std::optional<MainStatus> Unit::readMainStatus()
{
    // The first of the status pair: re-armed only after the flags.
    const QByteArray r = m_session.transact("22,", {.rearm = Exchange::Rearm::Nothing});
    if (r.isEmpty())
        return std::nullopt;
    m_session.replyDecoded();
    return decodeMainStatus(r);
}

std::array<std::optional<bool>, 6> Unit::readFaultFlags()
{
    // The second of the pair goes out as the first left the timers.
    return decodeFaultFlags(
        m_session.transact("68,", {.pause = Exchange::Pause::Nothing, .count = Exchange::Count::Nothing}));
}

Readback Unit::readback(const char *command)
{
    const QByteArray r = m_session.transact(command, {.count = Exchange::Count::IfEmpty});
    Readback out;
    if (r.size() < 6)   // no reply, or nothing past the echo to decode
        return out;
    m_session.replyDecoded();
    out.accepted = true;
    out.fields = cutFields(r, 3);
    return out;
}

Readback Unit::readMonitors() { return readback("19,"); }
Readback Unit::readSupplies() { return readback("20,"); }

std::optional<double> Unit::readSetpoint(Channel c)
{
    const QByteArray r = m_session.transact(channelInfo(c).readCommand, {.count = Exchange::Count::Nothing});
    const QList<QByteArray> f = cutFields(r, 1);
    if (f.isEmpty())
        return std::nullopt;
    const auto count = parseNumber(f[0]);
    if (count)
        m_session.replyDecoded();
    return count;
}

std::optional<QByteArray> Unit::readIdentity(Identity item)
{
    static const char *const commands[] = {"26,", "25,", "23,", "24,"};
    const QByteArray r = m_session.transact(commands[int(item)]);
    if (r.isEmpty())
        return std::nullopt;
    m_session.replyDecoded();
    switch (item) {
    case Identity::ModelNumber: return modelNumberValue(r);
    case Identity::HardwareRevision: return revisionValue(r, 3);
    default: return revisionValue(r, 11);
    }
}

Hours Unit::readHours()
{
    const QByteArray r = m_session.transact("21,");
    Hours out;
    out.replied = !r.isEmpty();
    out.value = totalHoursValue(r);
    if (out.value)
        m_session.replyDecoded();
    return out;
}

void Unit::resetHours()
{
    m_session.transact("30,", {.count = Exchange::Count::Nothing});
}

char Unit::switchHv(bool on)
{
    const char c = charAt(m_session.transact(on ? "98,1," : "98,0,", {.count = Exchange::Count::Nothing}), 5);
    if (c == '$')
        m_session.replyDecoded();
    else if (c == '\0' && !m_session.ended())
        m_session.countError();   // also a reply too short to hold an answer
    return c;
}

char Unit::setRemote(bool remote)
{
    return charAt(m_session.transact(remote ? "99,1," : "99,0,", {.count = Exchange::Count::Nothing}), 5);
}

char Unit::resetFaults()
{
    return charAt(m_session.transact("31,", {.count = Exchange::Count::Nothing}), 5);
}

TryOut Unit::tryOut(Channel c, int count)
{
    TryOut out;
    const auto command = setpointCommand(c, count);
    if (!command)
        return out;   // a count the unit cannot take is never sent
    const QByteArray r = m_session.transact(*command, {.count = Exchange::Count::Nothing});
    out.sent = true;
    out.status = charAt(r, 5);
    if (!r.isEmpty())
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
    return !m_session.transact("96,", {.pause = Exchange::Pause::Nothing, .rearm = Exchange::Rearm::Nothing}).isEmpty();
}

char Unit::programModelNumber(const QByteArray &text)
{
    return charAt(m_session.transact("93," + text + ',', {.count = Exchange::Count::Nothing}), 5);
}

char Unit::programHardwareRevision(const QByteArray &text)
{
    return charAt(m_session.transact("94," + text + ',', {.count = Exchange::Count::Nothing}), 5);
}

char Unit::programFilamentLimit(int code)
{
    return charAt(m_session.transact("95," + QByteArray::number(code) + ',', {.count = Exchange::Count::Nothing}), 5);
}

void Unit::setUnitBaudRate(int code)
{
    m_session.transact("07," + QByteArray::number(code) + ',', {.wait = false, .rearm = Exchange::Rearm::ReceiveTimer});
}

void Unit::sendOnly(const QByteArray &payload)
{
    m_session.transact(payload, {.pause = Exchange::Pause::Nothing, .wait = false, .rearm = Exchange::Rearm::Nothing});
}

} // namespace plv
