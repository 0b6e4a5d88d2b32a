#pragma once
#include "link/tesselclient.h"
#include "link/transport.h"
#include <functional>
#include <memory>
#include <thread>

namespace plv {

// The USB link through the bridge object. The bridge's read blocks for up to a second
// when the unit is silent, so every bridge call is made on a worker thread the link owns,
// one call at a time (the bridge is not thread-safe). Nothing arrives by itself: the
// reply wait asks for each read through requestInput(), and readyRead follows its
// completion.
class UsbTransport : public Transport {
    Q_OBJECT
public:
    explicit UsbTransport(QObject *parent = nullptr);
    ~UsbTransport() override;

    // The bridge object, created once at start-up and held until the console ends.
    void setClient(std::unique_ptr<TesselClient> tessel);

    bool libraryLoaded() const { return m_loaded; }
    // FindTheHid; remembers the answer. Blocks the caller for the search.
    bool find();
    bool open() override { return find(); }

    bool isOpen() const override { return m_found; }
    // Nothing goes out before a successful search or after close(). Returns once the
    // bridge has taken the frame.
    bool send(const QByteArray &frame) override;
    qint64 bytesAvailable() const override { return m_received.size(); }
    QByteArray read(qint64 maxBytes) override;
    // Starts one bridge read unless one is running; none once closed or before a
    // successful search.
    bool requestInput() override;
    // The bridge has no call to close its device: the link just stops using it.
    void close() override;

    struct Shared;   // what the link and its worker thread share

private:
    // Runs 'op' on the worker with the bridge slot and returns its answer; the caller
    // waits meanwhile.
    bool onWorker(const std::function<bool(std::unique_ptr<TesselClient> &)> &op);
    void readFinished(const QByteArray &report);

    std::shared_ptr<Shared> m_shared;   // null until a bridge is handed in
    std::thread m_worker;
    QByteArray m_received;   // what completed reads brought, not yet read
    bool m_loaded = false;
    bool m_found = false;
    bool m_reading = false;  // a bridge read is on its way
};

} // namespace plv
