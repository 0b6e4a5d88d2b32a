#include "console/logbooksamples.h"

#include "unit/unit.h"
#include "unit/updatecycle.h"

namespace plv {

SampleFeed::SampleFeed(Unit &unit, UpdateCycle &cycle, std::function<QString()> rating,
                       std::function<Factors()> factors, QObject *parent)
    : QObject(parent), m_rating(std::move(rating)), m_recorder(new logs::SampleRecorder(this))
{
    connect(&unit, &Unit::replied, this, [this, factors = std::move(factors)](const Reply &r) {
        m_sample.setFactors(factors());
        m_sample.take(r);
    });
    connect(&cycle, &UpdateCycle::cycleCompleted, this, &SampleFeed::cycleCompleted);
    // Automatic mode goes on where the cycle stopped: a cycle resumed mid-way is no sample,
    // its first queries were never made in it.
    connect(&cycle, &UpdateCycle::modeChanged, this, [this, &cycle] {
        m_sample.clear();
        m_cycleWhole = cycle.ctr_AutoUpdate == 0;
    });
}

void SampleFeed::cycleCompleted()
{
    const logs::Sample sample = m_sample.finish(m_clock.now(), m_rating());
    if (!std::exchange(m_cycleWhole, true))
        return;
    m_recorder->record(sample);
    m_trends.add(sample);
    emit sampleTaken(sample);
}

} // namespace plv
