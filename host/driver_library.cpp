#include "host/driver_library.h"

#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <climits>
#endif

#include <filesystem>

namespace lxd::host {

#if defined(_WIN32)
const char* const kDriverFileName = "lxdravik.dll";
#else
const char* const kDriverFileName = "liblxdravik.so";
#endif

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
std::string FileOf(void* handle) {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(static_cast<HMODULE>(handle), path, MAX_PATH);
    return std::string(path, n < MAX_PATH ? n : 0);
}
std::string ProgramFile() {
    return FileOf(nullptr);
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
std::string FileOf(void* handle) {
    link_map* map = nullptr;
    if (dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr || map->l_name == nullptr) {
        return std::string();
    }
    return map->l_name;
}
std::string ProgramFile() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return std::string(path, n > 0 ? static_cast<std::size_t>(n) : 0);
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

std::string DriverLibrary::LoadedFile() const {
    return handle_ != nullptr ? FileOf(handle_) : std::string();
}

std::string DefaultDriverPath() {
    return (std::filesystem::path(ProgramFile()).parent_path() / kDriverFileName).string();
}

std::string FindDriver() {
    const std::filesystem::path folder = std::filesystem::path(ProgramFile()).parent_path();
    std::error_code error;
    for (const std::filesystem::path& candidate : {
             folder / kDriverFileName,
#if defined(_WIN32)
                 folder.parent_path() / kDriverFileName,
#endif
         }) {
        if (std::filesystem::is_regular_file(candidate, error)) {
            return candidate.string();
        }
    }
    return kDriverFileName;
}

}  // namespace lxd::host
