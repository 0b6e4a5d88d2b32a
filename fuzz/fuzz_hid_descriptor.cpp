// HID report descriptors as a device (or a hostile one) presents them.
#include "fuzzsupport.h"

#include "report_descriptor.h"

#include <string_view>
#include <vector>

using tessel::parseReportDescriptor;
using tessel::ReportLengths;

namespace {

// Where each item ends, read only as far as the item prefixes go; stops at the first
// item that doesn't fit. Also notes the items the lengths depend on.
struct Items {
    std::vector<std::size_t> ends;
    bool complete = false;   // the last item ends exactly at the end of the data
    bool anyReportId = false, anyInput = false, anyOutput = false;
};

Items walk(const std::uint8_t *d, std::size_t n)
{
    Items it;
    std::size_t p = 0;
    while (p < n) {
        std::size_t len;
        if (d[p] == 0xFE) {
            if (p + 1 >= n)
                return it;
            len = 3 + std::size_t(d[p + 1]);
        } else {
            len = 1 + ((d[p] & 3) == 3 ? 4 : (d[p] & 3));
            const unsigned kind = d[p] & 0xFC;
            it.anyReportId |= kind == 0x84;
            it.anyInput |= kind == 0x80;
            it.anyOutput |= kind == 0x90;
        }
        if (len > n - p)
            return it;
        p += len;
        it.ends.push_back(p);
    }
    it.complete = true;
    return it;
}

void checkLengths(const ReportLengths &r)
{
    // Either no report, or at least the ID byte and one data byte.
    FUZZ_CHECK(r.input == 0 || r.input >= 2);
    FUZZ_CHECK(r.output == 0 || r.output >= 2);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // The buffer holds exactly size bytes, so a sanitizer sees any read past the end.
    const std::optional<ReportLengths> r = parseReportDescriptor(data, size);
    const Items items = walk(data, size);
    if (!items.complete)
        FUZZ_CHECK(!r);   // a cut-short item is never taken as a descriptor
    if (r) {
        checkLengths(*r);
        FUZZ_CHECK(r->numberedReports == items.anyReportId);
        FUZZ_CHECK(items.anyInput || r->input == 0);
        FUZZ_CHECK(items.anyOutput || r->output == 0);
        // Bits only accumulate: a descriptor cut after any of its items is also accepted
        // and never has longer reports. A few cuts keep the run linear.
        const std::size_t k = items.ends.size();
        for (std::size_t idx : {std::size_t(0), k / 2, k >= 2 ? k - 2 : 0}) {
            if (idx >= k)
                continue;
            const std::vector<std::uint8_t> prefix(data, data + items.ends[idx]);
            const auto p = parseReportDescriptor(prefix.data(), prefix.size());
            FUZZ_CHECK(p.has_value());
            checkLengths(*p);
            FUZZ_CHECK(p->input <= r->input && p->output <= r->output);
            FUZZ_CHECK(!p->numberedReports || r->numberedReports);
        }
    }
    if (size == 0) {
        const auto e = parseReportDescriptor(nullptr, 0);
        FUZZ_CHECK(e && e->input == 0 && e->output == 0 && !e->numberedReports);
    } else {
        FUZZ_CHECK(!parseReportDescriptor(nullptr, size));
    }

    // The same bytes as a device path.
    const std::string_view path(reinterpret_cast<const char *>(data), size);
    const std::string sys = tessel::hidrawDescriptorPath(path);
    constexpr std::string_view prefix = "/dev/hidraw";
    bool hidraw = path.size() > prefix.size() && path.substr(0, prefix.size()) == prefix;
    for (std::size_t i = prefix.size(); hidraw && i < path.size(); ++i)
        hidraw = path[i] >= '0' && path[i] <= '9';
    FUZZ_CHECK(sys.empty() != hidraw);
    if (hidraw)
        FUZZ_CHECK(sys == "/sys/class/hidraw/hidraw" + std::string(path.substr(prefix.size()))
                              + "/device/report_descriptor");
    return 0;
}
