#include "link/backoff.h"

#include <QRandomGenerator>
#include <algorithm>

namespace plv {

Backoff::Backoff(Rule rule, std::function<double()> uniform)
    : m_rule(rule), m_uniform(std::move(uniform)), m_baseMs(std::max(1, rule.firstMs))
{
    m_rule.maxMs = std::max(m_rule.maxMs, m_baseMs);
    m_rule.jitter = std::clamp(m_rule.jitter, 0.0, 1.0);
    if (!m_uniform)
        m_uniform = [] { return QRandomGenerator::global()->generateDouble(); };
}

int Backoff::next()
{
    const double u = std::clamp(m_uniform(), 0.0, 1.0);
    const double factor = 1.0 - m_rule.jitter + 2.0 * m_rule.jitter * u;
    const int delay = std::max(1, int(m_baseMs * factor + 0.5));
    m_baseMs = int(std::min<long long>(2LL * m_baseMs, m_rule.maxMs));
    ++m_attempts;
    return delay;
}

void Backoff::reset()
{
    m_baseMs = std::max(1, m_rule.firstMs);
    m_attempts = 0;
}

} // namespace plv
