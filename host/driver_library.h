// Loads a built driver at run time and resolves its twenty exports, as a host
// application does. Shared by the demo, the monitor and the tests.
#pragma once

#include <cstdint>
#include <string>

#include "driver/lxdravik.h"

namespace lxd::host {

// The twenty exports in ordinal order (ordinal = position + 1); their
// signatures come from the public header.
#define LXD_FOR_EACH_EXPORT(X) \
    X(GetVersionInfo)          \
    X(GetDriverCaps)           \
    X(StartDetect)             \
    X(ContinueDetect)          \
    X(Connect)                 \
    X(Disconnect)              \
    X(GetDevCaps)              \
    X(GetNumPorts)             \
    X(GetPortCaps)             \
    X(LockPortBuffer)          \
    X(UnlockPortBuffer)        \
    X(GetPortBuffer)           \
    X(GetNumChannels)          \
    X(ServiceDevices)          \
    X(GetBrandingBitmap)       \
    X(GetBrandingString)       \
    X(Init)                    \
    X(Shutdown)                \
    X(GetChannel)              \
    X(GetChannels)

inline constexpr int kExportCount = 20;
extern const char* const kExportNames[kExportCount];

// One pointer per export, typed as the public header declares it.
struct DriverExports {
#define LXD_EXPORT_POINTER(name) decltype(&::name) name;
    LXD_FOR_EACH_EXPORT(LXD_EXPORT_POINTER)
#undef LXD_EXPORT_POINTER
};

// A loaded driver library; unloads it when destroyed.
class DriverLibrary {
  public:
    DriverLibrary() = default;
    ~DriverLibrary();
    DriverLibrary(const DriverLibrary&) = delete;
    DriverLibrary& operator=(const DriverLibrary&) = delete;

    // Loads the library and resolves every export by name. On failure returns
    // false and leaves a one-line reason in Error().
    bool Load(const std::string& path);
    void Unload();
    bool Loaded() const { return handle_ != nullptr; }

    // Resolves an export by name or (Windows only) by ordinal; null if absent.
    void* Symbol(const char* name) const;
    void* SymbolByOrdinal(int ordinal) const;

    const DriverExports& Exports() const { return exports_; }
    const std::string& Error() const { return error_; }

  private:
    void* handle_ = nullptr;
    DriverExports exports_{};
    std::string error_;
};

// The driver built beside the running program: lxdravik.dll on Windows,
// liblxdravik.so elsewhere.
std::string DefaultDriverPath();

}  // namespace lxd::host
