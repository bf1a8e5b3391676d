// Shared by the benchmarks: elapsed milliseconds and the summary of a run
// of timings (median, 95th percentile, worst).
#pragma once

#include <algorithm>
#include <chrono>
#include <vector>

namespace lumeval::bench {

using Clock = std::chrono::steady_clock;

inline double Ms(Clock::time_point since) {
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

struct Stats {
    double median = 0, p95 = 0, worst = 0;
};
inline Stats Of(std::vector<double> v) {
    if (v.empty()) return {};
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v[v.size() * 95 / 100], v.back()};
}

}  // namespace lumeval::bench
