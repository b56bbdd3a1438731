#include "tools/bridge/status/health.h"

namespace lxd::bridge {

Health HealthOf(const Snapshot& s) {
    bool receiving = false;
    for (const InterfaceStatus& i : s.network.interfaces) {
        receiving = receiving || !i.joined.empty() || i.failed.empty();
    }
    if (!receiving) {
        return {false, s.network.interfaces.empty()
                           ? "receiving on no interface"
                           : "every multicast join failed: " + s.network.interfaces[0].error};
    }
    bool live = false;
    for (const PortStatus& port : s.ports) {
        for (const SourceStatus& src : port.sources) {
            live = live || src.state == SourceState::kLive;
        }
    }
    if (live && s.lastSentAgo < 0) {
        return {false, "sources are live but nothing has reached the driver"};
    }
    if (live && s.lastSentAgo > kHealthySilence) {
        return {false, "sources are live but nothing reached the driver for " +
                           std::to_string(static_cast<int>(s.lastSentAgo)) + " s" +
                           (s.sendFailures > 0 ? " (sending fails)" : "")};
    }
    return {true, "ok"};
}

}  // namespace lxd::bridge
