#pragma once
// What the operator types when choosing a link.
#include "protocol/identity.h"
#include <QString>

namespace plv {

// COMM USER: a port number N (1..256) names /dev/ttyS(N-1); a device name such as
// "ttyUSB0" names /dev/ttyUSB0; an absolute path (a device or a link to one) is
// taken as it is.
Checked<QString> parseSerialPortEntry(const QString &entry);
QString serialDeviceForNumber(int n);   // 1 -> "/dev/ttyS0"

// Remote Host port: a whole number 1..65535.
Checked<quint16> parseTcpPort(const QString &entry);

} // namespace plv
