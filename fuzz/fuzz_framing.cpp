// Command framing: a payload framed and cut out again is the payload, and the console's
// checksum agrees with the simulated unit's independent one.
#include "fuzzsupport.h"

#include "protocol/framing.h"
#include "protocol/serialframer.h"
#include "sim/simunit.h"

#include <QByteArray>
#include <QString>

#include <algorithm>

using namespace plv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray payload(reinterpret_cast<const char *>(data), qsizetype(size));

    const char cs = checksumChar(payload);
    const auto u = static_cast<unsigned char>(cs);
    FUZZ_CHECK(u >= 0x40 && u <= 0x7F);   // never STX, ETX or a comma
    FUZZ_CHECK(cs == SimUnit::checksum(payload));
    // Written as a remainder rather than a mask: payload sum plus checksum is 0 mod 64.
    unsigned sum = 0;
    for (char c : payload)
        sum += static_cast<unsigned char>(c);
    FUZZ_CHECK((sum + u) % 64 == 0);

    const QByteArray plain = frameCommand(payload, false);
    FUZZ_CHECK(plain == STX + payload + ETX);

    const QByteArray f = frameCommand(payload, true);
    FUZZ_CHECK(f.size() == payload.size() + 3);
    FUZZ_CHECK(f.front() == STX && f.back() == ETX);
    FUZZ_CHECK(f.at(f.size() - 2) == cs);
    // Cut out again: from the STX to the ETX, checksum removed.
    QByteArray inner = f.mid(1, f.size() - 2);
    FUZZ_CHECK(inner.back() == cs);
    inner.chop(1);
    FUZZ_CHECK(inner == payload);

    // A payload free of STX and ETX survives the receiving side intact: the framer hands
    // back exactly the frame, and only at its end.
    if (!payload.contains(STX) && !payload.contains(ETX) && f.size() <= SerialFramer::kLimit + 1) {
        SerialFramer framer;
        int frames = 0;
        for (qsizetype i = 0; i < f.size(); ++i) {
            const auto got = framer.feed(f.at(i));
            if (got) {
                ++frames;
                FUZZ_CHECK(i == f.size() - 1);
                FUZZ_CHECK(*got == f);
            }
        }
        FUZZ_CHECK(frames == 1);
    }

    // The status bar shows control characters by visible names and the rest as it is.
    for (const QByteArray &bytes : {f, payload}) {
        const QString shown = renderFrame(bytes);
        FUZZ_CHECK(shown.size() >= bytes.size());
        for (QChar c : shown)
            FUZZ_CHECK(c.unicode() >= 0x20 && c.unicode() != 0x7F);
        const bool plainText = std::none_of(bytes.begin(), bytes.end(), [](char c) {
            const auto b = static_cast<unsigned char>(c);
            return b < 0x20 || b == 0x7F;
        });
        if (plainText)
            FUZZ_CHECK(shown == QString::fromLatin1(bytes));
    }
    return 0;
}
