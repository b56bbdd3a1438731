#include "tools/bridge/net/delivery.h"

#include <algorithm>
#include <utility>

#include "tools/bridge/core/bridge.h"

namespace lxd::bridge {

void Delivery::Accept(bool restricted, std::vector<std::uint32_t> interfaces) {
    restricted_ = restricted;
    interfaces_ = std::move(interfaces);
}

bool Delivery::Accepted(std::uint32_t via) {
    if (!restricted_ || via == 0 ||
        std::find(interfaces_.begin(), interfaces_.end(), via) != interfaces_.end()) {
        return true;
    }
    ++foreign_;
    return false;
}

int Delivery::Sacn(Bridge& bridge, const Received* datagrams, int count, Millis now) {
    int taken = 0;
    for (int i = 0; i < count; ++i) {
        const Received& d = datagrams[i];
        if (Accepted(d.from.via)) {
            bridge.OnSacn(d.data, d.size, now, d.from);
            ++taken;
        }
    }
    return taken;
}

int Delivery::Artnet(Bridge& bridge, const Received* datagrams, int count, Millis now,
                     ReplySink& replies) {
    int taken = 0;
    for (int i = 0; i < count; ++i) {
        const Received& d = datagrams[i];
        if (Accepted(d.from.via)) {
            artnetVia_ = d.from.via;
            bridge.OnArtnet(d.data, d.size, d.from.address, now, replies);
            ++taken;
        }
    }
    return taken;
}

}  // namespace lxd::bridge
