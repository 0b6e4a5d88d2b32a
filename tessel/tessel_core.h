// The bridge's state and protocol, independent of the C boundary and of the OS.
#ifndef TESSEL_CORE_H
#define TESSEL_CORE_H

#include "hidplatform.h"
#include "tessel.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tessel {

inline constexpr std::size_t kMaxFrameLength = 65;       // PendingOutput holds this many characters
inline constexpr std::uint16_t kMaxOutputReportLength = 66; // report ID byte + kMaxFrameLength
inline constexpr int kReadTimeoutMs = 1000;
inline constexpr std::size_t kReadBufferLength = 4096; // at least; see readReport

class TesselObject {
public:
    explicit TesselObject(HidPlatform &platform);
    ~TesselObject();
    TesselObject(const TesselObject &) = delete;
    TesselObject &operator=(const TesselObject &) = delete;

    // Opens the first unit in enumeration order; true when one was found.
    bool findTheHid();
    // Sends frame as one output report; characters past the report's length are dropped.
    TesselResult writeReport(std::string_view frame);
    // Waits for one input report and yields its non-zero data bytes. A time-out is taken
    // as the unit having gone and triggers a new search; text is then empty. Without a
    // unit every call still costs the full wait before its search.
    TesselResult readReport(std::string &text);

    static std::string reverseString(std::string_view s);

    bool deviceDetected() const { return deviceDetected_; }
    bool enumerationDone() const { return enumerationDone_; }
    const std::string &devicePath() const { return devicePath_; }
    std::uint16_t inputReportByteLength() const { return inputReportByteLength_; }
    std::uint16_t outputReportByteLength() const { return outputReportByteLength_; }
    HidHandle hidHandle() const { return hidHandle_; }
    HidHandle readHandle() const { return readHandle_; }

private:
    void readReportLengths();
    void armReadEvent();
    void closeHandle(HidHandle &handle);

    HidPlatform &platform_;
    HidHandle hidHandle_ = HidHandle::None;  // writes, and the handle examined during search
    HidHandle readHandle_ = HidHandle::None; // reads, so a blocked read never holds up a write
    std::string devicePath_;
    std::uint16_t inputReportByteLength_ = 0;
    std::uint16_t outputReportByteLength_ = 0;
    std::array<std::uint8_t, kMaxFrameLength> pendingOutput_{};
    std::vector<std::uint8_t> inputReport_;
    bool deviceDetected_ = false;
    bool enumerationDone_ = false;
};

} // namespace tessel

#endif
