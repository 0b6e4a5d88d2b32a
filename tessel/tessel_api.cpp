// The C boundary. Only the functions declared in tessel.h leave the library, and no
// exception crosses it: every entry turns one into TESSEL_E_FAIL.
#pragma GCC visibility push(default)
#include "tessel.h"
#pragma GCC visibility pop

#include "hidapi_platform.h"
#include "tessel_core.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <type_traits>

namespace {

using tessel::HidapiPlatform;
using tessel::TesselObject;

std::atomic<int> liveObjects{0};

struct State {
    HidapiPlatform platform;
    TesselObject core{platform};
};

// The interface must be the first member so a Tessel* is also a TesselInstance*.
struct TesselInstance {
    Tessel iface;
    std::atomic<std::uint32_t> refs;
    State *state;
};
static_assert(std::is_standard_layout_v<TesselInstance>);

State *stateOf(Tessel *self)
{
    return self ? reinterpret_cast<TesselInstance *>(self)->state : nullptr;
}

// Characters plus a terminating NUL into the caller's buffer.
TesselResult deliver(const std::string &text, char *out, int32_t outSize, int32_t *outLen)
{
    const auto needed = static_cast<int32_t>(text.size());
    *outLen = needed;
    if (outSize <= needed)
        return TESSEL_E_BUFFER;
    std::memcpy(out, text.data(), text.size());
    out[text.size()] = '\0';
    return TESSEL_S_OK;
}

uint32_t addRef(Tessel *self)
{
    if (!self)
        return 0;
    return ++reinterpret_cast<TesselInstance *>(self)->refs;
}

uint32_t release(Tessel *self)
{
    if (!self)
        return 0;
    auto *instance = reinterpret_cast<TesselInstance *>(self);
    const uint32_t left = --instance->refs;
    if (left == 0) {
        delete instance->state; // destructors don't throw: nothing can escape here
        delete instance;
        --liveObjects;
    }
    return left;
}

TesselResult reverseString(Tessel *self, const char *someString, int32_t len, char *out,
                           int32_t outSize, int32_t *outLen)
{
    try {
        if (!stateOf(self) || (!someString && len > 0) || !out || !outLen)
            return TESSEL_E_POINTER;
        if (len < 0)
            return TESSEL_E_RANGE;
        return deliver(TesselObject::reverseString({someString, std::size_t(len)}), out, outSize, outLen);
    } catch (...) {
        return TESSEL_E_FAIL;
    }
}

TesselResult findTheHid(Tessel *self, int16_t *found)
{
    try {
        State *s = stateOf(self);
        if (!s || !found)
            return TESSEL_E_POINTER;
        *found = s->core.findTheHid() ? -1 : 0;
        return TESSEL_S_OK;
    } catch (...) {
        return TESSEL_E_FAIL;
    }
}

TesselResult writeReport(Tessel *self, const char *output, int32_t len)
{
    try {
        State *s = stateOf(self);
        if (!s || (!output && len > 0))
            return TESSEL_E_POINTER;
        if (len < 0)
            return TESSEL_E_RANGE;
        return s->core.writeReport({output, std::size_t(len)});
    } catch (...) {
        return TESSEL_E_FAIL;
    }
}

TesselResult readReport(Tessel *self, char *out, int32_t outSize, int32_t *outLen)
{
    try {
        State *s = stateOf(self);
        if (!s || !out || !outLen)
            return TESSEL_E_POINTER;
        const int32_t reportLength = s->core.inputReportByteLength();
        if (reportLength == 0)
            return TESSEL_E_NOTREADY;
        // Refused before reading: a report read into too small a buffer would be lost.
        if (outSize < reportLength) {
            *outLen = reportLength - 1;
            return TESSEL_E_BUFFER;
        }
        std::string text;
        const TesselResult r = s->core.readReport(text);
        if (r != TESSEL_S_OK)
            return r;
        return deliver(text, out, outSize, outLen);
    } catch (...) {
        return TESSEL_E_FAIL;
    }
}

const TesselVtbl vtbl = {addRef, release, reverseString, findTheHid, writeReport, readReport};

bool sameIdentity(const char *a, const char *b)
{
    for (; *a && *b; ++a, ++b) {
        const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
        if (lower(*a) != lower(*b))
            return false;
    }
    return *a == *b;
}

} // namespace

extern "C" {

TesselResult DllGetClassObject(const char *clsid, const char *iid, void **object)
{
    try {
        if (!object)
            return TESSEL_E_POINTER;
        *object = nullptr;
        if (!clsid || !iid)
            return TESSEL_E_POINTER;
        if (!sameIdentity(clsid, TESSEL_CLSID) || !sameIdentity(iid, TESSEL_IID))
            return TESSEL_E_NOINTERFACE;
        auto state = std::make_unique<State>();
        auto *instance = new TesselInstance{{&vtbl}, {1}, state.release()};
        ++liveObjects;
        *object = &instance->iface;
        return TESSEL_S_OK;
    } catch (...) {
        return TESSEL_E_FAIL;
    }
}

TesselResult DllCanUnloadNow(void)
{
    return liveObjects.load() == 0 ? TESSEL_S_OK : TESSEL_S_FALSE;
}

TesselResult DllRegisterServer(void)
{
    return TESSEL_S_OK;
}

TesselResult DllUnregisterServer(void)
{
    return TESSEL_S_OK;
}

} // extern "C"
