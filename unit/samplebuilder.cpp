#include "unit/samplebuilder.h"

#include "protocol/channels.h"

#include <cmath>

namespace plv {

std::optional<double> sampleValue(double v)
{
    if (!std::isfinite(v))
        return std::nullopt;
    return QString::number(v, 'g', 6).toDouble();
}

void SampleBuilder::take(const Reply &reply)
{
    const bool data = reply.isData();
    auto number = [&](int i) { return data ? reply.number(i) : std::nullopt; };
    auto scaled = [](std::optional<double> count, auto convert) {
        return count ? sampleValue(convert(*count)) : std::nullopt;
    };
    auto counts = [&](int i) -> std::optional<int> {
        const auto v = number(i);
        return v && std::abs(*v) < 1e9 ? std::optional<int>(int(std::lround(*v))) : std::nullopt;
    };

    const int cmd = reply.command.toInt();
    switch (cmd) {
    case 19:
        m_s.kV = scaled(number(0), [&](double c) { return kilovolts(c, m_f.voltsPerCount); });
        m_s.mA = scaled(number(1), [&](double c) { return monitorMilliamps(c, m_f.milliampsPerCount); });
        m_s.filamentA = scaled(number(2), filamentAmps);
        break;
    case 20:
        m_s.supplyMinus15V = scaled(number(0), supplyVolts);
        m_s.converterA = counts(1);
        m_s.converterB = counts(2);
        break;
    case 14: case 15: case 16: case 17: {
        const Channel c = Channel(cmd - 14);
        std::optional<double> *target[4] = {&m_s.kVSetpoint, &m_s.mASetpoint, &m_s.filamentLimitA,
                                            &m_s.filamentPreheatA};
        *target[cmd - 14] = scaled(number(0), [&](double n) {
            return readbackValue(c, n, m_f.voltsPerCount, m_f.milliampsPerCount);
        });
        break;
    }
    case 22: {
        const MainStatus st = data ? reply.status : MainStatus{};
        m_s.hvOn = st.hvOn;
        m_s.interlockClosed = st.interlockOpen ? std::optional<bool>(!*st.interlockOpen) : std::nullopt;
        m_s.fault = st.fault;
        m_s.remote = st.remote;
        break;
    }
    case 68: {
        const FaultFlags flags = data ? reply.flags : FaultFlags{};
        std::optional<bool> *target[6] = {&m_s.arc, &m_s.overTemperature, &m_s.overVoltage,
                                          &m_s.underVoltage, &m_s.overCurrent, &m_s.underCurrent};
        for (int i = 0; i < 6; ++i)
            *target[i] = flags[size_t(i)];
        break;
    }
    default: break;
    }
}

logs::Sample SampleBuilder::finish(const QDateTime &time, const QString &rating)
{
    logs::Sample out = std::exchange(m_s, {});
    out.time = time;
    if (!rating.isEmpty())
        out.rating = rating;
    return out;
}

} // namespace plv
