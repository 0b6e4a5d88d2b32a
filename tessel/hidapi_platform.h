// HidPlatform over hidapi's hidraw backend.
#ifndef TESSEL_HIDAPI_PLATFORM_H
#define TESSEL_HIDAPI_PLATFORM_H

#include "hidplatform.h"

#include <map>

struct hid_device_;

namespace tessel {

class HidapiPlatform final : public HidPlatform {
public:
    HidapiPlatform();
    ~HidapiPlatform() override;
    HidapiPlatform(const HidapiPlatform &) = delete;
    HidapiPlatform &operator=(const HidapiPlatform &) = delete;

    std::unique_ptr<HidInterfaceList> enumerateInterfaces() override;
    HidHandle open(const std::string &path) override;
    bool getAttributes(HidHandle handle, std::uint16_t &vendor, std::uint16_t &product) override;
    bool getReportLengths(HidHandle handle, std::uint16_t &inputLen, std::uint16_t &outputLen) override;
    int write(HidHandle handle, const std::uint8_t *data, std::size_t len) override;
    int read(HidHandle handle, std::uint8_t *buf, std::size_t len, int timeoutMs) override;
    void wait(int ms) override;
    void cancel(HidHandle handle) override;
    void close(HidHandle handle) override;

private:
    struct Device {
        hid_device_ *dev = nullptr;
        std::string path;
        bool numberedReports = false;
    };
    Device *find(HidHandle handle);

    std::map<HidHandle, Device> devices_;
    std::uint64_t lastHandle_ = 0;
};

} // namespace tessel

#endif
