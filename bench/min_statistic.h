// Adds the fastest repetition to a benchmark's reported statistics: on a busy
// machine the minimum is the steadiest figure.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

namespace lxd::bench {

inline benchmark::internal::Benchmark* WithMin(benchmark::internal::Benchmark* bench) {
    return bench->ComputeStatistics(
        "min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); });
}

}  // namespace lxd::bench
