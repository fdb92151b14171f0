// What the timing benchmarks share: the record of every real-time cycle's
// start against its deadline (the thread's cycle observer fills it) and
// percentiles in milliseconds.
#pragma once
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace cycle_starts {

struct cycle_start {
    int64_t deadline, start;
};

inline std::vector<cycle_start> starts;  // sized before the thread runs
inline std::atomic<size_t> count{0};

// The observer for rt_set_cycle_observer.
inline void observe(int64_t deadline, int64_t start)
{
    size_t i = count.load(std::memory_order_relaxed);
    if (i < starts.size()) {
        starts[i] = {deadline, start};
        count.store(i + 1, std::memory_order_release);
    }
}

inline double ms(int64_t ns)
{
    return (double)ns / 1e6;
}

inline double percentile(std::vector<int64_t> v, double p)
{
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    return ms(v[std::min(v.size() - 1, (size_t)((double)v.size() * p))]);
}

// How late each recorded cycle started, in ns.
inline std::vector<int64_t> lateness()
{
    std::vector<int64_t> late;
    size_t n = count.load(std::memory_order_acquire);
    for (size_t i = 0; i < n; i++)
        late.push_back(starts[i].start - starts[i].deadline);
    return late;
}

}  // namespace cycle_starts
