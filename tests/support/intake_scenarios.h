// Streams of datagrams and what the store shows once the driver has taken them
// all: one table for the unit tests (over the fake platform) and the
// integration tests (the built driver over loopback).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/packets.h"

namespace lxd::test {

struct StoreRegion {
    std::uint32_t address;  // store address, 1-based
    Bytes levels;
};

struct IntakeScenario {
    std::string name;
    std::vector<Bytes> datagrams;       // in sending order; an empty one is an empty datagram
    std::vector<StoreRegion> expected;  // the store afterwards
    int passes;  // ServiceDevices calls that take them all when all wait at once
};

// Each scenario's last datagram changes the store, so a runner can wait for it.
std::vector<IntakeScenario> IntakeScenarios();

}  // namespace lxd::test
