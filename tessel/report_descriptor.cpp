#include "report_descriptor.h"

#include <algorithm>
#include <array>
#include <map>

namespace tessel {

namespace {

struct Globals {
    std::uint32_t reportSize = 0;
    std::uint32_t reportCount = 0;
    std::uint32_t reportId = 0;
};

// Deep enough for any real descriptor; bounds what a hostile one can make us hold.
constexpr std::size_t kMaxPushDepth = 16;
constexpr std::uint64_t kMaxReportBits = (0xFFFFull - 1) * 8; // keeps length in uint16 with the ID byte

enum ItemType : std::uint8_t { Main = 0, Global = 1 };
enum MainTag : std::uint8_t { Input = 0x8, Output = 0x9 };
enum GlobalTag : std::uint8_t { ReportSize = 0x7, ReportId = 0x8, ReportCount = 0x9, Push = 0xA, Pop = 0xB };

std::uint16_t largestReport(const std::map<std::uint32_t, std::uint64_t> &bitsPerId)
{
    std::uint64_t bits = 0;
    for (const auto &[id, b] : bitsPerId)
        bits = std::max(bits, b);
    return bits == 0 ? 0 : static_cast<std::uint16_t>((bits + 7) / 8 + 1);
}

} // namespace

std::optional<ReportLengths> parseReportDescriptor(const std::uint8_t *data, std::size_t size)
{
    if (!data && size)
        return std::nullopt;

    Globals g;
    std::array<Globals, kMaxPushDepth> stack{};
    std::size_t depth = 0;
    std::map<std::uint32_t, std::uint64_t> inputBits, outputBits;
    bool numbered = false;

    std::size_t pos = 0;
    while (pos < size) {
        const std::uint8_t prefix = data[pos];
        if (prefix == 0xFE) { // long item: size, tag, data; nothing we need is ever long
            if (size - pos < 3)
                return std::nullopt;
            const std::size_t itemLen = 3 + std::size_t(data[pos + 1]);
            if (size - pos < itemLen)
                return std::nullopt;
            pos += itemLen;
            continue;
        }
        static constexpr std::size_t dataLen[] = {0, 1, 2, 4};
        const std::size_t n = dataLen[prefix & 0x3];
        if (size - pos - 1 < n)
            return std::nullopt;
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < n; ++i)
            value |= std::uint32_t(data[pos + 1 + i]) << (8 * i);
        pos += 1 + n;

        const std::uint8_t type = (prefix >> 2) & 0x3;
        const std::uint8_t tag = prefix >> 4;
        if (type == Main && (tag == Input || tag == Output)) {
            auto &bits = (tag == Input ? inputBits : outputBits)[g.reportId];
            bits += std::uint64_t(g.reportSize) * g.reportCount;
            if (bits > kMaxReportBits)
                return std::nullopt;
        } else if (type == Global) {
            switch (tag) {
            case ReportSize: g.reportSize = value; break;
            case ReportCount: g.reportCount = value; break;
            case ReportId:
                g.reportId = value;
                numbered = true;
                break;
            case Push:
                if (depth == kMaxPushDepth)
                    return std::nullopt;
                stack[depth++] = g;
                break;
            case Pop:
                if (depth == 0)
                    return std::nullopt;
                g = stack[--depth];
                break;
            default: break;
            }
        }
    }

    ReportLengths result;
    result.input = largestReport(inputBits);
    result.output = largestReport(outputBits);
    result.numberedReports = numbered;
    return result;
}

std::string hidrawDescriptorPath(std::string_view devicePath)
{
    constexpr std::string_view prefix = "/dev/hidraw";
    if (devicePath.substr(0, prefix.size()) != prefix || devicePath.size() == prefix.size())
        return {};
    for (char c : devicePath.substr(prefix.size()))
        if (c < '0' || c > '9')
            return {};
    return "/sys/class/hidraw/" + std::string(devicePath.substr(5)) + "/device/report_descriptor";
}

} // namespace tessel
