// Reply decoders, monitor texts and identity values.
#include "protocol/decode.h"
#include "protocol/identity.h"

#include <QtTest>

using namespace plv;

// Flags as one character each: '1' true, '0' false, '?' unknown.
template <size_t N>
static QString flagText(const std::array<std::optional<bool>, N> &flags)
{
    QString s;
    for (const auto &f : flags)
        s += f ? (*f ? '1' : '0') : '?';
    return s;
}

class TstDecode : public QObject {
    Q_OBJECT
private slots:
    void charAtIsOneBasedAndSafe_data();
    void charAtIsOneBasedAndSafe();
    void mainStatusReadsFourFlags_data();
    void mainStatusReadsFourFlags();
    void faultFlagsReadSixFlags_data();
    void faultFlagsReadSixFlags();
    void cutFieldsKeepsOnlyClosedFields_data();
    void cutFieldsKeepsOnlyClosedFields();
    void parseNumberAcceptsOnlyPlainDecimals_data();
    void parseNumberAcceptsOnlyPlainDecimals();
    void monitorTexts_data();
    void monitorTexts();
    void revisionValueCutsFromPositionFive_data();
    void revisionValueCutsFromPositionFive();
    void modelNumberAddsCapitalXPart_data();
    void modelNumberAddsCapitalXPart();
    void totalHoursNeedsClosingComma_data();
    void totalHoursNeedsClosingComma();
};

void TstDecode::charAtIsOneBasedAndSafe_data()
{
    QTest::addColumn<int>("pos");
    QTest::addColumn<char>("c");
    QTest::newRow("STX first") << 1 << '\x02';
    QTest::newRow("last") << 4 << ',';
    QTest::newRow("past end") << 5 << '\0';
    QTest::newRow("zero") << 0 << '\0';
    QTest::newRow("negative") << -3 << '\0';
}

void TstDecode::charAtIsOneBasedAndSafe()
{
    QFETCH(int, pos);
    QFETCH(char, c);
    QCOMPARE(charAt(QByteArray("\x02" "22,"), pos), c);
}

void TstDecode::mainStatusReadsFourFlags_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("flags");   // hv, interlock open, fault, remote
    QTest::newRow("full frame") << QByteArray("\x02" "22,1,0,0,1,\x03") << "1001";
    QTest::newRow("all set") << QByteArray("\x02" "22,1,1,1,1,") << "1111";
    QTest::newRow("shifted by a two-digit field") << QByteArray("\x02" "22,10,0,0,0,") << "1???";
    QTest::newRow("cut after fault") << QByteArray("\x02" "22,0,0,1") << "001?";
    QTest::newRow("empty") << QByteArray() << "????";
}

void TstDecode::mainStatusReadsFourFlags()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, flags);
    const MainStatus s = decodeMainStatus(reply);
    QCOMPARE(flagText(std::array{s.hvOn, s.interlockOpen, s.fault, s.remote}), flags);
}

void TstDecode::faultFlagsReadSixFlags_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("flags");   // arc, temp, OV, UV, OC, UC
    QTest::newRow("none") << QByteArray("\x02" "68,0,0,0,0,0,0,\x03") << "000000";
    QTest::newRow("arc and under current") << QByteArray("\x02" "68,1,0,0,0,0,1,\x03") << "100001";
    QTest::newRow("ends after position 9") << QByteArray("\x02" "68,0,1,1") << "011???";
    QTest::newRow("garbage flag") << QByteArray("\x02" "68,0,x,0,0,0,0,") << "0?0000";
}

void TstDecode::faultFlagsReadSixFlags()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, flags);
    QCOMPARE(flagText(decodeFaultFlags(reply)), flags);
}

void TstDecode::cutFieldsKeepsOnlyClosedFields_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("max");
    QTest::addColumn<QList<QByteArray>>("fields");
    QTest::newRow("three closed") << QByteArray("\x02" "19,4095,2048,1000,\x03") << 8 << QList<QByteArray>{"4095", "2048", "1000"};
    QTest::newRow("last unclosed dropped") << QByteArray("\x02" "19,4095,2048") << 8 << QList<QByteArray>{"4095"};
    QTest::newRow("limited by max") << QByteArray("\x02" "19,1,2,3,") << 2 << QList<QByteArray>{"1", "2"};
    QTest::newRow("empty field kept") << QByteArray("\x02" "19,,7,") << 8 << QList<QByteArray>{"", "7"};
    QTest::newRow("shorter than five") << QByteArray("\x02" "19") << 8 << QList<QByteArray>{};
    QTest::newRow("no fields wanted") << QByteArray("\x02" "19,1,") << 0 << QList<QByteArray>{};
}

void TstDecode::cutFieldsKeepsOnlyClosedFields()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, max);
    QFETCH(QList<QByteArray>, fields);
    QCOMPARE(cutFields(reply, max), fields);
}

void TstDecode::parseNumberAcceptsOnlyPlainDecimals_data()
{
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<double>("value");
    QTest::newRow("integer") << QByteArray("12") << true << 12.0;
    QTest::newRow("blanks around") << QByteArray(" 12 ") << true << 12.0;
    QTest::newRow("minus") << QByteArray("-3") << true << -3.0;
    QTest::newRow("plus") << QByteArray("+4") << true << 4.0;
    QTest::newRow("decimal") << QByteArray("2.5") << true << 2.5;
    QTest::newRow("leading point") << QByteArray(".5") << true << 0.5;
    QTest::newRow("trailing point") << QByteArray("5.") << true << 5.0;
    for (const char *bad : {"", " ", "-", ".", "abc", "12a", "1e3", "inf", "nan", "0x10", "1 2", "1.2.3", "--1", "1,5", "- 1"})
        QTest::addRow("refuses \"%s\"", bad) << QByteArray(bad) << false << 0.0;
}

void TstDecode::parseNumberAcceptsOnlyPlainDecimals()
{
    QFETCH(QByteArray, field);
    QFETCH(bool, ok);
    QFETCH(double, value);
    const auto n = parseNumber(field);
    QCOMPARE(n.has_value(), ok);
    if (n)
        QCOMPARE(*n, value);
}

void TstDecode::monitorTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("kV full scale") << kvMonitorText(4095, 17.094) << "70.00 kV";
    QTest::newRow("mA half scale") << maMonitorText(2048, 600.0 / 70 / 4095) << "4.29 mA";
    QTest::newRow("filament") << filamentMonitorText(1000) << "1.221 A";
    QTest::newRow("supply nominal") << supplyText(1562) << "-15.00 V";
    QTest::newRow("supply beyond zero keeps both minus signs") << supplyText(4000) << "--.17 V";
    QTest::newRow("raw small") << rawChannelText(25) << "25.0";
    QTest::newRow("raw large") << rawChannelText(3000) << "3000.0";
}

void TstDecode::monitorTexts()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(text, expected);
}

void TstDecode::revisionValueCutsFromPositionFive_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("maxLen");
    QTest::addColumn<QByteArray>("value");
    QTest::newRow("limited") << QByteArray("\x02" "23,ABCDEFGHIJKLMN") << 11 << QByteArray("ABCDEFGHIJK");
    QTest::newRow("shorter reply") << QByteArray("\x02" "24,1A") << 3 << QByteArray("1A");
    QTest::newRow("five chars: the one data character") << QByteArray("\x02" "23,X") << 11 << QByteArray("X");
    QTest::newRow("only four chars") << QByteArray("\x02" "24,") << 3 << QByteArray();
}

void TstDecode::revisionValueCutsFromPositionFive()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, maxLen);
    QFETCH(QByteArray, value);
    QCOMPARE(revisionValue(reply, maxLen), value);
}

void TstDecode::modelNumberAddsCapitalXPart_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArray>("model");
    QTest::newRow("with X part") << QByteArray("\x02" "26,ABCDE,X1234,\x03") << QByteArray("ABCDE-X1234");
    QTest::newRow("without") << QByteArray("\x02" "26,ABCDE,0,") << QByteArray("ABCDE");
    QTest::newRow("lower-case x ignored") << QByteArray("\x02" "26,ABCDE,x1234,") << QByteArray("ABCDE");
    QTest::newRow("short X part") << QByteArray("\x02" "26,ABCDE,X1") << QByteArray("ABCDE-X1");
    QTest::newRow("short model") << QByteArray("\x02" "26,AB") << QByteArray("AB");
}

void TstDecode::modelNumberAddsCapitalXPart()
{
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, model);
    QCOMPARE(modelNumberValue(reply), model);
}

void TstDecode::totalHoursNeedsClosingComma_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("present");
    QTest::addColumn<QByteArray>("hours");
    QTest::newRow("value") << QByteArray("\x02" "21,12345,\x03") << true << QByteArray("12345");
    QTest::newRow("empty but present") << QByteArray("\x02" "21,,") << true << QByteArray();
    QTest::newRow("no comma") << QByteArray("\x02" "21,12345") << false << QByteArray();
    QTest::newRow("too short") << QByteArray("\x02" "21,") << false << QByteArray();
}

void TstDecode::totalHoursNeedsClosingComma()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, present);
    QFETCH(QByteArray, hours);
    const auto h = totalHoursValue(reply);
    QCOMPARE(h.has_value(), present);
    if (h)
        QCOMPARE(*h, hours);
}

QTEST_GUILESS_MAIN(TstDecode)
#include "tst_decode.moc"
