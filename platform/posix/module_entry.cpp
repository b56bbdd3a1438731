// The library's constructor and destructor run the module entry routine, as
// the Windows loader does with DllMain.
#include "driver/module.h"

namespace {

__attribute__((constructor)) void AttachModule() {
    lxd::ModuleEntry(lxd::kProcessAttach);
}
__attribute__((destructor)) void DetachModule() {
    lxd::ModuleEntry(lxd::kProcessDetach);
}

}  // namespace
