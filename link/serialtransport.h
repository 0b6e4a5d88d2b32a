#pragma once
#include "link/transport.h"
#include <QSerialPort>

namespace plv {

// RS-232 through QSerialPort. The receive buffer is bounded like the unit's original
// 1024-character buffer, so a flood cannot grow memory.
class SerialTransport : public Transport {
    Q_OBJECT
public:
    explicit SerialTransport(QObject *parent = nullptr);

    void setPortName(const QString &device);
    QString portName() const { return m_portName; }
    // "115200,n,8,1"
    bool setSettings(const QString &settings);
    QString settings() const { return m_settings; }
    bool open() override;

    bool isOpen() const override { return m_port.isOpen(); }
    bool send(const QByteArray &frame) override;
    qint64 bytesAvailable() const override { return m_port.isOpen() ? m_port.bytesAvailable() : 0; }
    QByteArray read(qint64 maxBytes) override;
    void discardInput() override;
    void close() override;

    QSerialPort &port() { return m_port; }

private:
    void onError(QSerialPort::SerialPortError e);
    QSerialPort m_port;
    QString m_portName;
    QString m_settings = QStringLiteral("115200,n,8,1");
};

} // namespace plv
