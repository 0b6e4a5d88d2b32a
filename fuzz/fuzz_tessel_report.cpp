// The bridge's report packing and unpacking against the scripted HID platform of the
// tests: devices with any report lengths, frames of any length, reports of any content,
// time-outs and unplugging in any order.
#include "fuzzsupport.h"

#include "tessel_core.h"
#include "../tests/tessel/fakehidplatform.h"

#include <string>

using tessel::TesselObject;

namespace {

std::uint16_t reportLength(fuzz::Reader &in)
{
    // Mostly the small lengths real units have, sometimes anything.
    const std::uint8_t b = in.u8();
    return b & 0x80 ? in.u16() : std::uint16_t(b & 0x7F);
}

void checkWrite(TesselObject &obj, FakeHidPlatform &hid, const std::string &frame)
{
    const std::size_t n = obj.outputReportByteLength();
    const std::size_t before = hid.written.size();
    const TesselResult r = obj.writeReport(frame);
    if (n == 0) {
        FUZZ_CHECK(r == TESSEL_E_NOTREADY && hid.written.size() == before);
        return;
    }
    if (frame.size() > tessel::kMaxFrameLength || n > tessel::kMaxOutputReportLength) {
        FUZZ_CHECK(r == TESSEL_E_RANGE && hid.written.size() == before);
        return;
    }
    FUZZ_CHECK(r == TESSEL_S_OK);
    if (obj.hidHandle() == tessel::HidHandle::None) {
        FUZZ_CHECK(hid.written.size() == before);
        return;
    }
    // Exactly one report of exactly the output length: ID byte 0, the frame, zeros after
    // it (never the tail of an earlier, longer frame), cut at the report's end.
    FUZZ_CHECK(hid.written.size() == before + 1);
    const QByteArray &report = hid.written.back();
    FUZZ_CHECK(std::size_t(report.size()) == n);
    FUZZ_CHECK(report.at(0) == 0);
    for (std::size_t i = 1; i < n; ++i)
        FUZZ_CHECK(report.at(qsizetype(i)) == (i - 1 < frame.size() ? frame[i - 1] : '\0'));
}

void checkRead(TesselObject &obj, FakeHidPlatform &hid)
{
    const std::size_t m = obj.inputReportByteLength();
    const std::size_t scripted = hid.reads.size();
    const FakeRead next = scripted ? hid.reads.front() : FakeRead{};
    const int callsBefore = hid.readCalls;
    std::string text = "stale";
    const TesselResult r = obj.readReport(text);

    FUZZ_CHECK(text.find('\0') == std::string::npos);
    if (m == 0) {
        FUZZ_CHECK(r == TESSEL_E_NOTREADY && text.empty() && hid.readCalls == callsBefore);
        return;
    }
    FUZZ_CHECK(r == TESSEL_S_OK);
    FUZZ_CHECK(text.size() < m);
    const bool consumed = scripted && hid.reads.size() == scripted - 1;
    if (!consumed || next.report.isEmpty()) {
        FUZZ_CHECK(text.empty());
        return;
    }
    // The report's non-zero data bytes, after its ID byte, up to the input length.
    std::string expected;
    const qsizetype end = std::min<qsizetype>(next.report.size(), qsizetype(m));
    for (qsizetype i = 1; i < end; ++i)
        if (next.report.at(i) != 0)
            expected.push_back(next.report.at(i));
    FUZZ_CHECK(text == expected);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzz::Reader in(data, size);
    FakeHidPlatform hid;
    const int devices = in.u8() % 4;
    for (int i = 0; i < devices; ++i) {
        FakeDevice d;
        d.path = "/dev/hidraw" + std::to_string(i);
        if (in.u8() & 1) {
            d.vendor = in.u16();
            d.product = in.u16();
        }
        d.inputLen = reportLength(in);
        d.outputLen = reportLength(in);
        hid.devices.push_back(d);
    }

    {
        TesselObject obj(hid);
        for (int step = 0; step < 64 && !in.empty(); ++step) {
            switch (in.u8() % 5) {
            case 0: {
                const bool found = obj.findTheHid();
                FUZZ_CHECK(found == obj.deviceDetected() && obj.enumerationDone() != found);
                break;
            }
            case 1: checkWrite(obj, hid, in.bytes(80)); break;
            case 2: {
                FakeRead read;
                const std::uint8_t kind = in.u8();
                read.unplugAll = kind & 0x80;
                switch (kind % 4) {
                case 0: {
                    const std::string bytes = in.bytes(200);
                    read.report = QByteArray(bytes.data(), qsizetype(bytes.size()));
                    break;
                }
                case 1: read.result = tessel::kReadTimedOut; break;
                case 2: read.result = tessel::kReadDeviceGone; break;
                default: read.result = tessel::kReadFailed; break;
                }
                hid.reads.push_back(read);
                checkRead(obj, hid);
                hid.reads.clear();
                break;
            }
            case 3:
                if (!hid.devices.empty()) {
                    auto &d = hid.devices[in.u8() % hid.devices.size()];
                    d.present = !d.present;
                }
                break;
            default: checkRead(obj, hid); break;   // nothing scripted: a time-out
            }
            FUZZ_CHECK(hid.liveEnumerations == 0);   // never held past a search
        }
    }
    // No handle was used or closed that was not open.
    if (!hid.faults.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(hid.faults.join(QLatin1Char('\n'))));
        FUZZ_CHECK(hid.faults.isEmpty());
    }
    return 0;
}
