// Time for the host-side tools: steady time points and deadlines in seconds.
#pragma once

#include <chrono>

namespace lxd::host {

using Clock = std::chrono::steady_clock;

// `seconds` as a clock duration.
inline Clock::duration Seconds(double seconds) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// The time `seconds` after `start`; with `seconds` below 0, never.
inline Clock::time_point DeadlineAfter(Clock::time_point start, double seconds) {
    return seconds >= 0 ? start + Seconds(seconds) : Clock::time_point::max();
}

// Whole milliseconds on the clock, from its fixed starting point: the bridge's
// time stamps.
using Millis = std::chrono::milliseconds;
inline Millis NowMillis() {
    return std::chrono::duration_cast<Millis>(Clock::now().time_since_epoch());
}

// Seconds from `from` to `to`.
inline double SecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

}  // namespace lxd::host
