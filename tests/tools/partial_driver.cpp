// A library that passes for the driver at load time but lacks most of its
// exports: the monitor must name the first one missing.
#include <cstdint>

#if defined(_WIN32)
#define LXD_PARTIAL_EXPORT __declspec(dllexport)
#else
#define LXD_PARTIAL_EXPORT __attribute__((visibility("default")))
#endif

extern "C" LXD_PARTIAL_EXPORT void GetVersionInfo(std::int32_t* major, std::int32_t* minor) {
    *major = 0;
    *minor = 0;
}
