#include "tools/bridge/forwarder.h"

namespace lxd::bridge {

void Forwarder::MarkStale(const bool* due, Millis now) {
    for (int p = 0; p < kNumPorts; ++p) {
        if (due[p] && levels_[p] != nullptr && (!sent_[p] || now - lastSent_[p] >= kRefreshAfter)) {
            pending_[p] = true;
        }
    }
}

void Forwarder::Flush(Millis now) {
    int ports[kMaxBlocks];
    int count = 0;
    writer_.Reset();
    for (int p = 0; p < kNumPorts; ++p) {
        if (!pending_[p] || levels_[p] == nullptr) {
            continue;
        }
        pending_[p] = false;
        const auto start = static_cast<std::uint16_t>(p * kChannelsPerPort + 1);
        if (!writer_.Add(start, levels_[p], kChannelsPerPort)) {
            Send(ports, count, now);
            writer_.Reset();
            count = 0;
            writer_.Add(start, levels_[p], kChannelsPerPort);
        }
        ports[count++] = p;
    }
    if (count > 0) {
        Send(ports, count, now);
    }
}

void Forwarder::Send(const int* ports, int count, Millis now) {
    if (!sink_.Send(writer_.Data(), writer_.Size())) {
        ++failures_;
        return;
    }
    ++total_;
    last_ = now;
    for (int i = 0; i < count; ++i) {
        ++datagrams_[ports[i]];
        sent_[ports[i]] = true;
        lastSent_[ports[i]] = now;
    }
}

}  // namespace lxd::bridge
