#include "tools/bridge/core/forwarder.h"

namespace lxd::bridge {

void Forwarder::MarkStale(const bool* due, Millis now) {
    for (int p = 0; p < kNumPorts; ++p) {
        if (due[p] && levels_[p] != nullptr && (!sent_[p] || now - lastSent_[p] >= kRefreshAfter)) {
            pending_[p] = true;
        }
    }
}

bool Forwarder::Due() const {
    for (int p = 0; p < kNumPorts; ++p) {
        if (pending_[p] && levels_[p] != nullptr) {
            return true;
        }
    }
    return false;
}

void Forwarder::Flush(Millis now) {
    int ports[kNumPorts];
    int count = 0;
    int datagrams = 0;
    writers_[0].Reset();
    for (int p = 0; p < kNumPorts; ++p) {
        if (!pending_[p] || levels_[p] == nullptr) {
            continue;
        }
        pending_[p] = false;
        const auto start = static_cast<std::uint16_t>(p * kChannelsPerPort + 1);
        if (!writers_[datagrams].Add(start, levels_[p], kChannelsPerPort)) {
            firstPort_[++datagrams] = count;
            writers_[datagrams].Reset();
            writers_[datagrams].Add(start, levels_[p], kChannelsPerPort);
        }
        ports[count++] = p;
    }
    if (count == 0) {
        return;
    }
    firstPort_[++datagrams] = count;
    Datagram burst[kNumPorts];
    for (int d = 0; d < datagrams; ++d) {
        burst[d] = {writers_[d].Data(), writers_[d].Size()};
    }
    const int sent = sink_.SendBurst(burst, datagrams);
    failures_ += static_cast<std::uint64_t>(datagrams - sent);
    if (sent > 0) {
        total_ += static_cast<std::uint64_t>(sent);
        last_ = now;
    }
    for (int i = 0; i < firstPort_[sent]; ++i) {
        ++datagrams_[ports[i]];
        sent_[ports[i]] = true;
        lastSent_[ports[i]] = now;
    }
}

}  // namespace lxd::bridge
