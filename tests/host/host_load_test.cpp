// Loads the DLL as the host application does and checks its export table from
// the loader's side.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "host/driver_library.h"
#include "host/udp.h"

namespace lxd::host {
namespace {

constexpr char kModuleName[] = "lxdravik.dll";

std::vector<std::uint8_t> DetectedList(const DriverExports& d) {
    std::vector<std::uint8_t> list(4 + 32 * 358, 0);
    d.ContinueDetect(0, list.data());
    return list;
}

bool PortIsFree() {
    UdpSocket probe;
    return probe.Bind(2501);
}

TEST(HostLoad, EveryExportResolvesAlikeByNameAndByOrdinal) {
    DriverLibrary driver;
    ASSERT_TRUE(driver.Load(DefaultDriverPath())) << driver.Error();
    for (int ordinal = 1; ordinal <= 20; ++ordinal) {
        const char* name = kExportNames[ordinal - 1];
        void* byName = driver.Symbol(name);
        ASSERT_NE(byName, nullptr) << name;
        EXPECT_EQ(driver.SymbolByOrdinal(ordinal), byName) << name << " @" << ordinal;
    }
    EXPECT_EQ(driver.SymbolByOrdinal(21), nullptr);
    EXPECT_EQ(driver.Symbol("DllMain"), nullptr);
    EXPECT_EQ(driver.Symbol("AppendDeviceEntry"), nullptr);

    // Calls through an ordinal reach the right function.
    using VersionFn = void (*)(std::int32_t*, std::int32_t*);
    VersionFn version;
    void* symbol = driver.SymbolByOrdinal(1);
    std::memcpy(&version, &symbol, sizeof symbol);
    std::int32_t first = 0;
    std::int32_t second = 0;
    version(&first, &second);
    EXPECT_EQ(first, 3);
    EXPECT_EQ(second, 200);
}

TEST(HostLoad, FreeLibraryWithTwoConnectionsThenReloadConnects) {
    DriverLibrary driver;
    ASSERT_TRUE(driver.Load(DefaultDriverPath())) << driver.Error();
    std::vector<std::uint8_t> list = DetectedList(driver.Exports());
    ASSERT_EQ(driver.Exports().Connect(list.data() + 4), 0);
    ASSERT_EQ(driver.Exports().Connect(list.data() + 4), 0);

    driver.Unload();
    EXPECT_EQ(GetModuleHandleA(kModuleName), nullptr) << "the DLL stayed loaded";
    EXPECT_TRUE(PortIsFree());

    ASSERT_TRUE(driver.Load(DefaultDriverPath())) << driver.Error();
    const DriverExports& d = driver.Exports();
    EXPECT_EQ(d.GetNumPorts(0), -1);
    ASSERT_EQ(d.Connect(list.data() + 4), 0);
    EXPECT_EQ(d.GetNumPorts(0), 36);
    EXPECT_FALSE(PortIsFree());
    d.Disconnect(0);
    EXPECT_TRUE(PortIsFree());
}

}  // namespace
}  // namespace lxd::host
