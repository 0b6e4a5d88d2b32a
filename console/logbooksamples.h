#pragma once
// One sample per completed update cycle, made from the unit's decoded replies, for the
// recording and the trends.
#include "logs/formatting.h"
#include "logs/sample.h"
#include "logs/trendstore.h"
#include "unit/samplebuilder.h"

#include <QObject>

#include <functional>

namespace plv {

class Unit;
class UpdateCycle;

class SampleFeed : public QObject {
    Q_OBJECT
public:
    // 'rating' names the selected rating, 'factors' gives its factors.
    SampleFeed(Unit &unit, UpdateCycle &cycle, std::function<QString()> rating, std::function<Factors()> factors,
               QObject *parent);

    logs::SampleRecorder &recorder() { return *m_recorder; }
    const logs::TrendStore &trends() const { return m_trends; }

signals:
    void sampleTaken(const plv::logs::Sample &sample);

private:
    void cycleCompleted();

    std::function<QString()> m_rating;
    logs::MonotonicWallClock m_clock;
    logs::SampleRecorder *m_recorder;
    logs::TrendStore m_trends;
    SampleBuilder m_sample;
    bool m_cycleWhole = true;   // the cycle in progress ran from its first step
};

} // namespace plv
