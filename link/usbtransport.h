#pragma once
#include "link/tesselclient.h"
#include "link/transport.h"
#include <memory>

namespace plv {

// The USB link through the bridge object. Nothing arrives by itself: the reply wait
// polls read(), and each poll may block in the library for its own read wait.
class UsbTransport : public Transport {
    Q_OBJECT
public:
    explicit UsbTransport(QObject *parent = nullptr) : Transport(parent) {}

    // The bridge object, created once at start-up and held until the console ends.
    void setClient(std::unique_ptr<TesselClient> tessel) { m_tessel = std::move(tessel); m_found = false; }

    bool libraryLoaded() const { return m_tessel != nullptr; }
    // FindTheHid; remembers the answer.
    bool find() { m_found = m_tessel && m_tessel->findTheHid(); return m_found; }
    bool open() override { return find(); }

    bool isOpen() const override { return m_found; }
    // Nothing goes out before a successful search or after close().
    bool send(const QByteArray &frame) override { return m_found && m_tessel->writeReport(frame); }
    qint64 bytesAvailable() const override { return 0; }
    QByteArray read(qint64) override { return m_tessel ? m_tessel->readReport() : QByteArray(); }
    // The bridge has no call to close its device: the link just stops using it.
    void close() override { m_found = false; }

private:
    std::unique_ptr<TesselClient> m_tessel;
    bool m_found = false;
};

} // namespace plv
