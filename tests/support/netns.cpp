#include "tests/support/netns.h"

#include <sched.h>
#include <unistd.h>

#include <cstdlib>

namespace lxd::test {

bool EnterPrivateNetwork(bool multicastOnLoopback) {
    if (geteuid() != 0 || unshare(CLONE_NEWNET) != 0) {
        return false;
    }
    const char* up = multicastOnLoopback ? "ip link set lo up && ip route add 224.0.0.0/4 dev lo"
                                         : "ip link set lo up";
    return std::system(up) == 0;
}

std::string NamespaceName(const std::string& role) {
    static int next = 0;
    const char* run = std::getenv("LXD_TEST_RUN");
    return "lxd-" + std::string(run != nullptr && *run != 0 ? run : "t") + "-" +
           std::to_string(getpid()) + "-" + std::to_string(next++) + role;
}

}  // namespace lxd::test
