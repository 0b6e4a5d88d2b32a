#include "console/logdecode.h"

#include "protocol/channels.h"
#include "protocol/framing.h"
#include "protocol/identity.h"

#include <QStringList>

#include <cmath>

namespace plv {

namespace {

const char *const kChannelNames[4] = {"kV setpoint", "mA setpoint", "filament limit", "filament preheat"};
const char *const kFlagNames[6] = {"arc", "temperature", "over voltage", "under voltage", "over current",
                                   "under current"};

QString text(const QByteArray &b) { return QString::fromLatin1(b); }

// The comma-ended fields of a payload after its command number.
QList<QByteArray> arguments(const QByteArray &payload)
{
    QList<QByteArray> args = payload.mid(3).split(',');
    args.removeLast();   // after the closing comma, or the unfinished rest
    return args;
}

QString onOff(const QByteArray &arg, const char *on, const char *off)
{
    return QLatin1String(arg == "1" ? on : arg == "0" ? off : "?");
}

// What a command asked for, in a form its answer can follow: "HV ON", "reset faults".
QString requestName(int cmd, const QList<QByteArray> &args)
{
    switch (cmd) {
    case 98: return QStringLiteral("HV ") + onOff(args.value(0), "ON", "OFF");
    case 99: return onOff(args.value(0), "REMOTE", "LOCAL");
    case 30: return QStringLiteral("reset total hours");
    case 31: return QStringLiteral("reset faults");
    case 96: return QStringLiteral("toggle passthrough");
    case 7: return QStringLiteral("unit baud rate");
    case 93: return QStringLiteral("model number");
    case 94: return QStringLiteral("hardware revision");
    case 95: return QStringLiteral("filament limit");
    default:
        if (cmd >= 10 && cmd <= 13)
            return QLatin1String(kChannelNames[cmd - 10]);
        return {};
    }
}

std::optional<double> field(const QList<QByteArray> &fields, int i)
{
    return i < fields.size() ? parseNumber(fields[i]) : std::nullopt;
}

} // namespace

QByteArray framePayload(const QByteArray &frame)
{
    const qsizetype from = frame.startsWith(STX) ? 1 : 0;
    const qsizetype comma = frame.lastIndexOf(',');
    if (comma >= from)
        return frame.mid(from, comma - from + 1);
    const qsizetype etx = frame.indexOf(ETX, from);
    return frame.mid(from, etx < 0 ? -1 : etx - from);
}

QString faultFlagName(int i) { return i >= 0 && i < 6 ? QLatin1String(kFlagNames[i]) : QString(); }

QString mainStatusText(const MainStatus &s)
{
    auto pick = [](const std::optional<bool> &v, const char *yes, const char *no, const char *unknown) {
        return QLatin1String(!v ? unknown : *v ? yes : no);
    };
    return QStringList{pick(s.hvOn, "HV on", "HV off", "HV ?"),
                       pick(s.interlockOpen, "interlock open", "interlock closed", "interlock ?"),
                       pick(s.fault, "fault", "no fault", "fault ?"), pick(s.remote, "remote", "local", "remote ?")}
        .join(QStringLiteral(", "));
}

QString faultFlagsText(const std::array<std::optional<bool>, 6> &flags)
{
    QStringList set;
    int unknown = 0;
    for (int i = 0; i < 6; ++i) {
        if (!flags[size_t(i)])
            ++unknown;
        else if (*flags[size_t(i)])
            set << faultFlagName(i);
    }
    QString out = set.isEmpty() ? QStringLiteral("none") : set.join(QStringLiteral(", "));
    if (unknown)
        out += QStringLiteral(" (%1 unreadable)").arg(unknown);
    return out;
}

QString commandMeaning(const QByteArray &payload, const Factors &f)
{
    const int cmd = logs::frameCommand(payload);
    const QList<QByteArray> args = arguments(payload);
    const QByteArray a0 = args.value(0);
    switch (cmd) {
    case 7: {
        const int code = a0.toInt();
        return QStringLiteral("set the unit's baud rate to %1")
            .arg(code >= 1 && code <= 5 ? unitBaudTexts().at(code - 1) : QStringLiteral("code ") + text(a0));
    }
    case 10: case 11: case 12: case 13: {
        const Channel c = Channel(cmd - 10);
        const auto count = parseNumber(a0);
        return QStringLiteral("set %1: count %2%3")
            .arg(QLatin1String(kChannelNames[cmd - 10]), text(a0),
                 count ? QStringLiteral(" = ") + readbackText(c, *count, f.voltsPerCount, f.milliampsPerCount)
                       : QString());
    }
    case 14: case 15: case 16: case 17:
        return QStringLiteral("read %1").arg(QLatin1String(kChannelNames[cmd - 14]));
    case 19: return QStringLiteral("read kV, mA and filament monitors");
    case 20: return QStringLiteral("read -15 V supply and converter channels");
    case 21: return QStringLiteral("read total hours");
    case 22: return QStringLiteral("status request");
    case 23: return QStringLiteral("read software revision");
    case 24: return QStringLiteral("read hardware revision");
    case 25: return QStringLiteral("read web server revision");
    case 26: return QStringLiteral("read model number");
    case 30: return QStringLiteral("reset total hours");
    case 31: return QStringLiteral("reset faults");
    case 68: return QStringLiteral("fault flags request");
    case 93: return QStringLiteral("program model number %1").arg(text(args.join(',')));
    case 94: return QStringLiteral("program hardware revision %1").arg(text(a0));
    case 95: {
        const auto code = parseNumber(a0);
        return QStringLiteral("program filament limit: code %1%2")
            .arg(text(a0), code ? QStringLiteral(" = %1 A").arg(*code * 5.0 / 2047.0, 0, 'f', 3) : QString());
    }
    case 96: return QStringLiteral("toggle passthrough");
    case 98:
    case 99: return requestName(cmd, args);
    default: return cmd < 0 ? QString() : QStringLiteral("command %1").arg(cmd, 2, 10, QLatin1Char('0'));
    }
}

QString replyMeaning(const QByteArray &frame, const QByteArray &sent, const Factors &f)
{
    if (!frame.startsWith(STX))
        return {};
    const int cmd = logs::frameCommand(frame);
    const QList<QByteArray> fields = cmd == 19 || cmd == 20 || (cmd >= 14 && cmd <= 17) ? cutFields(frame, 3)
                                                                                          : QList<QByteArray>{};
    switch (cmd) {
    case 22: return mainStatusText(decodeMainStatus(frame));
    case 68: return QStringLiteral("fault flags: ") + faultFlagsText(decodeFaultFlags(frame));
    case 19: {
        QStringList parts;
        if (const auto v = field(fields, 0))
            parts << kvMonitorText(*v, f.voltsPerCount);
        if (const auto v = field(fields, 1))
            parts << maMonitorText(*v, f.milliampsPerCount);
        if (const auto v = field(fields, 2))
            parts << QStringLiteral("filament ") + filamentMonitorText(*v);
        return parts.join(QStringLiteral(", "));
    }
    case 20: {
        QStringList parts;
        if (const auto v = field(fields, 0))
            parts << QStringLiteral("-15 V supply ") + supplyText(*v);
        if (fields.size() > 1)
            parts << QStringLiteral("converter channels %1, %2").arg(text(fields[1]), text(fields.value(2)));
        return parts.join(QStringLiteral(", "));
    }
    case 14: case 15: case 16: case 17:
        if (const auto v = field(fields, 0))
            return QStringLiteral("%1 %2")
                .arg(QLatin1String(kChannelNames[cmd - 14]),
                     readbackText(Channel(cmd - 14), *v, f.voltsPerCount, f.milliampsPerCount));
        return {};
    case 21:
        if (const auto h = totalHoursValue(frame))
            return QStringLiteral("total hours %1").arg(text(*h));
        return {};
    case 23: return QStringLiteral("software revision ") + text(revisionValue(frame, 11));
    case 24: return QStringLiteral("hardware revision ") + text(revisionValue(frame, 3));
    case 25: return QStringLiteral("web server revision ") + text(revisionValue(frame, 11));
    case 26: return QStringLiteral("model number ") + text(modelNumberValue(frame));
    default: break;
    }
    // The answers to commands that change something: '$' accepted, '1' refused.
    const char answer = charAt(frame, 5);
    QString what = logs::frameCommand(sent) == cmd ? requestName(cmd, arguments(sent)) : requestName(cmd, {});
    if (what.isEmpty())
        what = QStringLiteral("command %1").arg(cmd, 2, 10, QLatin1Char('0'));
    if (answer == '$')
        return what + QStringLiteral(" accepted");
    if (answer == '1' || answer == '2')
        return what + QStringLiteral(" refused (%1)").arg(QLatin1Char(answer));
    return what + QStringLiteral(" answered");
}

logs::ChecksumVerdict checksumVerdict(const QByteArray &frame)
{
    const qsizetype etx = frame.indexOf(ETX);
    if (!frame.startsWith(STX) || etx < 3)
        return logs::ChecksumVerdict::NotApplicable;
    const char got = frame.at(etx - 1);
    return got == checksumChar(frame.mid(1, etx - 2)) ? logs::ChecksumVerdict::Ok : logs::ChecksumVerdict::Bad;
}

// ---------------------------------------------------------------------------

void SampleAssembler::take(const QByteArray &command, const QByteArray &reply, const Factors &f)
{
    using logs::Sample;
    // Anything without its ETX is a time-out: its columns are empty for this cycle.
    const bool ok = reply.startsWith(STX) && reply.contains(ETX);
    const QList<QByteArray> fields = ok ? cutFields(reply, 3) : QList<QByteArray>{};
    auto number = [&](int i) { return field(fields, i); };
    auto count = [&](int i) -> std::optional<int> {
        const auto v = number(i);
        return v && std::isfinite(*v) && std::abs(*v) < 1e9 ? std::optional<int>(int(std::lround(*v))) : std::nullopt;
    };
    // Six significant digits: more than a 12-bit count carries, without the binary noise of
    // the factors ("2.1965790000000003") in the recording.
    auto scaled = [](std::optional<double> v, auto convert) {
        return v ? std::optional<double>(QString::number(convert(*v), 'g', 6).toDouble()) : v;
    };

    const int cmd = logs::frameCommand(command + ',');
    switch (cmd) {
    case 19:
        m_s.kV = scaled(number(0), [&](double c) { return kilovolts(c, f.voltsPerCount); });
        m_s.mA = scaled(number(1), [&](double c) { return c * f.milliampsPerCount; });
        m_s.filamentA = scaled(number(2), [](double c) { return c * kFilamentAmpsPerCount; });
        break;
    case 20:
        m_s.supplyMinus15V = scaled(number(0), [](double c) { return -(3972.0 - c) * 0.006224; });
        m_s.converterA = count(1);
        m_s.converterB = count(2);
        break;
    case 14: case 15: case 16: case 17: {
        const Channel c = Channel(cmd - 14);
        std::optional<double> *target[4] = {&m_s.kVSetpoint, &m_s.mASetpoint, &m_s.filamentLimitA,
                                            &m_s.filamentPreheatA};
        *target[cmd - 14] = scaled(number(0), [&](double n) {
            return c == Channel::A ? kilovolts(n, f.voltsPerCount)
                                   : n * channelFactor(c, f.voltsPerCount, f.milliampsPerCount);
        });
        break;
    }
    case 22: {
        const MainStatus st = ok ? decodeMainStatus(reply) : MainStatus{};
        m_s.hvOn = st.hvOn;
        m_s.interlockClosed = st.interlockOpen ? std::optional<bool>(!*st.interlockOpen) : std::nullopt;
        m_s.fault = st.fault;
        m_s.remote = st.remote;
        break;
    }
    case 68: {
        const auto flags = ok ? decodeFaultFlags(reply) : std::array<std::optional<bool>, 6>{};
        std::optional<bool> *target[6] = {&m_s.arc, &m_s.overTemperature, &m_s.overVoltage,
                                          &m_s.underVoltage, &m_s.overCurrent, &m_s.underCurrent};
        for (int i = 0; i < 6; ++i)
            *target[i] = flags[size_t(i)];
        break;
    }
    default: break;
    }
}

logs::Sample SampleAssembler::finish(const QDateTime &time, const QString &rating)
{
    logs::Sample out = std::exchange(m_s, {});
    out.time = time;
    if (!rating.isEmpty())
        out.rating = rating;
    return out;
}

} // namespace plv
