// A library that passes for the driver at load time but lacks most of its
// exports: the monitor must name the first one missing.
#include <cstdint>

extern "C" __attribute__((visibility("default"))) void GetVersionInfo(std::int32_t* major,
                                                                      std::int32_t* minor) {
    *major = 0;
    *minor = 0;
}
