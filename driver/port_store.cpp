#include "driver/port_store.h"

#include <cstring>

#include "driver/connection.h"
#include "driver/lxdravik.h"

namespace lxd {
namespace {

alignas(64) std::uint8_t g_store[kStoreSize] = {};
std::int32_t g_channelsPerPort = 0;

bool ValidPort(std::uint16_t device, std::int32_t port) {
    return device == 0 && port >= 0 && port < kNumPorts;
}

}  // namespace

std::uint8_t* PortStore() {
    return g_store;
}
std::int32_t ChannelsPerPort() {
    return g_channelsPerPort;
}
void SetChannelsPerPort(std::int32_t channels) {
    g_channelsPerPort = channels;
}
void ClearPortStore() {
    std::memset(g_store, 0, sizeof g_store);
}

}  // namespace lxd

using lxd::g_channelsPerPort;
using lxd::g_store;
using lxd::kChannelsPerPort;
using lxd::ValidPort;

extern "C" {

int32_t LXD_CALL GetNumPorts(uint16_t device) {
    if (device != 0 || lxd::ConnectionCount() == 0) {
        return -1;
    }
    return lxd::kNumPorts;
}

int32_t LXD_CALL GetPortCaps(uint16_t, int32_t port) {
    return port == 0 ? 1 : 0;
}

int32_t LXD_CALL LockPortBuffer(uint16_t device, int32_t port) {
    return ValidPort(device, port) ? 0 : -1;
}

int32_t LXD_CALL UnlockPortBuffer(uint16_t device, int32_t port) {
    return ValidPort(device, port) ? 0 : -1;
}

int32_t LXD_CALL GetPortBuffer(uint16_t device, int32_t port, uint8_t** buffer) {
    if (!ValidPort(device, port) || buffer == nullptr) {
        return -1;
    }
    *buffer = g_store + port * kChannelsPerPort;
    return g_channelsPerPort;
}

int32_t LXD_CALL GetNumChannels(uint16_t device, int32_t port) {
    return ValidPort(device, port) ? g_channelsPerPort : -1;
}

uint8_t LXD_CALL GetChannel(uint16_t device, int32_t port, int32_t channel) {
    if (!ValidPort(device, port) || channel < 0 || channel >= g_channelsPerPort) {
        return 0;
    }
    return g_store[port * kChannelsPerPort + channel];
}

int32_t LXD_CALL GetChannels(uint16_t device, int32_t port, int32_t start, uint8_t* destination,
                             int32_t count) {
    if (!ValidPort(device, port) || start < 0 || start >= g_channelsPerPort ||
        destination == nullptr || count < 0) {
        return -1;
    }
    const int32_t room = g_channelsPerPort - start;
    const int32_t n = count < room ? count : room;
    std::memcpy(destination, g_store + port * kChannelsPerPort + start,
                static_cast<std::size_t>(n));
    return n;
}

}  // extern "C"
