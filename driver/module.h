// The module entry routine that the platform's load and unload notifications
// reach: set-up at process attach, tidy-up at detach.
#pragma once

#include <cstdint>

namespace lxd {

enum ModuleReason : std::uint32_t {
    kProcessDetach = 0,
    kProcessAttach = 1,
    kThreadAttach = 2,
    kThreadDetach = 3,
};

// Returns 1 on success, 0 when process attach refuses the load.
int ModuleEntry(std::uint32_t reason);

}  // namespace lxd
