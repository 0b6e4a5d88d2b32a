#pragma once
// The console's view of the USB bridge object: the library's four operations in C++.
// An object is not thread-safe: one thread at a time may call it, and it is released
// where it was used.
#include <QByteArray>
#include <QString>
#include <memory>

namespace plv {

class TesselClient {
public:
    virtual ~TesselClient() = default;
    virtual bool findTheHid() = 0;
    // False when the library refused (no successful search, frame too long, ...).
    virtual bool writeReport(const QByteArray &frame) = 0;
    // One input report's characters; empty after its 1000 ms wait or on failure. Blocks
    // for that wait, and once the unit has gone for a new search behind it as well.
    virtual QByteArray readReport() = 0;
};

// Loads the bridge library by name and creates its class by identity. On failure
// returns nullptr and says why in 'error'.
std::unique_ptr<TesselClient> loadTessel(QString *error);

} // namespace plv
