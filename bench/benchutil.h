#pragma once
// Small measuring helpers shared by the benchmark programs. Times are CLOCK_MONOTONIC,
// which every process on the machine shares, so stamps taken in different processes
// can be subtracted.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/resource.h>
#include <vector>

namespace bench {

inline int64_t nowNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// User plus system time of every thread of this process.
inline int64_t cpuNs()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return (int64_t(ru.ru_utime.tv_sec) + ru.ru_stime.tv_sec) * 1000000000
           + (int64_t(ru.ru_utime.tv_usec) + ru.ru_stime.tv_usec) * 1000;
}

inline long rssKiB()
{
    FILE *f = std::fopen("/proc/self/status", "r");
    if (!f)
        return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, "VmRSS:", 6) == 0) {
            kib = std::strtol(line + 6, nullptr, 10);
            break;
        }
    }
    std::fclose(f);
    return kib;
}

// Nearest-rank percentile, p in [0, 1].
template <typename T> T percentile(std::vector<T> v, double p)
{
    if (v.empty())
        return T{};
    std::sort(v.begin(), v.end());
    size_t rank = size_t(std::ceil(p * double(v.size())));
    rank = std::clamp<size_t>(rank, 1, v.size());
    return v[rank - 1];
}

template <typename T> T median(const std::vector<T> &v) { return percentile(v, 0.5); }

template <typename T> T maximum(const std::vector<T> &v)
{
    return v.empty() ? T{} : *std::max_element(v.begin(), v.end());
}

} // namespace bench
