// The module entry routine: set-up at process attach, tidy-up at detach.
#pragma once

#include <cstdint>

namespace lxd {

enum ModuleReason : std::uint32_t {
    kProcessDetach = 0,
    kProcessAttach = 1,
    kThreadAttach = 2,
    kThreadDetach = 3,
};

inline constexpr char kMessageNoSocketLayer[] = "Unable to start winsock";
inline constexpr char kMessageNoLevelOne[] = "Unable to get level 1 functionality from winsock";

// Returns 1 on success, 0 when process attach refuses the load.
int ModuleEntry(std::uint32_t reason);

}  // namespace lxd
