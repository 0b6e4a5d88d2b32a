// A scripted HID world for TesselObject: devices come and go, reads follow a script,
// and every misuse of a handle is recorded as a fault for the test to fail on.
#ifndef FAKEHIDPLATFORM_H
#define FAKEHIDPLATFORM_H

#include "hidplatform.h"

#include <QByteArray>
#include <QStringList>

#include <cstring>
#include <deque>
#include <map>
#include <vector>

struct FakeDevice {
    std::string path;
    std::uint16_t vendor = 0x1200;
    std::uint16_t product = 0x0001;
    std::uint16_t inputLen = 65;
    std::uint16_t outputLen = 65;
    bool present = true;
};

struct FakeRead {
    int result = tessel::kReadTimedOut; // used when report is empty
    QByteArray report;
    bool unplugAll = false; // the read is what notices the unit has gone
};

class FakeHidPlatform final : public tessel::HidPlatform {
public:
    std::vector<FakeDevice> devices;
    std::deque<FakeRead> reads; // an exhausted script times out

    int enumerations = 0;
    int liveEnumerations = 0;
    std::vector<std::string> opened;   // paths, in order of open
    std::vector<QByteArray> written;   // reports as written
    int readCalls = 0;
    int clockMs = 0; // time spent blocked in reads and waits; nothing really sleeps
    int cancels = 0;
    std::map<tessel::HidHandle, int> closes;
    QStringList faults;

    struct Open {
        std::string path;
    };
    std::map<tessel::HidHandle, Open> open_; // currently open

    int ioCalls() const { return int(written.size()) + readCalls; }

    std::unique_ptr<tessel::HidInterfaceList> enumerateInterfaces() override
    {
        ++enumerations;
        std::vector<std::string> paths;
        for (const auto &d : devices)
            if (d.present)
                paths.push_back(d.path);
        return std::make_unique<List>(*this, std::move(paths));
    }

    tessel::HidHandle open(const std::string &path) override
    {
        if (!device(path))
            return tessel::HidHandle::None;
        const tessel::HidHandle h{++last_};
        open_[h] = {path};
        opened.push_back(path);
        return h;
    }

    bool getAttributes(tessel::HidHandle h, std::uint16_t &vendor, std::uint16_t &product) override
    {
        const FakeDevice *d = deviceOf(h, "getAttributes");
        if (!d)
            return false;
        vendor = d->vendor;
        product = d->product;
        return true;
    }

    bool getReportLengths(tessel::HidHandle h, std::uint16_t &in, std::uint16_t &out) override
    {
        const FakeDevice *d = deviceOf(h, "getReportLengths");
        if (!d)
            return false;
        in = d->inputLen;
        out = d->outputLen;
        return true;
    }

    int write(tessel::HidHandle h, const std::uint8_t *data, std::size_t len) override
    {
        written.push_back(QByteArray(reinterpret_cast<const char *>(data), qsizetype(len)));
        return deviceOf(h, "write") ? int(len) : -1;
    }

    int read(tessel::HidHandle h, std::uint8_t *buf, std::size_t len, int timeoutMs) override
    {
        ++readCalls;
        if (!deviceOf(h, "read"))
            return tessel::kReadDeviceGone;
        if (reads.empty()) {
            clockMs += timeoutMs;
            return tessel::kReadTimedOut;
        }
        const FakeRead step = reads.front();
        reads.pop_front();
        if (step.unplugAll)
            for (auto &d : devices)
                d.present = false;
        if (step.report.isEmpty()) {
            if (step.result == tessel::kReadTimedOut)
                clockMs += timeoutMs;
            return step.result;
        }
        // Delivered whole, never cut to fit: cutting a long report to the input length
        // is the library's job, and a fake that did it would test itself.
        const std::size_t n = std::size_t(step.report.size());
        if (n > len) {
            faults << QStringLiteral("report of %1 bytes read into a buffer of %2").arg(n).arg(len);
            return tessel::kReadFailed;
        }
        std::memcpy(buf, step.report.constData(), n);
        return int(n);
    }

    void wait(int ms) override { clockMs += ms; }

    void cancel(tessel::HidHandle h) override
    {
        ++cancels;
        deviceOf(h, "cancel");
    }

    void close(tessel::HidHandle h) override
    {
        ++closes[h];
        if (!open_.erase(h))
            faults << QStringLiteral("close of handle %1 that is not open").arg(quint64(h));
    }

private:
    class List final : public tessel::HidInterfaceList {
    public:
        List(FakeHidPlatform &p, std::vector<std::string> paths) : p_(p), paths_(std::move(paths))
        {
            ++p_.liveEnumerations;
        }
        ~List() override { --p_.liveEnumerations; }
        bool pathAt(std::size_t i, std::string &path) const override
        {
            if (i >= paths_.size())
                return false;
            path = paths_[i];
            return true;
        }

    private:
        FakeHidPlatform &p_;
        std::vector<std::string> paths_;
    };

    FakeDevice *device(const std::string &path)
    {
        for (auto &d : devices)
            if (d.path == path && d.present)
                return &d;
        return nullptr;
    }

    // The device behind an open handle; a handle that isn't open is a fault, a device
    // that has gone is not (the handle is merely dead).
    FakeDevice *deviceOf(tessel::HidHandle h, const char *what)
    {
        const auto it = open_.find(h);
        if (it == open_.end()) {
            faults << QStringLiteral("%1 on handle %2 that is not open").arg(what).arg(quint64(h));
            return nullptr;
        }
        return device(it->second.path);
    }

    std::uint64_t last_ = 0;
};

#endif
