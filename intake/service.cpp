// ServiceDevices: drains the intake socket into the port store.
#include "driver/connection.h"
#include "driver/lxdravik.h"
#include "driver/port_store.h"
#include "intake/datagram.h"
#include "platform/platform.h"

namespace {

void LockStore() {
    LockPortBuffer(0, 0);
}
void UnlockStore() {
    UnlockPortBuffer(0, 0);
}

constexpr lxd::StoreWriteHooks kStoreHooks{&LockStore, &UnlockStore};

}  // namespace

extern "C" void LXD_CALL ServiceDevices(void) {
    const lxd::platform::Socket socket = lxd::IntakeSocket();
    if (socket == lxd::platform::kInvalidSocket) {
        return;
    }
    std::uint8_t buffer[lxd::kReceiveBufferSize];
    std::uint8_t* const store = lxd::PortStore();
    for (;;) {
        const int received = lxd::platform::ReceiveDatagram(socket, buffer, sizeof buffer);
        if (received <= 0) {
            return;
        }
        lxd::ApplyDatagram(buffer, static_cast<std::uint32_t>(received), store, kStoreHooks);
    }
}
