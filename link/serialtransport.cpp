#include "link/serialtransport.h"

#include <QStringList>

namespace plv {

SerialTransport::SerialTransport(QObject *parent) : Transport(parent)
{
    m_port.setReadBufferSize(1024);
    m_port.setBaudRate(115200);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    connect(&m_port, &QSerialPort::readyRead, this, &Transport::readyRead);
    connect(&m_port, &QSerialPort::errorOccurred, this, &SerialTransport::onError);
}

void SerialTransport::setPortName(const QString &device)
{
    m_port.setPortName(device);
    m_portName = m_port.portName();   // worked out from the device path at each call
}

bool SerialTransport::setSettings(const QString &settings)
{
    const QStringList parts = settings.split(QLatin1Char(','));
    bool ok = false;
    const int rate = parts.value(0).toInt(&ok);
    if (!ok || rate <= 0)
        return false;
    m_settings = settings;
    m_port.setBaudRate(rate);
    return true;
}

bool SerialTransport::open()
{
    if (m_port.isOpen())
        m_port.close();
    return m_port.open(QIODevice::ReadWrite);
}

bool SerialTransport::send(const QByteArray &frame)
{
    if (!m_port.isOpen())
        return false;
    const bool ok = m_port.write(frame) == frame.size();
    // QSerialPort writes from the event loop; the reply wait would first handle
    // whatever else is queued (repaints among it). Out now, like the TCP link.
    m_port.flush();
    return ok;
}

QByteArray SerialTransport::read(qint64 maxBytes)
{
    if (!m_port.isOpen() || maxBytes <= 0)
        return {};
    return m_port.read(maxBytes);
}

void SerialTransport::discardInput()
{
    if (!m_port.isOpen())
        return;
    m_port.readAll();
    m_port.clear(QSerialPort::Input);
}

void SerialTransport::close()
{
    if (!m_port.isOpen())
        return;
    // A frame still in the write buffer (the shutdown's last zeroing command) would be
    // dropped by closing: let it go first. 8 bytes take a few ms even at 9600 baud.
    if (m_port.bytesToWrite() > 0)
        m_port.waitForBytesWritten(200);
    m_port.close();
}

void SerialTransport::onError(QSerialPort::SerialPortError e)
{
    // A vanished line makes every read fail at once, over and over: close the port and
    // let the watchdog reopen it instead of spinning.
    if (e != QSerialPort::NoError)
        emit errorOccurred(m_port.errorString());
    if (e == QSerialPort::ResourceError || e == QSerialPort::ReadError || e == QSerialPort::PermissionError) {
        if (m_port.isOpen())
            m_port.close();
    }
}

} // namespace plv
