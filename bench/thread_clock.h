// The calling thread's CPU time (user and system), in seconds: on a shared
// machine it leaves out the time other programs hold the core.
#pragma once

#include <time.h>

namespace lxd::bench {

inline double ThreadSeconds() {
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

}  // namespace lxd::bench
