// lxdravik-monitor: a stand-in for the host application.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/common/driver_library.h"

int main(int argc, char** argv) {
    std::string path = lxd::host::DefaultDriverPath();
    if (argc > 2 && std::strcmp(argv[1], "--driver") == 0) {
        path = argv[2];
    }
    lxd::host::DriverLibrary driver;
    if (!driver.Load(path)) {
        std::fprintf(stderr, "lxdravik-monitor: %s\n", driver.Error().c_str());
        return 1;
    }
    const lxd::host::DriverExports& d = driver.Exports();
    std::int32_t major = 0, minor = 0;
    d.GetVersionInfo(&major, &minor);
    std::printf("driver      %s (version %d.%d)\n", path.c_str(), major, minor);

    std::vector<std::uint8_t> list(4 + 32 * 358, 0);
    d.StartDetect();
    d.ContinueDetect(0, list.data());
    std::int32_t count;
    std::memcpy(&count, list.data(), 4);
    if (count < 1) {
        std::fprintf(stderr, "lxdravik-monitor: detection found no device\n");
        return 1;
    }
    const std::uint8_t* entry = list.data() + 4;
    const std::uint8_t* ip = entry + 105;
    std::printf("device      \"%s\" at %u.%u.%u.%u port %u\n",
                reinterpret_cast<const char*>(entry + 2), ip[0], ip[1], ip[2], ip[3],
                unsigned(entry[103] << 8 | entry[104]));
    if (d.Connect(entry) != 0) {
        std::fprintf(stderr, "lxdravik-monitor: Connect failed (is UDP port 2501 in use?)\n");
        return 1;
    }
    d.ServiceDevices();
    std::printf("ports       %d\n", d.GetNumPorts(0));
    std::printf("channels    %d per port\n", d.GetNumChannels(0, 0));
    std::uint8_t levels[16];
    const int n = d.GetChannels(0, 0, 0, levels, sizeof levels);
    std::printf("port 0     ");
    for (int i = 0; i < n; ++i) {
        std::printf(" %3u", levels[i]);
    }
    std::printf("\n");
    d.Disconnect(0);
    return 0;
}
