// Rating tables and the setpoint channel conversions that depend on them.
#include "protocol/channels.h"
#include "protocol/ratings.h"

#include <QtTest>
#include <cmath>

using namespace plv;
Q_DECLARE_METATYPE(plv::Channel)

class TstRatings : public QObject {
    Q_OBJECT
private slots:
    void everyRowHasItsConstantsAndTexts_data();
    void everyRowHasItsConstantsAndTexts();
    void buildsListRowsInMenuOrder_data();
    void buildsListRowsInMenuOrder();
    void buildsCarryTheirCaptionsAndDefault_data();
    void buildsCarryTheirCaptionsAndDefault();
    void fullScaleCountsConvertToRatedValues();
    void findRefusesRowsOfTheOtherBuild();
    void channelsCarryTheirNamesAndCommands_data();
    void channelsCarryTheirNamesAndCommands();
    void roundHalfEven16RoundsAndSaturates_data();
    void roundHalfEven16RoundsAndSaturates();
    void setpointCommandOnlyForValidCounts_data();
    void setpointCommandOnlyForValidCounts();
    void readbackAndConfirmationTexts_data();
    void readbackAndConfirmationTexts();
};

static const BuildData &buildById(const QString &id) { return id == "plv" ? plvBuild() : plrBuild(); }

void TstRatings::everyRowHasItsConstantsAndTexts_data()
{
    QTest::addColumn<QString>("build");
    QTest::addColumn<int>("kV");
    QTest::addColumn<int>("watts");
    QTest::addColumn<QString>("mARange");
    const struct { const char *build; int kV; const char *mA[3]; } rows[] = {
        {"plv", 70, {"0 to 17.14 mA", "0 to 8.57 mA", "0 to 4.286 mA"}},
        {"plv", 60, {"0 to 20 mA", "0 to 10 mA", "0 to 5 mA"}},
        {"plv", 50, {"0 to 24 mA", "0 to 12 mA", "0 to 6 mA"}},
        {"plv", 40, {"0 to 30 mA", "0 to 15 mA", "0 to 7.5 mA"}},
        {"plv", 30, {"0 to 40 mA", "0 to 20 mA", "0 to 10 mA"}},
        {"plv", 20, {"0 to 60 mA", "0 to 30 mA", "0 to 15 mA"}},
        {"plr", 140, {"0 to 8.57 mA", "0 to 4.28 mA", "0 to 2.14 mA"}},
        {"plr", 120, {"0 to 10.0 mA", "0 to 5.0 mA", "0 to 2.5 mA"}},
        {"plr", 100, {"0 to 12.0 mA", "0 to 6.0 mA", "0 to 3 mA"}},
        {"plr", 80, {"0 to 15.0 mA", "0 to 7.5 mA", "0 to 3.75 mA"}},
        {"plr", 60, {"0 to 20.0 mA", "0 to 10 mA", "0 to 5 mA"}},
        {"plr", 40, {"0 to 30.0 mA", "0 to 15 mA", "0 to 7.5 mA"}},
    };
    const int powers[] = {1200, 600, 300};
    for (const auto &r : rows)
        for (int p = 0; p < 3; ++p)
            QTest::addRow("%s %dkV %dW", r.build, r.kV, powers[p])
                << QString(r.build) << r.kV << powers[p] << QString(r.mA[p]);
}

void TstRatings::everyRowHasItsConstantsAndTexts()
{
    QFETCH(QString, build);
    QFETCH(int, kV);
    QFETCH(int, watts);
    QFETCH(QString, mARange);
    const Rating *r = buildById(build).find(kV, watts);
    QVERIFY(r);
    QCOMPARE(r->kV, kV);
    QCOMPARE(r->watts, watts);
    const double rule = kV == 120 ? 29.3 : std::round(kV * 244.2) / 1000.0;
    QCOMPARE(r->voltsPerCount, rule);
    QVERIFY(std::abs(milliampsPerCount(*r) * 4095.0 * kV - watts) < 1e-9);
    QCOMPARE(QString(r->mARange), mARange);
    QCOMPARE(kvRangeText(*r), QString("0 to %1 kV").arg(kV));
    QCOMPARE(ratingMenuName(*r), QString("Menu%1KV%2W").arg(kV).arg(watts));
    QCOMPARE(ratingMenuCaption(*r), QString("%1KV").arg(kV));
}

void TstRatings::buildsListRowsInMenuOrder_data()
{
    QTest::addColumn<QString>("build");
    QTest::addColumn<QList<int>>("kVs");
    QTest::newRow("plv") << "plv" << QList<int>{70, 60, 50, 40, 30, 20};
    QTest::newRow("plr") << "plr" << QList<int>{140, 120, 100, 80, 60, 40};
}

void TstRatings::buildsListRowsInMenuOrder()
{
    QFETCH(QString, build);
    QFETCH(QList<int>, kVs);
    const BuildData &b = buildById(build);
    QCOMPARE(b.powers, (std::vector<int>{1200, 600, 300}));
    QCOMPARE(b.kVs, std::vector<int>(kVs.begin(), kVs.end()));
    QCOMPARE(b.ratings.size(), size_t(18));
    for (size_t i = 0; i < b.ratings.size(); ++i) {
        QCOMPARE(b.ratings[i].watts, b.powers[i / 6]);
        QCOMPARE(b.ratings[i].kV, b.kVs[i % 6]);
    }
    QCOMPARE(powerMenuName(1200), QString("Menu1200"));
    QCOMPARE(powerMenuCaption(300), QString("300W"));
}

void TstRatings::buildsCarryTheirCaptionsAndDefault_data()
{
    QTest::addColumn<QString>("build");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<int>("defaultKV");
    QTest::newRow("plv") << "plv"
        << QStringList{"PLV Interface", "About the PLV Interface", " GUI for Standard PLV", "Version 8.0"} << 70;
    QTest::newRow("plr") << "plr"
        << QStringList{"PLR Interface", "About the PLR Interface", " GUI for Standard PLR", "Version 1.0"} << 140;
}

void TstRatings::buildsCarryTheirCaptionsAndDefault()
{
    QFETCH(QString, build);
    QFETCH(QStringList, texts);
    QFETCH(int, defaultKV);
    const BuildData &b = buildById(build);
    QCOMPARE(b.id, build);
    QCOMPARE((QStringList{b.windowCaption, b.aboutCaption, b.aboutTitle, b.aboutVersion}), texts);
    QCOMPARE(b.defaultRating().kV, defaultKV);
    QCOMPARE(b.defaultRating().watts, 600);
}

void TstRatings::fullScaleCountsConvertToRatedValues()
{
    QCOMPARE(4095 * channelFactor(Channel::A, plvBuild().find(20, 600)->voltsPerCount, 0), 19999.98);
    const double mA = 4095 * channelFactor(Channel::B, 0, milliampsPerCount(*plvBuild().find(70, 1200)));
    QVERIFY(std::abs(mA - 1200.0 / 70) < 1e-12);
    QCOMPARE(4095 * plrBuild().find(120, 300)->voltsPerCount / 1000, 119.9835);
    QCOMPARE(channelFactor(Channel::C, 9, 9), 0.001221);
    QCOMPARE(channelFactor(Channel::D, 9, 9), 0.0006105);

    // The full scale itself is a count the unit takes; one count beyond it is refused.
    const double vpc = plvBuild().find(70, 600)->voltsPerCount;
    QCOMPARE(countForValue(Channel::A, 70000.0, vpc, 0), std::optional<int>(4095));
    QCOMPARE(countForValue(Channel::A, 70000.0 + vpc, vpc, 0), std::nullopt);
    QCOMPARE(countForValue(Channel::A, 0.0, vpc, 0), std::optional<int>(0));
}

void TstRatings::findRefusesRowsOfTheOtherBuild()
{
    QVERIFY(!plvBuild().find(140, 600));
    QVERIFY(!plrBuild().find(70, 600));
    QVERIFY(!plvBuild().find(70, 450));
}

void TstRatings::channelsCarryTheirNamesAndCommands_data()
{
    QTest::addColumn<Channel>("channel");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<double>("scaledMax");
    QTest::newRow("A") << Channel::A << QStringList{"opt_DACA", "KV_PROG", "Now Modifying KV_PROG", "10,", "14,", "txt_DACA", "#0.00", " kV"} << 70000.0;
    QTest::newRow("B") << Channel::B << QStringList{"opt_DACB", "MA_PROG", "Now Modifying MA_PROG", "11,", "15,", "txt_DACB", "0.00", " mA"} << 8.56;
    QTest::newRow("C") << Channel::C << QStringList{"opt_DACC", "FIL_LIMIT", "Now Modifying FIL_LIMIT", "12,", "16,", "txt_DACC", "0.##0", " A"} << 4.999995;
    QTest::newRow("D") << Channel::D << QStringList{"opt_DACD", "FIL_PREHEAT", "Now Modifying FIL_PREHEAT", "13,", "17,", "txt_DACD", "0.##0", " A"} << 2.5;
}

void TstRatings::channelsCarryTheirNamesAndCommands()
{
    QFETCH(Channel, channel);
    QFETCH(QStringList, texts);
    QFETCH(double, scaledMax);
    const ChannelInfo &i = channelInfo(channel);
    QCOMPARE(i.channel, channel);
    QCOMPARE((QStringList{i.optionName, i.optionText, i.modifyText, i.setPrefix, i.readCommand, i.resultBox,
                          i.readPicture, i.unitText}), texts);
    QCOMPARE(i.scaledMax, scaledMax);
}

void TstRatings::roundHalfEven16RoundsAndSaturates_data()
{
    QTest::addColumn<double>("in");
    QTest::addColumn<int>("out");
    QTest::newRow("2.5 to even below") << 2.5 << 2;
    QTest::newRow("3.5 to even above") << 3.5 << 4;
    QTest::newRow("near integer") << 2925.0029 << 2925;
    QTest::newRow("-0.5 to zero") << -0.5 << 0;
    QTest::newRow("-1.5 to -2") << -1.5 << -2;
    QTest::newRow("below half") << 7.49 << 7;
    QTest::newRow("above half") << 7.51 << 8;
    QTest::newRow("saturates high") << 1e12 << 32767;
    QTest::newRow("saturates low") << -1e12 << -32768;
    QTest::newRow("infinity") << qInf() << 32767;
    QTest::newRow("NaN") << qQNaN() << 0;
}

void TstRatings::roundHalfEven16RoundsAndSaturates()
{
    QFETCH(double, in);
    QFETCH(int, out);
    QCOMPARE(roundHalfEven16(in), out);
}

void TstRatings::setpointCommandOnlyForValidCounts_data()
{
    QTest::addColumn<Channel>("channel");
    QTest::addColumn<int>("count");
    QTest::addColumn<QByteArray>("command");   // empty: nothing sent
    QTest::newRow("A mid") << Channel::A << 2048 << QByteArray("10,2048,");
    QTest::newRow("B full") << Channel::B << 4095 << QByteArray("11,4095,");
    QTest::newRow("C zero") << Channel::C << 0 << QByteArray("12,0,");
    QTest::newRow("D one") << Channel::D << 1 << QByteArray("13,1,");
    QTest::newRow("negative") << Channel::A << -1 << QByteArray();
    QTest::newRow("over full scale") << Channel::D << 4096 << QByteArray();
}

void TstRatings::setpointCommandOnlyForValidCounts()
{
    QFETCH(Channel, channel);
    QFETCH(int, count);
    QFETCH(QByteArray, command);
    const auto got = setpointCommand(channel, count);
    QCOMPARE(got.has_value(), !command.isEmpty());
    if (got)
        QCOMPARE(*got, command);
}

void TstRatings::readbackAndConfirmationTexts_data()
{
    QTest::addColumn<Channel>("channel");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("readback");
    QTest::addColumn<QString>("confirmation");
    QTest::addColumn<int>("kV");   // 600 W rating of that kV; above 70 kV from the PLR build
    QTest::newRow("A half") << Channel::A << 2048 << "35.01 kV" << "35.009 kV" << 70;
    QTest::newRow("A full") << Channel::A << 4095 << "70.00 kV" << "70.000 kV" << 70;
    // 29.3 V per count makes exact halves: 350 x 29.3 / 1000 is 10.255, but
    // 350 x (29.3 / 1000) lands just below it and would round down.
    QTest::newRow("A 350 at 120 kV, as the kV monitor shows it") << Channel::A << 350 << "10.26 kV" << "10.255 kV" << 120;
    QTest::newRow("A 175 at 120 kV confirms 5.128") << Channel::A << 175 << "5.13 kV" << "5.128 kV" << 120;
    QTest::newRow("B full") << Channel::B << 4095 << "8.57 mA" << "8.571 mA" << 70;
    QTest::newRow("B zero") << Channel::B << 0 << "0.00 mA" << "0.000 mA" << 70;
    QTest::newRow("C") << Channel::C << 1000 << "1.221 A" << "1.221 A" << 70;
    QTest::newRow("D") << Channel::D << 4095 << "2.500 A" << "2.500 A" << 70;
}

void TstRatings::readbackAndConfirmationTexts()
{
    QFETCH(Channel, channel);
    QFETCH(int, count);
    QFETCH(QString, readback);
    QFETCH(QString, confirmation);
    QFETCH(int, kV);
    const Rating &r = *(kV > 70 ? plrBuild() : plvBuild()).find(kV, 600);
    QCOMPARE(readbackText(channel, count, r.voltsPerCount, milliampsPerCount(r)), readback);
    QCOMPARE(confirmationText(channel, count, r.voltsPerCount, milliampsPerCount(r)), confirmation);
}

QTEST_GUILESS_MAIN(TstRatings)
#include "tst_ratings.moc"
