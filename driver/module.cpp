#include "driver/module.h"

#include "branding/branding.h"
#include "driver/connection.h"
#include "driver/lxdravik.h"
#include "driver/port_store.h"
#include "platform/platform.h"

namespace lxd {
namespace {

int ProcessAttach() {
    ResetConnectionCount();
    ClearPortStore();
    std::uint8_t major = 0;
    if (platform::StartSocketLayer(&major) != 0) {
        platform::ShowMessage(kMessageNoSocketLayer);
        return 0;
    }
    if (major < 1) {
        platform::ShowMessage(kMessageNoLevelOne);
        platform::StopSocketLayer();
        return 0;
    }
    return 1;
}

void ProcessDetach() {
    ReleaseBrandingBitmaps();
    DropAllConnections();
    platform::StopSocketLayer();
}

}  // namespace

int ModuleEntry(std::uint32_t reason) {
    switch (reason) {
        case kProcessAttach:
            return ProcessAttach();
        case kProcessDetach:
            ProcessDetach();
            return 1;
        default:
            return 1;
    }
}

}  // namespace lxd

extern "C" {

void LXD_CALL GetVersionInfo(int32_t* first, int32_t* second) {
    if (first != nullptr) {
        *first = 3;
    }
    if (second != nullptr) {
        *second = 200;
    }
}

int32_t LXD_CALL GetDriverCaps(void) {
    return 1;
}
int32_t LXD_CALL GetDevCaps(void) {
    return 1;
}
void LXD_CALL Init(void) {}
void LXD_CALL Shutdown(void) {}

}  // extern "C"
