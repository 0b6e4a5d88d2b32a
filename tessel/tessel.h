/* TESSEL: the USB HID bridge to the power-supply unit.
 *
 * A plain C boundary: the library is loaded by name (dlopen) and its one class is
 * created by class identity through DllGetClassObject. Only text crosses; the caller
 * owns every buffer it passes and receives. No C++ exception ever leaves the library:
 * every failure is a negative result code.
 */
#ifndef TESSEL_H
#define TESSEL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define TESSEL_LIBRARY_NAME "libTESSEL.so.1"

/* Fixed identities. A client asks for the class Tessel with its interface _Tessel. */
#define TESSEL_TYPELIB_ID "{5B0E7C4A-2D9F-4E61-A3B8-71C6F0D29A10}"
#define TESSEL_CLSID      "{5B0E7C4A-2D9F-4E61-A3B8-71C6F0D29A11}"
#define TESSEL_IID        "{5B0E7C4A-2D9F-4E61-A3B8-71C6F0D29A12}"

typedef int32_t TesselResult;
#define TESSEL_S_OK          0
#define TESSEL_S_FALSE       1
#define TESSEL_E_FAIL        (-1)  /* a platform call failed */
#define TESSEL_E_NOTREADY    (-2)  /* no successful FindTheHid yet: report lengths unknown */
#define TESSEL_E_RANGE       (-3)  /* frame over 65 characters, or output report over 66 bytes */
#define TESSEL_E_POINTER     (-4)  /* a null pointer where one is needed */
#define TESSEL_E_BUFFER      (-5)  /* the caller's output buffer is too small */
#define TESSEL_E_NOINTERFACE (-6)  /* identities this library does not serve */

/* USB identity of the unit. */
#define TESSEL_VENDOR_ID  0x1200
#define TESSEL_PRODUCT_ID 0x0001

typedef struct Tessel Tessel;

/* The _Tessel interface: reference counting, then the four methods in this order. */
typedef struct TesselVtbl {
    uint32_t (*AddRef)(Tessel *self);
    uint32_t (*Release)(Tessel *self);
    /* Characters of someString (len bytes) in reverse order into out, NUL-terminated.
     * *outLen is the character count, also when out is too small (TESSEL_E_BUFFER). */
    TesselResult (*ReverseString)(Tessel *self, const char *someString, int32_t len,
                                  char *out, int32_t outSize, int32_t *outLen);
    /* Searches the present HID interfaces for the unit; *found = -1 when found, else 0. */
    TesselResult (*FindTheHid)(Tessel *self, int16_t *found);
    /* Sends one frame (len bytes) as one output report. */
    TesselResult (*WriteReport)(Tessel *self, const char *output, int32_t len);
    /* Waits up to 1000 ms for one input report; its non-zero data bytes into out,
     * NUL-terminated. out must hold the input report length (refused before reading
     * otherwise, so no report is lost). A time-out gives empty text and a new search. */
    TesselResult (*ReadReport)(Tessel *self, char *out, int32_t outSize, int32_t *outLen);
} TesselVtbl;

struct Tessel {
    const TesselVtbl *vtbl;
};

/* Creates a new object for (clsid, iid); *object is NULL and the result
 * TESSEL_E_NOINTERFACE for identities it does not serve. */
TesselResult DllGetClassObject(const char *clsid, const char *iid, void **object);
/* S_FALSE while any object lives. */
TesselResult DllCanUnloadNow(void);
/* Nothing to register on this platform: both succeed without effect. */
TesselResult DllRegisterServer(void);
TesselResult DllUnregisterServer(void);

typedef TesselResult (*TesselGetClassObjectFn)(const char *, const char *, void **);

#ifdef __cplusplus
}
#endif

#endif
