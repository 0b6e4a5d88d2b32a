// The serial receive side fed one character at a time. Input bytes are fed as they are,
// except 0xFE hi lo c, which feeds c (hi*256+lo) mod 8192 times so short inputs can
// reach the junk limit. The stream is cut at four times that limit.
#include "fuzzsupport.h"

#include "protocol/framing.h"
#include "protocol/serialframer.h"

#include <QByteArray>

#include <string>

using namespace plv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // A few times the junk limit is enough to cross it repeatedly; more only slows the run.
    constexpr std::size_t kMaxStream = 4 * SerialFramer::kLimit;
    std::string stream;
    for (std::size_t i = 0; i < size && stream.size() < kMaxStream; ++i) {
        if (data[i] == 0xFE && i + 3 < size) {
            const std::size_t run = ((std::size_t(data[i + 1]) << 8) | data[i + 2]) & 0x1FFF;
            stream.append(run, char(data[i + 3]));
            i += 3;
        } else {
            stream.push_back(char(data[i]));
        }
    }

    constexpr qsizetype limit = SerialFramer::kLimit;
    SerialFramer framer;
    qsizetype lastStx = -1;   // index of the last STX since the last ETX
    for (qsizetype i = 0; i < qsizetype(stream.size()); ++i) {
        const char c = stream[size_t(i)];
        const qsizetype before = framer.pending().size();
        const std::optional<QByteArray> got = framer.feed(c);
        const QByteArray &pending = framer.pending();
        FUZZ_CHECK(got.has_value() == (c == ETX));   // every ETX completes a frame

        if (c == STX) {
            lastStx = i;
            FUZZ_CHECK(pending == QByteArray(1, STX));
            continue;
        }
        if (c != ETX) {
            // Held input grows by exactly this character, or is dropped as junk only
            // past the limit; so what is held is always the latest input, STX first if any.
            if (pending.isEmpty())
                FUZZ_CHECK(before + 1 > limit);
            else
                FUZZ_CHECK(pending.size() == before + 1 && pending.back() == c);
            FUZZ_CHECK(pending.size() <= limit);
            continue;
        }

        const QByteArray &frame = *got;
        FUZZ_CHECK(pending.isEmpty());
        FUZZ_CHECK(frame.size() == before + 1 && frame.size() <= limit + 1);
        FUZZ_CHECK(frame.back() == ETX && frame.indexOf(ETX) == frame.size() - 1);
        FUZZ_CHECK(frame.lastIndexOf(STX) <= 0);   // at most one STX, and only first
        FUZZ_CHECK(stream.compare(size_t(i + 1 - frame.size()), size_t(frame.size()), frame.constData(),
                                  size_t(frame.size()))
                   == 0);
        // A frame whose STX lies within reach is delivered from that STX; otherwise the
        // frame is the junk (or bare ETX) that arrived since the last drop.
        const bool inReach = lastStx >= 0 && i - lastStx + 1 <= limit + 1;
        FUZZ_CHECK(inReach == (frame.front() == STX));
        if (inReach)
            FUZZ_CHECK(frame.size() == i - lastStx + 1);
        lastStx = -1;
    }
    return 0;
}
