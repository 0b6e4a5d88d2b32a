// Reply decoders, monitor texts, identity values, the one decode of a reply and what
// frames mean in the logs.
#include "protocol/decode.h"
#include "protocol/framemeaning.h"
#include "protocol/identity.h"
#include "protocol/ratings.h"
#include "protocol/reply.h"

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
    void replyOutcomes_data();
    void replyOutcomes();
    void framesDecoded_data();
    void framesDecoded();
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
    QTest::newRow("ETX before the comma: not trusted") << QByteArray("\x02" "19,4095,2048\x03,") << 8
                                                       << QList<QByteArray>{"4095"};
    QTest::newRow("nothing after the ETX") << QByteArray("\x02" "19,1,\x03" "2,") << 8 << QList<QByteArray>{"1"};
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
    QTest::newRow("ends at its comma") << QByteArray("\x02" "23,1,\x03") << 11 << QByteArray("1");
    QTest::newRow("ends at the ETX") << QByteArray("\x02" "23,V2\x03") << 11 << QByteArray("V2");
    QTest::newRow("ends at any control byte") << QByteArray("\x02" "24,A\x01B") << 3 << QByteArray("A");
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
    QTest::newRow("refusal cut at its comma") << QByteArray("\x02" "26,1,\x03") << QByteArray("1");
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


void TstDecode::replyOutcomes_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("text");   // the identity value, or the first number
    const int good = int(ReplyOutcome::Good), refused = int(ReplyOutcome::Refused),
              partial = int(ReplyOutcome::Partial), none = int(ReplyOutcome::None);
    QTest::newRow("status: good") << QByteArray("22") << QByteArray("\x02" "22,1,0,0,1,\x03") << good << "";
    QTest::newRow("status: lone 1 is a refusal") << QByteArray("22") << QByteArray("\x02" "22,1,\x03") << refused << "";
    QTest::newRow("status: lone 2 without its comma") << QByteArray("22") << QByteArray("\x02" "22,2\x03") << refused
                                                      << "";
    QTest::newRow("status: lone 1 with a checksum character") << QByteArray("22") << QByteArray("\x02" "22,1,X\x03")
                                                              << refused << "";
    QTest::newRow("flags: lone 1 is a refusal") << QByteArray("68") << QByteArray("\x02" "68,1,\x03") << refused << "";
    QTest::newRow("monitors: lone 1 is a refusal") << QByteArray("19") << QByteArray("\x02" "19,1,\x03") << refused
                                                   << "1";
    QTest::newRow("model number: lone 1 is a refusal") << QByteArray("26") << QByteArray("\x02" "26,1,\x03") << refused
                                                       << "1";
    QTest::newRow("model number: good, cut at comma") << QByteArray("26") << QByteArray("\x02" "26,PLV70,\x03") << good
                                                      << "PLV70";
    QTest::newRow("revision: cut at the ETX") << QByteArray("23") << QByteArray("\x02" "23,V2\x03") << good << "V2";
    QTest::newRow("hours: ETX before the comma is no value") << QByteArray("21") << QByteArray("\x02" "21,12\x03,")
                                                             << good << "";
    QTest::newRow("setpoint: 1 is a count, not a refusal") << QByteArray("14") << QByteArray("\x02" "14,1,\x03") << good
                                                           << "1";
    QTest::newRow("hours: 2 is hours, not a refusal") << QByteArray("21") << QByteArray("\x02" "21,2,\x03") << good
                                                      << "2";
    QTest::newRow("HV ON refused") << QByteArray("98") << QByteArray("\x02" "98,1,\x03") << refused << "";
    QTest::newRow("HV ON accepted") << QByteArray("98") << QByteArray("\x02" "98,$,\x03") << good << "";
    QTest::newRow("no ETX: partial") << QByteArray("19") << QByteArray("\x02" "19,2048,3000,1800,") << partial << "2048";
    QTest::newRow("status without ETX: partial") << QByteArray("22") << QByteArray("\x02" "22,0,0,0,0,") << partial << "";
    QTest::newRow("foreign bytes before the STX") << QByteArray("22") << QByteArray("x\x02" "22,0,0,0,0,\x03") << partial
                                                  << "";
    QTest::newRow("another command's echo") << QByteArray("19") << QByteArray("\x02" "22,0,0,0,0,\x03") << partial
                                            << "0";
    QTest::newRow("no STX") << QByteArray("19") << QByteArray("19,1,2,3,\x03") << partial << "";
    QTest::newRow("echo alone") << QByteArray("22") << QByteArray("\x02" "22\x03") << good << "";
    QTest::newRow("nothing") << QByteArray("19") << QByteArray() << none << "";
}

void TstDecode::replyOutcomes()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, frame);
    QFETCH(int, outcome);
    QFETCH(QString, text);
    const Reply r = decodeReply(command, frame);
    QCOMPARE(int(r.outcome), outcome);
    QCOMPARE(r.isData(), outcome == int(ReplyOutcome::Good));
    QCOMPARE(r.answered(), outcome == int(ReplyOutcome::Good) || outcome == int(ReplyOutcome::Refused));
    const QString got = !r.text.isEmpty() ? QString::fromLatin1(r.text)
                        : r.number(0)    ? QString::number(*r.number(0))
                                         : QString();
    QCOMPARE(got, text);
    for (const QByteArray &f : r.fields)
        for (char c : f)
            QVERIFY2(static_cast<unsigned char>(c) >= 0x20, "a control byte inside a field");
}

void TstDecode::framesDecoded_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QString>("meaning");
    QTest::newRow("status request") << QByteArray("\x02" "22,") << QByteArray() << "status request";
    QTest::newRow("status reply") << QByteArray("\x02" "22,0,0,0,0,\x03") << QByteArray("22,")
                                  << "HV off, interlock closed, no fault, local";
    QTest::newRow("flags") << QByteArray("\x02" "68,1,0,0,0,0,1,\x03") << QByteArray("68,")
                           << "fault flags: arc, under current";
    QTest::newRow("monitors at 70 kV / 600 W") << QByteArray("\x02" "19,2048,3000,1800,\x03") << QByteArray("19,")
                                               << "35.01 kV, 6.28 mA, filament 2.198 A";
    QTest::newRow("HV ON accepted") << QByteArray("\x02" "98,$,\x03") << QByteArray("98,1,") << "HV ON accepted";
    QTest::newRow("setpoint sent") << QByteArray("\x02" "11,4095,") << QByteArray()
                                   << "set mA setpoint: count 4095 = 8.57 mA";
}

void TstDecode::framesDecoded()
{
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, sent);
    QFETCH(QString, meaning);
    const Rating &r = plvBuild().defaultRating();
    const Factors f{r.voltsPerCount, milliampsPerCount(r)};
    const bool command = !frame.contains('\x03');
    QCOMPARE(command ? commandMeaning(framePayload(frame), f)
                     : replyMeaning(decodeReply(frame.mid(1, 2), frame), sent, f),
             meaning);
}

QTEST_GUILESS_MAIN(TstDecode)
#include "tst_decode.moc"
