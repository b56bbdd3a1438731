// The DLL entry point hands every notification to the module entry routine.
#include <windows.h>

#include "driver/module.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    return lxd::ModuleEntry(reason);
}
