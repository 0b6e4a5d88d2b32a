#pragma once
// When to try again after a lost link: the first retry after a second, each later one twice
// as long up to a cap, every delay spread by a random share so that the consoles and bridges
// that lost one unit (or one broker) at the same moment do not all knock again together.
// Shared by the console's TCP reconnect, plvctl watch and the broker bridge.
#include <functional>

namespace plv {

struct BackoffRule {
    int firstMs = 1000;
    int maxMs = 30000;
    double jitter = 0.25;   // each delay is its base times a factor in [1 - jitter, 1 + jitter]
};

class Backoff {
public:
    using Rule = BackoffRule;

    // 'uniform' returns numbers in [0, 1); tests hand in their own.
    explicit Backoff(Rule rule = {}, std::function<double()> uniform = {});

    int next();                        // the delay before the next attempt; doubles the base
    int baseMs() const { return m_baseMs; }
    int attempts() const { return m_attempts; }
    void reset();                      // the link is back: the next loss starts at firstMs
    const Rule &rule() const { return m_rule; }

private:
    Rule m_rule;
    std::function<double()> m_uniform;
    int m_baseMs;
    int m_attempts = 0;
};

} // namespace plv
