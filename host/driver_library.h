// Loads a built driver at run time and resolves its twenty exports, as a host
// application does. Shared by the demo, the monitor and the tests.
#pragma once

#include <cstdint>
#include <string>

namespace lxd::host {

using GetVersionInfoFn = void (*)(std::int32_t*, std::int32_t*);
using IntFn = std::int32_t (*)();
using VoidFn = void (*)();
using ContinueDetectFn = std::int32_t (*)(std::uint16_t, void*);
using ConnectFn = std::int16_t (*)(const void*);
using DisconnectFn = void (*)(std::uint16_t);
using DeviceFn = std::int32_t (*)(std::uint16_t);
using PortFn = std::int32_t (*)(std::uint16_t, std::int32_t);
using GetPortBufferFn = std::int32_t (*)(std::uint16_t, std::int32_t, std::uint8_t**);
using GetChannelFn = std::uint8_t (*)(std::uint16_t, std::int32_t, std::int32_t);
using GetChannelsFn = std::int32_t (*)(std::uint16_t, std::int32_t, std::int32_t, std::uint8_t*,
                                       std::int32_t);
using GetBrandingBitmapFn = std::int32_t (*)(std::int32_t, void**, std::uint32_t*);
using GetBrandingStringFn = std::int32_t (*)(std::int32_t, const char**);

// The twenty exports by name, in ordinal order (ordinal = index + 1).
extern const char* const kExportNames[20];

struct DriverExports {
    GetVersionInfoFn GetVersionInfo;
    IntFn GetDriverCaps;
    IntFn StartDetect;
    ContinueDetectFn ContinueDetect;
    ConnectFn Connect;
    DisconnectFn Disconnect;
    IntFn GetDevCaps;
    DeviceFn GetNumPorts;
    PortFn GetPortCaps;
    PortFn LockPortBuffer;
    PortFn UnlockPortBuffer;
    GetPortBufferFn GetPortBuffer;
    PortFn GetNumChannels;
    VoidFn ServiceDevices;
    GetBrandingBitmapFn GetBrandingBitmap;
    GetBrandingStringFn GetBrandingString;
    VoidFn Init;
    VoidFn Shutdown;
    GetChannelFn GetChannel;
    GetChannelsFn GetChannels;
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
    // The file the system's loader opened, as it names it (a bare name given
    // to Load becomes the path found through the library search).
    std::string LoadedFile() const;

  private:
    void* handle_ = nullptr;
    DriverExports exports_{};
    std::string error_;
};

// The driver's file name: lxdravik.dll on Windows, liblxdravik.so elsewhere.
extern const char* const kDriverFileName;

// The driver built beside the running program.
std::string DefaultDriverPath();

// Where a tool finds the driver when not told: the first that exists of
// beside the program and (Windows) the folder above it, where the installer
// puts the DLL over its tools folder; otherwise the bare file name, which the
// system's loader looks up in its library path.
std::string FindDriver();

}  // namespace lxd::host
