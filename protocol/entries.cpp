#include "protocol/entries.h"

#include <QRegularExpression>

namespace plv {

QString serialDeviceForNumber(int n) { return QStringLiteral("/dev/ttyS%1").arg(n - 1); }

Checked<QString> parseSerialPortEntry(const QString &entry)
{
    static const QRegularExpression number(QRegularExpression::anchoredPattern(QStringLiteral("[0-9]+")));
    static const QRegularExpression name(QRegularExpression::anchoredPattern(QStringLiteral("tty[A-Za-z0-9]+")));
    static const QRegularExpression path(
        QRegularExpression::anchoredPattern(QStringLiteral("/[A-Za-z0-9/_.-]*[A-Za-z0-9_.-]")));
    const QString t = entry.trimmed();

    if (number.match(t).hasMatch()) {
        bool ok = false;
        const int n = t.toInt(&ok);
        if (ok && n >= 1 && n <= 256)
            return {serialDeviceForNumber(n), {}};
    } else if (name.match(t).hasMatch()) {
        return {QStringLiteral("/dev/") + t, {}};
    } else if (path.match(t).hasMatch()) {
        // Any absolute path (a pseudo-terminal link of the simulated unit lives in /tmp);
        // "." and ".." are refused so the entry names a device, not a directory.
        const QStringList parts = t.split(QLatin1Char('/'));
        if (!parts.contains(QLatin1String("..")) && !parts.contains(QLatin1String(".")))
            return {t, {}};
    }
    return {std::nullopt, QStringLiteral("Enter a port number from 1 to 256, a device name such as ttyUSB0, "
                                         "or a device path such as /dev/ttyUSB0.")};
}

Checked<quint16> parseTcpPort(const QString &entry)
{
    static const QRegularExpression number(QRegularExpression::anchoredPattern(QStringLiteral("[0-9]+")));
    const QString t = entry.trimmed();
    bool ok = false;
    const int n = number.match(t).hasMatch() ? t.toInt(&ok) : 0;
    if (!ok || n < 1 || n > 65535)
        return {std::nullopt, QStringLiteral("Enter a port number from 1 to 65535.")};
    return {quint16(n), {}};
}

} // namespace plv
