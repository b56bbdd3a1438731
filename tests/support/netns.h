// Network namespaces for the tests and benchmarks that run the bridge or
// build rigs of several hosts (Linux, as root): nothing they send or join
// reaches a real interface.
#pragma once

#include <string>

namespace lxd::test {

// Moves the calling thread (the sockets it opens and the programs it starts
// later) into a new network namespace with only loopback, up; with
// `multicastOnLoopback`, multicast is routed onto lo as well. False where
// that is not allowed (not root).
bool EnterPrivateNetwork(bool multicastOnLoopback = false);

// A name for a named namespace (`ip netns add`) of this process: unique per
// call, and carrying the test run's mark (LXD_TEST_RUN, set by dev.sh) so
// that a run finds what it left behind and nothing else.
std::string NamespaceName(const std::string& role);

}  // namespace lxd::test
