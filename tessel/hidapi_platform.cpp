#include "hidapi_platform.h"

#include "report_descriptor.h"

#include <hidapi.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <thread>
#include <vector>

namespace tessel {

namespace {

// hidapi holds a process-wide error string until hid_exit. Freed when the library is
// unloaded, not per object: other objects (or the host) may still be using hidapi.
struct HidapiLifetime {
    ~HidapiLifetime() { hid_exit(); }
} hidapiLifetime;

class HidapiInterfaceList final : public HidInterfaceList {
public:
    HidapiInterfaceList() : head_(hid_enumerate(0, 0))
    {
        for (const hid_device_info *info = head_; info; info = info->next)
            if (info->path)
                paths_.emplace_back(info->path);
    }
    ~HidapiInterfaceList() override { hid_free_enumeration(head_); }
    HidapiInterfaceList(const HidapiInterfaceList &) = delete;
    HidapiInterfaceList &operator=(const HidapiInterfaceList &) = delete;

    bool pathAt(std::size_t index, std::string &path) const override
    {
        if (index >= paths_.size())
            return false;
        path = paths_[index];
        return true;
    }

private:
    hid_device_info *head_;
    std::vector<std::string> paths_;
};

// hidapi 0.13 on hidraw can't tell report lengths, but the kernel publishes the descriptor.
std::optional<ReportLengths> readReportLengths(const std::string &devicePath)
{
    const std::string file = hidrawDescriptorPath(devicePath);
    if (file.empty())
        return std::nullopt;
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return std::nullopt;
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    return parseReportDescriptor(bytes.data(), bytes.size());
}

} // namespace

HidapiPlatform::HidapiPlatform()
{
    hid_init(); // idempotent; a failure shows up as an empty enumeration
}

HidapiPlatform::~HidapiPlatform()
{
    // hid_exit waits for unload (HidapiLifetime): other objects may still use hidapi.
    for (auto &[handle, device] : devices_)
        hid_close(device.dev);
}

HidapiPlatform::Device *HidapiPlatform::find(HidHandle handle)
{
    const auto it = devices_.find(handle);
    return it == devices_.end() ? nullptr : &it->second;
}

std::unique_ptr<HidInterfaceList> HidapiPlatform::enumerateInterfaces()
{
    return std::make_unique<HidapiInterfaceList>();
}

HidHandle HidapiPlatform::open(const std::string &path)
{
    hid_device *dev = hid_open_path(path.c_str());
    if (!dev)
        return HidHandle::None;
    const auto lengths = readReportLengths(path);
    const HidHandle handle{++lastHandle_};
    devices_[handle] = Device{dev, path, lengths && lengths->numberedReports};
    return handle;
}

bool HidapiPlatform::getAttributes(HidHandle handle, std::uint16_t &vendor, std::uint16_t &product)
{
    Device *d = find(handle);
    if (!d)
        return false;
    const hid_device_info *info = hid_get_device_info(d->dev);
    if (!info)
        return false;
    vendor = info->vendor_id;
    product = info->product_id;
    return true;
}

bool HidapiPlatform::getReportLengths(HidHandle handle, std::uint16_t &inputLen, std::uint16_t &outputLen)
{
    Device *d = find(handle);
    if (!d)
        return false;
    const auto lengths = readReportLengths(d->path);
    if (!lengths)
        return false;
    inputLen = lengths->input;
    outputLen = lengths->output;
    return true;
}

int HidapiPlatform::write(HidHandle handle, const std::uint8_t *data, std::size_t len)
{
    Device *d = find(handle);
    return d ? hid_write(d->dev, data, len) : -1;
}

int HidapiPlatform::read(HidHandle handle, std::uint8_t *buf, std::size_t len, int timeoutMs)
{
    Device *d = find(handle);
    if (!d)
        return kReadDeviceGone;
    if (len == 0 || len > std::size_t(std::numeric_limits<int>::max()))
        return kReadFailed;
    if (d->numberedReports)
        return hid_read_timeout(d->dev, buf, len, timeoutMs);
    // Unnumbered reports arrive without their ID byte; give the caller the 0 it expects.
    buf[0] = 0;
    const int n = hid_read_timeout(d->dev, buf + 1, len - 1, timeoutMs);
    return n > 0 ? n + 1 : n;
}

void HidapiPlatform::wait(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void HidapiPlatform::cancel(HidHandle)
{
    // hidraw reads are synchronous with a time-out: none is outstanding once read() returns.
}

void HidapiPlatform::close(HidHandle handle)
{
    const auto it = devices_.find(handle);
    if (it == devices_.end())
        return;
    hid_close(it->second.dev);
    devices_.erase(it);
}

} // namespace tessel
