// The twenty exports and the module entry routine: each a short forward to the
// one module-wide driver.
#include <type_traits>

#include "driver/driver.h"
#include "driver/lxdravik.h"
#include "driver/module.h"

namespace {

// Constant-initialised and never destroyed by the C++ runtime: all set-up and
// tidy-up happens in the module entry routine.
lxd::Driver g_driver;
static_assert(std::is_trivially_destructible_v<lxd::Driver>);

}  // namespace

int lxd::ModuleEntry(std::uint32_t reason) {
    return g_driver.OnModuleEvent(reason);
}

extern "C" {

void LXD_CALL GetVersionInfo(int32_t* first, int32_t* second) {
    lxd::Driver::GetVersionInfo(first, second);
}
int32_t LXD_CALL GetDriverCaps(void) {
    return lxd::Driver::GetDriverCaps();
}
int32_t LXD_CALL StartDetect(void) {
    return lxd::Driver::StartDetect();
}
int32_t LXD_CALL ContinueDetect(uint16_t hostWord, void* list) {
    return lxd::Driver::ContinueDetect(hostWord, list);
}
int16_t LXD_CALL Connect(const void* entry) {
    return g_driver.Connect(entry);
}
void LXD_CALL Disconnect(uint16_t device) {
    g_driver.Disconnect(device);
}
int32_t LXD_CALL GetDevCaps(void) {
    return lxd::Driver::GetDevCaps();
}
int32_t LXD_CALL GetNumPorts(uint16_t device) {
    return g_driver.GetNumPorts(device);
}
int32_t LXD_CALL GetPortCaps(uint16_t device, int32_t port) {
    return lxd::Driver::GetPortCaps(device, port);
}
int32_t LXD_CALL LockPortBuffer(uint16_t device, int32_t port) {
    return lxd::Driver::LockPortBuffer(device, port);
}
int32_t LXD_CALL UnlockPortBuffer(uint16_t device, int32_t port) {
    return lxd::Driver::UnlockPortBuffer(device, port);
}
int32_t LXD_CALL GetPortBuffer(uint16_t device, int32_t port, uint8_t** buffer) {
    return g_driver.GetPortBuffer(device, port, buffer);
}
int32_t LXD_CALL GetNumChannels(uint16_t device, int32_t port) {
    return g_driver.GetNumChannels(device, port);
}
void LXD_CALL ServiceDevices(void) {
    g_driver.ServiceDevices();
}
int32_t LXD_CALL GetBrandingBitmap(int32_t kind, void** bitmap, uint32_t* colour) {
    return g_driver.GetBrandingBitmap(kind, bitmap, colour);
}
int32_t LXD_CALL GetBrandingString(int32_t kind, const char** text) {
    return lxd::Driver::GetBrandingString(kind, text);
}
void LXD_CALL Init(void) {
    lxd::Driver::Init();
}
void LXD_CALL Shutdown(void) {
    lxd::Driver::Shutdown();
}
uint8_t LXD_CALL GetChannel(uint16_t device, int32_t port, int32_t channel) {
    return g_driver.GetChannel(device, port, channel);
}
int32_t LXD_CALL GetChannels(uint16_t device, int32_t port, int32_t start, uint8_t* destination,
                             int32_t count) {
    return g_driver.GetChannels(device, port, start, destination, count);
}

}  // extern "C"
