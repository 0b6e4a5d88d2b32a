// Report lengths from a raw HID report descriptor, for platforms that can't report them.
#ifndef TESSEL_REPORT_DESCRIPTOR_H
#define TESSEL_REPORT_DESCRIPTOR_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tessel {

struct ReportLengths {
    // Largest report of each direction including its report ID byte, which the wire
    // protocol carries as 0 when the descriptor numbers no reports; 0 when there is none.
    std::uint16_t input = 0;
    std::uint16_t output = 0;
    bool numberedReports = false;
};

// nullopt for a truncated or malformed descriptor, or a report over 65535 bytes.
std::optional<ReportLengths> parseReportDescriptor(const std::uint8_t *data, std::size_t size);

// Where the kernel publishes the descriptor of a hidraw node ("/dev/hidraw3" ->
// "/sys/class/hidraw/hidraw3/device/report_descriptor"); empty for other paths.
std::string hidrawDescriptorPath(std::string_view devicePath);

} // namespace tessel

#endif
