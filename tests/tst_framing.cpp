// Command frames: the checksum character, and the frame with it (serial, USB) and
// without it (Ethernet).
#include "protocol/framing.h"

#include <QtTest>

using namespace plv;

namespace {

QByteArray hex(const char *spaced) { return QByteArray::fromHex(QByteArray(spaced).replace(' ', "")); }

// The Ethernet form of a serial frame: the same without its checksum character.
QByteArray withoutChecksum(const QByteArray &serialFrame)
{
    QByteArray f = serialFrame;
    f.remove(f.size() - 2, 1);
    return f;
}

} // namespace

class TstFraming : public QObject {
    Q_OBJECT
private slots:
    void framesWithAndWithoutChecksum_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QByteArray>("serialFrame");
        QTest::newRow("status request") << QByteArray("22,") << hex("02 32 32 2C 70 03");
        QTest::newRow("software revision") << QByteArray("23,") << hex("02 32 33 2C 6F 03");
        QTest::newRow("channel A to zero") << QByteArray("10,0,") << hex("02 31 30 2C 30 2C 57 03");
        QTest::newRow("remote on") << QByteArray("99,1,") << hex("02 39 39 2C 31 2C 45 03");
        QTest::newRow("fault flags") << QByteArray("68,") << hex("02 36 38 2C 66 03");
        QTest::newRow("empty payload sums to zero") << QByteArray() << hex("02 40 03");
        QTest::newRow("sum a multiple of 64 gives 0x40") << QByteArray("99,6,") << hex("02 39 39 2C 36 2C 40 03");
        // 256 - 257 is negative: the mask must work on its two's complement (a % would give 0xFF).
        QTest::newRow("sum one past a multiple of 64 gives 0x7F") << QByteArray("99,7,")
                                                                  << hex("02 39 39 2C 37 2C 7F 03");
    }
    void framesWithAndWithoutChecksum()
    {
        QFETCH(QByteArray, payload);
        QFETCH(QByteArray, serialFrame);
        QCOMPARE(frameCommand(payload, true), serialFrame);
        QCOMPARE(frameCommand(payload, false), withoutChecksum(serialFrame));
    }
};

QTEST_APPLESS_MAIN(TstFraming)
#include "tst_framing.moc"
