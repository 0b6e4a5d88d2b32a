#pragma once
// The one place a sample is made: each reply of an update cycle (or of a one-shot
// query) fills its columns, converted under the rating's factors to six significant
// digits. A reply that is not data (none, partial, refused) empties its columns.
#include "logs/sample.h"
#include "protocol/framemeaning.h"
#include "protocol/reply.h"

#include <QDateTime>
#include <QString>

namespace plv {

class SampleBuilder {
public:
    void setFactors(const Factors &f) { m_f = f; }
    void take(const Reply &reply);
    const logs::Sample &sample() const { return m_s; }
    // The sample so far, stamped; the next one starts empty.
    logs::Sample finish(const QDateTime &time, const QString &rating);
    void clear() { m_s = {}; }

private:
    Factors m_f;
    logs::Sample m_s;
};

// A value as samples carry it: six significant digits, more than a 12-bit count holds,
// without the factors' binary noise ("2.1965790000000003"); nullopt when not finite.
std::optional<double> sampleValue(double v);

} // namespace plv
