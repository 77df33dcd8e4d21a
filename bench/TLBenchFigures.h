#pragma once

// What the benchmarks report: percentiles of their samples and a process's resident memory.
#include <sys/types.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

// p in [0, 1]: 0.5 the median, 1 the largest.
inline double tlPercentile(std::vector<double> values, double p) {
    std::ranges::sort(values);
    const auto index = static_cast<std::size_t>(std::lround(p * double(values.size() - 1)));
    return values[std::min(values.size() - 1, index)];
}

inline std::optional<long> tlResidentKilobytes(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return std::nullopt;
}
