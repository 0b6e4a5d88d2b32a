// The operating-system side of the bridge, kept abstract so the protocol logic in
// TesselObject can run against a scripted device in tests.
#ifndef TESSEL_HIDPLATFORM_H
#define TESSEL_HIDPLATFORM_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tessel {

// Opaque; values are never reused by a platform, so a stale one can't hit another device.
enum class HidHandle : std::uint64_t { None = 0 };

// Result codes of HidPlatform::read besides a byte count.
inline constexpr int kReadTimedOut = 0;
inline constexpr int kReadDeviceGone = -1;
inline constexpr int kReadFailed = -2;

// One snapshot of the present HID interfaces. Destroying it releases the
// platform's enumeration, so holding it in a unique_ptr can't leak it.
class HidInterfaceList {
public:
    virtual ~HidInterfaceList() = default;
    // Path of the interface at index (enumeration order); false past the end.
    virtual bool pathAt(std::size_t index, std::string &path) const = 0;
};

class HidPlatform {
public:
    virtual ~HidPlatform() = default;

    // Never null.
    virtual std::unique_ptr<HidInterfaceList> enumerateInterfaces() = 0;
    // HidHandle::None when the interface can't be opened.
    virtual HidHandle open(const std::string &path) = 0;
    virtual bool getAttributes(HidHandle handle, std::uint16_t &vendor, std::uint16_t &product) = 0;
    // Largest input and output report of the interface, each counting the report ID byte.
    virtual bool getReportLengths(HidHandle handle, std::uint16_t &inputLen, std::uint16_t &outputLen) = 0;
    // data[0] is the report ID. Returns bytes written or -1.
    virtual int write(HidHandle handle, const std::uint8_t *data, std::size_t len) = 0;
    // One input report into buf, buf[0] being its report ID (0 when the device numbers
    // none). Returns the byte count, kReadTimedOut (after timeoutMs), kReadDeviceGone
    // (possibly at once) or kReadFailed.
    virtual int read(HidHandle handle, std::uint8_t *buf, std::size_t len, int timeoutMs) = 0;
    // Blocks the caller for ms: the read wait when there is no device to wait on.
    virtual void wait(int ms) = 0;
    // Ends any read outstanding on handle; once it returns buf of that read is free.
    virtual void cancel(HidHandle handle) = 0;
    virtual void close(HidHandle handle) = 0;
};

} // namespace tessel

#endif
