#include "protocol/framing.h"

namespace plv {

char checksumChar(const QByteArray &payload)
{
    long long sum = 0;   // unbounded in effect: never reduced while summing
    for (char c : payload)
        sum += static_cast<unsigned char>(c);
    const long long d = 256 - sum;
    // AND on the two's complement of a possibly negative value.
    return static_cast<char>((static_cast<unsigned long long>(d) & 0x3F) | 0x40);
}

std::optional<bool> checksumMatches(const QByteArray &frame)
{
    const qsizetype etx = frame.indexOf(ETX);
    if (!frame.startsWith(STX) || etx < 3)
        return std::nullopt;
    return frame.at(etx - 1) == checksumChar(frame.mid(1, etx - 2));
}

QByteArray frameCommand(const QByteArray &payload, bool withChecksum)
{
    QByteArray f;
    f.reserve(payload.size() + 3);
    f += STX;
    f += payload;
    if (withChecksum)
        f += checksumChar(payload);
    f += ETX;
    return f;
}

QString renderFrame(const QByteArray &bytes)
{
    // Plain ASCII names: the status bar's fonts rarely carry the control pictures.
    QString s;
    s.reserve(bytes.size() + 8);
    for (char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u == 0x02)
            s += QLatin1String("<STX>");
        else if (u == 0x03)
            s += QLatin1String("<ETX>");
        else if (u < 0x20 || u == 0x7F)
            s += QStringLiteral("<%1>").arg(u, 2, 16, QLatin1Char('0'));
        else
            s += QChar(u);   // Latin-1
    }
    return s;
}

} // namespace plv
