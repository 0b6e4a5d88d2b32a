#include "tessel_core.h"

#include <algorithm>

namespace tessel {

TesselObject::TesselObject(HidPlatform &platform) : platform_(platform) {}

TesselObject::~TesselObject()
{
    closeHandle(readHandle_);
    closeHandle(hidHandle_);
}

void TesselObject::closeHandle(HidHandle &handle)
{
    if (handle == HidHandle::None)
        return;
    platform_.close(handle);
    handle = HidHandle::None;
}

bool TesselObject::findTheHid()
{
    // A search opens a fresh pair; an earlier pair would otherwise leak with every
    // USB choice. closeHandle invalidates, so the read time-out's own close is not repeated.
    closeHandle(readHandle_);
    closeHandle(hidHandle_);
    deviceDetected_ = false;
    enumerationDone_ = false;
    {
        const std::unique_ptr<HidInterfaceList> interfaces = platform_.enumerateInterfaces();
        std::string path;
        for (std::size_t index = 0;; ++index) {
            if (!interfaces || !interfaces->pathAt(index, path)) {
                enumerationDone_ = true;
                break;
            }
            hidHandle_ = platform_.open(path);
            std::uint16_t vendor = 0, product = 0;
            if (hidHandle_ != HidHandle::None && platform_.getAttributes(hidHandle_, vendor, product)
                && vendor == TESSEL_VENDOR_ID && product == TESSEL_PRODUCT_ID) {
                deviceDetected_ = true;
                devicePath_ = path;
                break;
            }
            closeHandle(hidHandle_);
        }
    } // enumeration released here, found or not

    if (!deviceDetected_)
        return false;
    readReportLengths();
    readHandle_ = platform_.open(devicePath_);
    armReadEvent();
    return true;
}

void TesselObject::readReportLengths()
{
    std::uint16_t in = 0, out = 0;
    if (!platform_.getReportLengths(hidHandle_, in, out))
        in = out = 0; // unknown lengths leave reads and writes refused rather than guessed
    inputReportByteLength_ = in;
    outputReportByteLength_ = out;
}

void TesselObject::armReadEvent()
{
    inputReport_.assign(inputReportByteLength_, 0);
}

TesselResult TesselObject::writeReport(std::string_view frame)
{
    const std::size_t n = outputReportByteLength_;
    if (n == 0)
        return TESSEL_E_NOTREADY;
    if (frame.size() > kMaxFrameLength || n > kMaxOutputReportLength)
        return TESSEL_E_RANGE;

    std::copy(frame.begin(), frame.end(), pendingOutput_.begin());
    std::vector<std::uint8_t> report(n, 0);
    std::copy_n(pendingOutput_.begin(), n - 1, report.begin() + 1);
    // The unit answers every frame, so a lost write surfaces as a read time-out.
    if (hidHandle_ != HidHandle::None)
        platform_.write(hidHandle_, report.data(), report.size());
    pendingOutput_.fill(0); // a longer frame must never leak into a shorter later one
    return TESSEL_S_OK;
}

TesselResult TesselObject::readReport(std::string &text)
{
    text.clear();
    const std::size_t m = inputReportByteLength_;
    if (m == 0)
        return TESSEL_E_NOTREADY;

    // Room past the input length: a platform may fail, rather than cut, a read into a
    // buffer shorter than the report, so a longer report arrives whole and is cut below.
    inputReport_.assign(std::max(m, kReadBufferLength), 0);
    const int got = readHandle_ == HidHandle::None
                        ? kReadDeviceGone
                        : platform_.read(readHandle_, inputReport_.data(), inputReport_.size(), kReadTimeoutMs);
    // A gone unit answers at once; the caller polls, so without the wait every poll
    // would become a search of the whole bus.
    if (got == kReadDeviceGone)
        platform_.wait(kReadTimeoutMs);
    if (got > 0) {
        // The unit's characters end at the input length, whatever else the report held.
        const std::size_t end = std::min<std::size_t>(std::size_t(got), m);
        for (std::size_t i = 1; i < end; ++i) // byte 0 is the report ID
            if (inputReport_[i] != 0)
                text.push_back(static_cast<char>(inputReport_[i]));
        return TESSEL_S_OK;
    }
    if (got == kReadTimedOut || got == kReadDeviceGone) {
        // Silence means the unit was unplugged or reset: start over with a fresh search.
        if (readHandle_ != HidHandle::None)
            platform_.cancel(readHandle_);
        closeHandle(hidHandle_);
        closeHandle(readHandle_);
        deviceDetected_ = false;
        deviceDetected_ = findTheHid();
        return TESSEL_S_OK;
    }
    platform_.cancel(readHandle_); // the buffer must not be written after we give up on it
    deviceDetected_ = false;
    return TESSEL_S_OK;
}

std::string TesselObject::reverseString(std::string_view s)
{
    return std::string(s.rbegin(), s.rend());
}

} // namespace tessel
