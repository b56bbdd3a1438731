#include "tools/bridge/service/service.h"

namespace lxd::bridge {

// systemd runs the console program itself (see packaging/lxdravik-bridge.service).
bool RunAsService(int, char**, int&) {
    return false;
}

}  // namespace lxd::bridge
