// The figures a soak reports and judges by: quantiles, the trend of the
// heap in use, a process's CPU time and resident memory.
#ifndef QUON_TESTS_SOAK_SOAK_FIGURES_H
#define QUON_TESTS_SOAK_SOAK_FIGURES_H

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace quon::test {

// The value at `share` (0 to 1) of sorted figures.
inline double quantile(const std::vector<double>& sorted, double share) {
    if (sorted.empty()) return 0;
    return sorted[std::min(sorted.size() - 1, static_cast<std::size_t>(share * double(sorted.size())))];
}

struct heap_trend {
    double slope = 0;  // bytes a second
    std::uint64_t first = 0, last = 0;
    std::size_t samples = 0;
};

// The Theil-Sen slope, the median of the slopes between every two samples:
// what is queued at one moment lifts single samples by up to 200 KB, which
// moves a least-squares line but not this median. Samples more than this
// far apart are paired, so that neighbours' noise does not dominate.
const double pair_distance = 5.0;  // seconds

inline heap_trend heapTrend(const std::vector<std::pair<double, double>>& samples) {
    heap_trend trend;
    trend.samples = samples.size();
    if (samples.empty()) return trend;
    trend.first = static_cast<std::uint64_t>(samples.front().second);
    trend.last = static_cast<std::uint64_t>(samples.back().second);
    std::vector<double> slopes;
    for (std::size_t i = 0; i < samples.size(); ++i)
        for (std::size_t j = i + 1; j < samples.size(); ++j) {
            const double dt = samples[j].first - samples[i].first;
            if (dt >= pair_distance) slopes.push_back((samples[j].second - samples[i].second) / dt);
        }
    if (slopes.empty()) return trend;
    const auto middle = slopes.begin() + static_cast<std::ptrdiff_t>(slopes.size() / 2);
    std::nth_element(slopes.begin(), middle, slopes.end());
    trend.slope = *middle;
    return trend;
}

// User and system time of a process so far.
inline double cpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // The fields after the command name, which is in parentheses: state is
    // the 3rd field, utime the 14th and stime the 15th.
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string skipped;
    for (int i = 3; i < 14; ++i) fields >> skipped;
    long user = 0, system = 0;
    fields >> user >> system;
    return double(user + system) / double(sysconf(_SC_CLK_TCK));
}

inline long residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

}  // namespace quon::test

#endif
