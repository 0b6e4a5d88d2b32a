#include "protocol/framemeaning.h"

#include "protocol/channels.h"
#include "protocol/framing.h"
#include "protocol/identity.h"

#include <QStringList>


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

} // namespace

int commandNumber(const QByteArray &frame)
{
    qsizetype i = frame.startsWith(STX) ? 1 : 0;
    int value = 0, digits = 0;
    for (; i < frame.size() && frame.at(i) >= '0' && frame.at(i) <= '9'; ++i) {
        if (++digits > 4)
            return -1;
        value = value * 10 + (frame.at(i) - '0');
    }
    return digits > 0 && i < frame.size() && frame.at(i) == ',' ? value : -1;
}

QString channelName(Channel c) { return QLatin1String(kChannelNames[int(c) & 3]); }

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

QString faultFlagsText(const FaultFlags &flags)
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
    const int cmd = commandNumber(payload);
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

QString replyMeaning(const Reply &reply, const QByteArray &sent, const Factors &f)
{
    const QByteArray &frame = reply.frame;
    if (!frame.startsWith(STX))
        return {};
    const int cmd = reply.command.toInt();
    auto number = [&](int i) { return reply.number(i); };
    switch (cmd) {
    case 22: return mainStatusText(reply.status);
    case 68: return QStringLiteral("fault flags: ") + faultFlagsText(reply.flags);
    case 19: {
        QStringList parts;
        if (const auto v = number(0))
            parts << kvMonitorText(*v, f.voltsPerCount);
        if (const auto v = number(1))
            parts << maMonitorText(*v, f.milliampsPerCount);
        if (const auto v = number(2))
            parts << QStringLiteral("filament ") + filamentMonitorText(*v);
        return parts.join(QStringLiteral(", "));
    }
    case 20: {
        QStringList parts;
        if (const auto v = number(0))
            parts << QStringLiteral("-15 V supply ") + supplyText(*v);
        if (reply.fields.size() > 1)
            parts << QStringLiteral("converter channels %1, %2").arg(text(reply.fields[1]), text(reply.fields.value(2)));
        return parts.join(QStringLiteral(", "));
    }
    case 14: case 15: case 16: case 17:
        if (const auto v = number(0))
            return QStringLiteral("%1 %2")
                .arg(QLatin1String(kChannelNames[cmd - 14]),
                     readbackText(Channel(cmd - 14), *v, f.voltsPerCount, f.milliampsPerCount));
        return {};
    case 21:
        if (!reply.fields.isEmpty())
            return QStringLiteral("total hours %1").arg(text(reply.text));
        return {};
    case 23: return QStringLiteral("software revision ") + text(reply.text);
    case 24: return QStringLiteral("hardware revision ") + text(reply.text);
    case 25: return QStringLiteral("web server revision ") + text(reply.text);
    case 26: return QStringLiteral("model number ") + text(reply.text);
    default: break;
    }
    // The answers to commands that change something: '$' accepted, '1' refused.
    QString what = commandNumber(sent) == cmd ? requestName(cmd, arguments(sent)) : requestName(cmd, {});
    if (what.isEmpty())
        what = QStringLiteral("command %1").arg(cmd, 2, 10, QLatin1Char('0'));
    return what + QLatin1Char(' ') + answerText(reply);
}

QString frameMeaning(const QByteArray &frame, const Factors &f)
{
    const int cmd = commandNumber(frame);
    if (!frame.startsWith(STX) || cmd < 0)
        return {};
    return replyMeaning(decodeReply(frame.mid(1, 2), frame), {}, f);
}

QString answerText(const Reply &reply)
{
    if (reply.answer == '$')
        return QStringLiteral("accepted");
    if (reply.answer == '1' || reply.answer == '2')
        return QStringLiteral("refused (%1)").arg(QLatin1Char(reply.answer));
    return QStringLiteral("answered");
}

} // namespace plv
