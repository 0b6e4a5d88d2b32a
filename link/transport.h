#pragma once
// One link to the unit, as every transport presents it: open, close, write a frame,
// a readable signal, an error signal, the bytes waiting and a read. Serial, TCP, USB and
// the tests' scripted link all honour it; the session routes each exchange to the
// chosen one.
#include <QByteArray>
#include <QObject>
#include <QString>

namespace plv {

class Transport : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // Serial and USB are open or not when this returns; TCP starts connecting and
    // reports through isOpen() and settled().
    virtual bool open() = 0;
    virtual bool isOpen() const = 0;
    // Hands one frame to the link; false when it could not be handed over.
    virtual bool send(const QByteArray &frame) = 0;
    virtual qint64 bytesAvailable() const = 0;
    virtual QByteArray read(qint64 maxBytes) = 0;
    virtual QByteArray readAll() { return read(bytesAvailable()); }
    // Drops whatever is waiting to be read.
    virtual void discardInput() { readAll(); }
    // A link that delivers only when asked (USB) starts fetching its next input here,
    // unless a fetch is already on its way; readyRead follows each completed fetch, even
    // one that brought nothing. True while a fetch is on its way. Links that deliver by
    // themselves have nothing to start: false.
    virtual bool requestInput() { return false; }
    virtual void close() = 0;

signals:
    void readyRead();
    void errorOccurred(const QString &description);
};

} // namespace plv
