// /healthz's verdict, from the status snapshot.
#pragma once

#include <string>

#include "tools/bridge/status/snapshot.h"

namespace lxd::bridge {

// How long the bridge may go without sending to the driver while a source
// is live before /healthz says it is stuck.
inline constexpr double kHealthySilence = 3.0;

struct Health {
    bool ok = false;
    std::string reason;  // "ok", or what is wrong
};
// Healthy while the bridge receives on at least one interface (loopback, which
// a console on the same machine reaches, counts) and has sent
// to the driver within kHealthySilence seconds, or has nothing to send (no
// live source).
Health HealthOf(const Snapshot& snapshot);

}  // namespace lxd::bridge
