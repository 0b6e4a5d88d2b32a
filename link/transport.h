#pragma once
// One link to the unit. Serial and TCP deliver data as it arrives (readyRead);
// the USB link is polled through the bridge library.
#include <QByteArray>
#include <QObject>

namespace plv {

class Transport : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    virtual bool isOpen() const = 0;
    // Hands one frame to the link; false when it could not be handed over.
    virtual bool send(const QByteArray &frame) = 0;
    virtual qint64 bytesAvailable() const = 0;
    virtual QByteArray read(qint64 maxBytes) = 0;
    virtual QByteArray readAll() { return read(bytesAvailable()); }
    // Drops whatever is waiting to be read.
    virtual void discardInput() { readAll(); }
    virtual void close() = 0;

signals:
    void readyRead();
};

} // namespace plv
