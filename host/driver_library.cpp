#include "host/driver_library.h"

#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#endif

namespace lxd::host {

const char* const kExportNames[kExportCount] = {
#define LXD_EXPORT_NAME(name) #name,
    LXD_FOR_EACH_EXPORT(LXD_EXPORT_NAME)
#undef LXD_EXPORT_NAME
};

namespace {

#if defined(_WIN32)
void* OpenLibrary(const std::string& path) {
    return LoadLibraryA(path.c_str());
}
void CloseLibrary(void* handle) {
    FreeLibrary(static_cast<HMODULE>(handle));
}
void* FindSymbol(void* handle, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}
std::string LastLoadError() {
    return "error " + std::to_string(GetLastError());
}
#else
void* OpenLibrary(const std::string& path) {
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}
void CloseLibrary(void* handle) {
    dlclose(handle);
}
void* FindSymbol(void* handle, const char* name) {
    return dlsym(handle, name);
}
std::string LastLoadError() {
    const char* error = dlerror();
    return error != nullptr ? error : "unknown error";
}
#endif

template <typename Fn>
void Assign(Fn& to, void* symbol) {
    static_assert(sizeof(Fn) == sizeof(void*));
    std::memcpy(&to, &symbol, sizeof to);
}

}  // namespace

DriverLibrary::~DriverLibrary() {
    Unload();
}

bool DriverLibrary::Load(const std::string& path) {
    Unload();
    handle_ = OpenLibrary(path);
    if (handle_ == nullptr) {
        error_ = "cannot load driver '" + path + "': " + LastLoadError();
        return false;
    }
    DriverExports resolved{};
    void* symbol = nullptr;
#define LXD_RESOLVE_EXPORT(name)                               \
    if ((symbol = FindSymbol(handle_, #name)) == nullptr) {    \
        error_ = "driver '" + path + "' has no export " #name; \
        Unload();                                              \
        return false;                                          \
    }                                                          \
    Assign(resolved.name, symbol);
    LXD_FOR_EACH_EXPORT(LXD_RESOLVE_EXPORT)
#undef LXD_RESOLVE_EXPORT
    exports_ = resolved;
    error_.clear();
    return true;
}

void DriverLibrary::Unload() {
    if (handle_ != nullptr) {
        CloseLibrary(handle_);
        handle_ = nullptr;
    }
    exports_ = DriverExports{};
}

void* DriverLibrary::Symbol(const char* name) const {
    return handle_ != nullptr ? FindSymbol(handle_, name) : nullptr;
}

void* DriverLibrary::SymbolByOrdinal(int ordinal) const {
#if defined(_WIN32)
    if (handle_ == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<void*>(
        GetProcAddress(static_cast<HMODULE>(handle_), MAKEINTRESOURCEA(ordinal)));
#else
    (void)ordinal;
    return nullptr;
#endif
}

std::string DefaultDriverPath() {
#if defined(_WIN32)
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string self(path, n);
    const std::size_t slash = self.find_last_of("\\/");
    return (slash == std::string::npos ? std::string() : self.substr(0, slash + 1)) +
           "lxdravik.dll";
#else
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    std::string self(path, n > 0 ? static_cast<std::size_t>(n) : 0);
    const std::size_t slash = self.find_last_of('/');
    return (slash == std::string::npos ? std::string("./") : self.substr(0, slash + 1)) +
           "liblxdravik.so";
#endif
}

}  // namespace lxd::host
