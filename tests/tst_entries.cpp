// Checks on what the operator or technician types before anything is sent.
#include "protocol/entries.h"
#include "protocol/identity.h"

#include <QtTest>

using namespace plv;

static const QString kFilamentNotNumber = "Enter the filament limit as a number of amperes from 0 to 5.00.";
static const QString kFilamentRange = "The filament limit must lie between 0 and 5.00 A.";
static const QString kSerialError =
    "Enter a port number from 1 to 256, a device name such as ttyUSB0, or a device path such as /dev/ttyUSB0.";

class TstEntries : public QObject {
    Q_OBJECT
private slots:
    void filamentLimitCodes_data();
    void filamentLimitCodes();
    void unitTextChecks_data();
    void unitTextChecks();
    void unitBaudCodes_data();
    void unitBaudCodes();
    void serialPortEntries_data();
    void serialPortEntries();
    void tcpPortEntries_data();
    void tcpPortEntries();
};

// Every check returns either a value and no message, or a message and no value.
template <typename T>
static void verifyShape(const Checked<T> &c)
{
    QCOMPARE(c.value.has_value(), c.error.isEmpty());
}

void TstEntries::filamentLimitCodes_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<int>("code");      // -1: refused
    QTest::addColumn<QString>("error");
    QTest::newRow("5") << "5" << 2047 << "";
    QTest::newRow("5.0") << "5.0" << 2047 << "";
    QTest::newRow("5.00 with blanks") << " 5.00 " << 2047 << "";
    QTest::newRow("2.5") << "2.5" << 1023 << "";
    QTest::newRow("0.001") << "0.001" << 0 << "";
    QTest::newRow("0") << "0" << 0 << "";
    QTest::newRow("1") << "1" << 409 << "";
    QTest::newRow("leading point") << ".05" << 20 << "";
    QTest::newRow("one step exactly above") << "0.0024426" << 1 << "";
    QTest::newRow("just below one step") << "0.0024425" << 0 << "";
    QTest::newRow("long fraction below 5") << "4.99999999999999999999999" << 2046 << "";
    QTest::newRow("leading zeros") << "0004" << 1637 << "";
    QTest::newRow("minus zero") << "-0" << 0 << "";
    QTest::newRow("above 5") << "5.0000001" << -1 << kFilamentRange;
    QTest::newRow("10") << "10" << -1 << kFilamentRange;
    QTest::newRow("huge") << "99999999999999999999" << -1 << kFilamentRange;
    QTest::newRow("negative") << "-0.1" << -1 << kFilamentRange;
    QTest::newRow("empty") << "" << -1 << kFilamentNotNumber;
    QTest::newRow("blank") << "   " << -1 << kFilamentNotNumber;
    QTest::newRow("comma decimal") << "2,5" << -1 << kFilamentNotNumber;
    QTest::newRow("letters") << "2A" << -1 << kFilamentNotNumber;
    QTest::newRow("exponent") << "1e0" << -1 << kFilamentNotNumber;
    QTest::newRow("point only") << "." << -1 << kFilamentNotNumber;
    QTest::newRow("non-ASCII digit") << QString::fromUtf8("\xd9\xa3") << -1 << kFilamentNotNumber;
}

void TstEntries::filamentLimitCodes()
{
    QFETCH(QString, entry);
    QFETCH(int, code);
    QFETCH(QString, error);
    const Checked<int> c = parseFilamentLimit(entry);
    verifyShape(c);
    QCOMPARE(c.value.value_or(-1), code);
    QCOMPARE(c.error, error);
}

void TstEntries::unitTextChecks_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QString>("error");
    QTest::newRow("plain") << "PLV-70 rev B" << QByteArray("PLV-70 rev B") << "";
    QTest::newRow("surrounding blanks trimmed") << "  A1  " << QByteArray("A1") << "";
    QTest::newRow("32 characters") << QString(32, 'x') << QByteArray(32, 'x') << "";
    QTest::newRow("33 characters") << QString(33, 'x') << QByteArray()
                                   << "The model number is too long (at most 32 characters).";
    QTest::newRow("comma") << "A,B" << QByteArray() << "The model number may not contain a comma.";
    QTest::newRow("control character") << "A\tB" << QByteArray()
                                       << "The model number may contain only printable characters.";
    QTest::newRow("non-ASCII") << QString::fromUtf8("A\xc3\xa9") << QByteArray()
                               << "The model number may contain only printable characters.";
    QTest::newRow("DEL") << "A\x7f" "B" << QByteArray() << "The model number may contain only printable characters.";
    QTest::newRow("empty") << "" << QByteArray() << "The model number may not be empty.";
    QTest::newRow("blank") << "  " << QByteArray() << "The model number may not be empty.";
}

void TstEntries::unitTextChecks()
{
    QFETCH(QString, entry);
    QFETCH(QByteArray, value);
    QFETCH(QString, error);
    const Checked<QByteArray> c = checkUnitText(entry, "model number");
    verifyShape(c);
    QCOMPARE(c.value.value_or(QByteArray()), value);
    QCOMPARE(c.error, error);
}

void TstEntries::unitBaudCodes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("code");   // -1: refused
    QTest::newRow("9600") << "9600" << 1;
    QTest::newRow("19,200") << "19,200" << 2;
    QTest::newRow("38,400") << "38,400" << 3;
    QTest::newRow("57,600 with blanks") << " 57,600 " << 4;
    QTest::newRow("115,200") << "115,200" << 5;
    QTest::newRow("without separator") << "19200" << -1;
    QTest::newRow("unlisted") << "4800" << -1;
    QTest::newRow("empty") << "" << -1;
}

void TstEntries::unitBaudCodes()
{
    QFETCH(QString, text);
    QFETCH(int, code);
    QCOMPARE(unitBaudTexts(), (QStringList{"9600", "19,200", "38,400", "57,600", "115,200"}));
    const Checked<int> c = unitBaudCode(text);
    verifyShape(c);
    QCOMPARE(c.value.value_or(-1), code);
    if (!c.value)
        QCOMPARE(c.error, QString("Choose one of the listed rates: 9600, 19,200, 38,400, 57,600 or 115,200."));
}

void TstEntries::serialPortEntries_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("device");   // empty: refused
    QTest::newRow("first port") << "1" << "/dev/ttyS0";
    QTest::newRow("last port") << " 256 " << "/dev/ttyS255";
    QTest::newRow("leading zero") << "02" << "/dev/ttyS1";
    QTest::newRow("port zero") << "0" << "";
    QTest::newRow("port 257") << "257" << "";
    QTest::newRow("overflowing number") << "99999999999999999999" << "";
    QTest::newRow("device name") << "ttyUSB0" << "/dev/ttyUSB0";
    QTest::newRow("bare tty") << "tty" << "";
    QTest::newRow("other name") << "usb0" << "";
    QTest::newRow("device path") << "/dev/ttyACM1" << "/dev/ttyACM1";
    QTest::newRow("by-id path") << "/dev/serial/by-id/usb-FTDI_x.y-if00" << "/dev/serial/by-id/usb-FTDI_x.y-if00";
    QTest::newRow("leaving /dev") << "/dev/../etc/passwd" << "";
    QTest::newRow("dot component") << "/dev/." << "";
    QTest::newRow("directory") << "/dev/" << "";
    QTest::newRow("link outside /dev") << "/tmp/plv-unit" << "/tmp/plv-unit";
    QTest::newRow("relative path") << "dev/ttyS0" << "";
    QTest::newRow("blank inside") << "/dev/tty S0" << "";
    QTest::newRow("empty") << "" << "";
}

void TstEntries::serialPortEntries()
{
    QFETCH(QString, entry);
    QFETCH(QString, device);
    const Checked<QString> c = parseSerialPortEntry(entry);
    verifyShape(c);
    QCOMPARE(c.value.value_or(QString()), device);
    QCOMPARE(c.error, device.isEmpty() ? kSerialError : QString());
}

void TstEntries::tcpPortEntries_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<int>("port");   // -1: refused
    QTest::newRow("lowest") << "1" << 1;
    QTest::newRow("highest with blanks") << " 65535 " << 65535;
    QTest::newRow("zero") << "0" << -1;
    QTest::newRow("too high") << "65536" << -1;
    QTest::newRow("signed") << "+80" << -1;
    QTest::newRow("decimal") << "80.0" << -1;
    QTest::newRow("huge") << "123456789012345" << -1;
    QTest::newRow("empty") << "" << -1;
}

void TstEntries::tcpPortEntries()
{
    QFETCH(QString, entry);
    QFETCH(int, port);
    const Checked<quint16> c = parseTcpPort(entry);
    verifyShape(c);
    QCOMPARE(c.value ? int(*c.value) : -1, port);
    if (!c.value)
        QCOMPARE(c.error, QString("Enter a port number from 1 to 65535."));
}

QTEST_GUILESS_MAIN(TstEntries)
#include "tst_entries.moc"
