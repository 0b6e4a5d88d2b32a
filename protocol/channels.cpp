#include "protocol/channels.h"
#include "protocol/picture.h"

#include <algorithm>
#include <cmath>

namespace plv {

namespace {
const ChannelInfo kChannels[] = {
    {Channel::A, "opt_DACA", "KV_PROG", "Now Modifying KV_PROG", 70000, "10,", "14,", "txt_DACA", "#0.00", " kV"},
    {Channel::B, "opt_DACB", "MA_PROG", "Now Modifying MA_PROG", 8.56, "11,", "15,", "txt_DACB", "0.00", " mA"},
    {Channel::C, "opt_DACC", "FIL_LIMIT", "Now Modifying FIL_LIMIT", 4.999995, "12,", "16,", "txt_DACC", "0.##0", " A"},
    {Channel::D, "opt_DACD", "FIL_PREHEAT", "Now Modifying FIL_PREHEAT", 2.5, "13,", "17,", "txt_DACD", "0.##0", " A"},
};

// The value a text shows for a count: kV for channel A (its factor is in volts).
double displayValue(Channel c, double count, double voltsPerCount, double milliampsPerCount)
{
    return c == Channel::A ? kilovolts(count, voltsPerCount)
                           : count * channelFactor(c, voltsPerCount, milliampsPerCount);
}
} // namespace

const ChannelInfo &channelInfo(Channel c) { return kChannels[int(c) & 3]; }

double readbackValue(Channel c, double count, double voltsPerCount, double milliampsPerCount)
{
    return displayValue(c, count, voltsPerCount, milliampsPerCount);
}

double channelFactor(Channel c, double voltsPerCount, double milliampsPerCount)
{
    switch (c) {
    case Channel::A: return voltsPerCount;
    case Channel::B: return milliampsPerCount;
    case Channel::C: return kFilamentAmpsPerCount;
    case Channel::D: return kPreheatAmpsPerCount;
    }
    return 0.0;
}

double kilovolts(double count, double voltsPerCount) { return count * voltsPerCount / 1000.0; }

int roundHalfEven16(double v)
{
    if (std::isnan(v))
        return 0;
    // Clamp first so the cast below is always defined.
    v = std::clamp(v, -32768.0, 32767.0);
    const double lower = std::floor(v);
    const double diff = v - lower;
    double r = lower;
    if (diff > 0.5 || (diff == 0.5 && std::fmod(lower, 2.0) != 0.0))
        r = lower + 1.0;
    return int(r);
}

int nearestCount(Channel c, double value, double voltsPerCount, double milliampsPerCount)
{
    return roundHalfEven16(value / channelFactor(c, voltsPerCount, milliampsPerCount));
}

std::optional<int> countForValue(Channel c, double value, double voltsPerCount, double milliampsPerCount)
{
    const int count = nearestCount(c, value, voltsPerCount, milliampsPerCount);
    if (count < 0 || count > kMaxCount)
        return std::nullopt;
    return count;
}

std::optional<QByteArray> setpointCommand(Channel c, int count)
{
    if (count < 0 || count > kMaxCount)
        return std::nullopt;
    return QByteArray(channelInfo(c).setPrefix) + QByteArray::number(count) + ',';
}

QString readbackText(Channel c, double count, double voltsPerCount, double milliampsPerCount)
{
    const ChannelInfo &info = channelInfo(c);
    return formatPicture(displayValue(c, count, voltsPerCount, milliampsPerCount),
                         QLatin1String(info.readPicture))
        + QLatin1String(info.unitText);
}

QString confirmationText(Channel c, int count, double voltsPerCount, double milliampsPerCount)
{
    const QString picture = c == Channel::A ? QStringLiteral("#0.##0") : QStringLiteral("0.##0");
    return formatPicture(displayValue(c, count, voltsPerCount, milliampsPerCount), picture)
        + QLatin1String(channelInfo(c).unitText);
}

} // namespace plv
