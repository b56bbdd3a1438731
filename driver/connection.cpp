#include "driver/connection.h"

#include "driver/lxdravik.h"
#include "driver/port_store.h"

namespace lxd {
namespace {

std::int32_t g_connectionCount = 0;
platform::Socket g_intakeSocket = platform::kInvalidSocket;

constexpr std::size_t kDeviceNameOffset = 2;

// Compares the entry's zero-terminated name field with the device name, up to
// and including the terminator; stops at the first difference.
bool NameMatches(const void* entry) {
    const auto* name = static_cast<const char*>(entry) + kDeviceNameOffset;
    for (std::size_t i = 0; i < sizeof kDeviceName; ++i) {
        if (name[i] != kDeviceName[i]) {
            return false;
        }
    }
    return true;
}

// Opens, binds and unblocks the intake socket; closes it again on failure.
bool OpenIntakeSocket() {
    g_intakeSocket = platform::OpenUdpSocket();
    if (g_intakeSocket == platform::kInvalidSocket) {
        return false;
    }
    // Both are wishes: a refusal leaves a working, if smaller or shared, socket.
    platform::RequestReceiveBuffer(g_intakeSocket, kReceiveBufferRequest);
    platform::ClaimPortExclusively(g_intakeSocket);
    if (platform::BindAnyAddress(g_intakeSocket, kIntakePort) &&
        platform::SetNonBlocking(g_intakeSocket)) {
        return true;
    }
    platform::CloseSocket(g_intakeSocket);
    g_intakeSocket = platform::kInvalidSocket;
    return false;
}

}  // namespace

std::int32_t ConnectionCount() {
    return g_connectionCount;
}
void ResetConnectionCount() {
    g_connectionCount = 0;
}
platform::Socket IntakeSocket() {
    return g_intakeSocket;
}

void DropAllConnections() {
    if (g_connectionCount > 0) {
        g_connectionCount = 1;
        Disconnect(0);
    }
}

}  // namespace lxd

extern "C" {

int16_t LXD_CALL Connect(const void* entry) {
    using namespace lxd;
    if (entry != nullptr && NameMatches(entry)) {
        if (g_connectionCount > 0) {
            ++g_connectionCount;
            return 0;
        }
        if (OpenIntakeSocket()) {
            SetChannelsPerPort(kChannelsPerPort);
            g_connectionCount = 1;
            return 0;
        }
    }
    platform::ShowMessage("Error in Connect");
    return -1;
}

void LXD_CALL Disconnect(uint16_t device) {
    using namespace lxd;
    if (device != 0 || g_connectionCount <= 0) {
        return;
    }
    if (--g_connectionCount > 0) {
        return;
    }
    platform::CloseSocket(g_intakeSocket);
    g_intakeSocket = platform::kInvalidSocket;
    SetChannelsPerPort(0);
}

}  // extern "C"
