#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/fake/fake_platform.h"
#include "tests/unit/driver_test.h"

namespace lxd {
namespace {

// Level of store byte i in the test pattern: never 0 for the bytes read here,
// and different between neighbouring ports.
std::uint8_t Pattern(std::size_t i) {
    return static_cast<std::uint8_t>(1 + (i * 31 + i / 512) % 255);
}

class PortStoreTest : public test::DriverTest {
  protected:
    void SetUp() override {
        for (std::size_t i = 0; i < kStoreSize; ++i) {
            driver.Store()[i] = Pattern(i);
        }
    }
};

enum class Phase { kBefore, kConnected, kAfter };

const char* PhaseName(Phase p) {
    switch (p) {
        case Phase::kBefore:
            return "before";
        case Phase::kConnected:
            return "connected";
        case Phase::kAfter:
            return "after";
    }
    return "?";
}

// One read of the store and its result in each phase of a connection.
struct Read {
    const char* what;
    std::function<int()> call;
    int before;
    int connected;
    int after;
};

TEST_F(PortStoreTest, ReadsBeforeWhileAndAfterAConnection) {
    const int level2_511 = Pattern(2 * 512 + 511);  // store address 1,536
    const int level35_0 = Pattern(35 * 512);
    const std::vector<Read> reads = {
        {"GetNumPorts(0)", [this] { return driver.GetNumPorts(0); }, -1, 36, -1},
        {"GetNumPorts(1)", [this] { return driver.GetNumPorts(1); }, -1, -1, -1},
        {"GetNumChannels(0, 0)", [this] { return driver.GetNumChannels(0, 0); }, 0, 512, 0},
        {"GetNumChannels(0, 35)", [this] { return driver.GetNumChannels(0, 35); }, 0, 512, 0},
        {"GetNumChannels(0, 36)", [this] { return driver.GetNumChannels(0, 36); }, -1, -1, -1},
        {"GetNumChannels(0, -1)", [this] { return driver.GetNumChannels(0, -1); }, -1, -1, -1},
        {"GetNumChannels(1, 0)", [this] { return driver.GetNumChannels(1, 0); }, -1, -1, -1},
        {"GetChannel(0, 2, 511)", [this] { return int{driver.GetChannel(0, 2, 511)}; }, 0,
         level2_511, 0},
        {"GetChannel(0, 35, 0)", [this] { return int{driver.GetChannel(0, 35, 0)}; }, 0, level35_0,
         0},
        {"GetChannel(0, 2, 512)", [this] { return int{driver.GetChannel(0, 2, 512)}; }, 0, 0, 0},
        {"GetChannel(0, 0, -1)", [this] { return int{driver.GetChannel(0, 0, -1)}; }, 0, 0, 0},
        {"GetChannel(0, 36, 0)", [this] { return int{driver.GetChannel(0, 36, 0)}; }, 0, 0, 0},
        {"GetChannel(0, -1, 0)", [this] { return int{driver.GetChannel(0, -1, 0)}; }, 0, 0, 0},
        {"GetChannel(1, 0, 0)", [this] { return int{driver.GetChannel(1, 0, 0)}; }, 0, 0, 0},
        {"GetPortCaps(0, 0)", [this] { return driver.GetPortCaps(0, 0); }, 1, 1, 1},
        {"GetPortCaps(1, 0)", [this] { return driver.GetPortCaps(1, 0); }, 1, 1, 1},
        {"GetPortCaps(0, 1)", [this] { return driver.GetPortCaps(0, 1); }, 0, 0, 0},
        {"GetPortCaps(0, -1)", [this] { return driver.GetPortCaps(0, -1); }, 0, 0, 0},
        {"LockPortBuffer(0, 0)", [this] { return driver.LockPortBuffer(0, 0); }, 0, 0, 0},
        {"LockPortBuffer(0, 35)", [this] { return driver.LockPortBuffer(0, 35); }, 0, 0, 0},
        {"LockPortBuffer(0, 36)", [this] { return driver.LockPortBuffer(0, 36); }, -1, -1, -1},
        {"LockPortBuffer(0, -1)", [this] { return driver.LockPortBuffer(0, -1); }, -1, -1, -1},
        {"LockPortBuffer(1, 0)", [this] { return driver.LockPortBuffer(1, 0); }, -1, -1, -1},
        {"UnlockPortBuffer(0, 0)", [this] { return driver.UnlockPortBuffer(0, 0); }, 0, 0, 0},
        {"UnlockPortBuffer(0, 36)", [this] { return driver.UnlockPortBuffer(0, 36); }, -1, -1, -1},
        {"UnlockPortBuffer(0, -1)", [this] { return driver.UnlockPortBuffer(0, -1); }, -1, -1, -1},
        {"UnlockPortBuffer(1, 0)", [this] { return driver.UnlockPortBuffer(1, 0); }, -1, -1, -1},
    };
    const auto check = [&reads](Phase phase) {
        for (const Read& r : reads) {
            const int expected = phase == Phase::kBefore      ? r.before
                                 : phase == Phase::kConnected ? r.connected
                                                              : r.after;
            EXPECT_EQ(r.call(), expected) << r.what << ", " << PhaseName(phase);
        }
    };
    check(Phase::kBefore);
    ConnectOnce();
    check(Phase::kConnected);
    driver.Disconnect(0);
    check(Phase::kAfter);
    // The levels were never lost: a new connection shows them again.
    ConnectOnce();
    check(Phase::kConnected);
}

TEST_F(PortStoreTest, PortBufferPointsIntoTheStoreConnectedOrNot) {
    for (const bool connected : {false, true}) {
        if (connected) {
            ConnectOnce();
        }
        for (const std::int32_t port : {0, 1, 35}) {
            std::uint8_t* buffer = nullptr;
            EXPECT_EQ(driver.GetPortBuffer(0, port, &buffer), connected ? 512 : 0)
                << "port " << port;
            EXPECT_EQ(buffer, driver.Store() + port * 512) << "port " << port;
        }
    }
}

TEST_F(PortStoreTest, RejectedPortBufferLeavesThePointerAlone) {
    ConnectOnce();
    std::uint8_t sentinel = 0;
    for (const auto& [device, port] : std::vector<std::pair<std::uint16_t, std::int32_t>>{
             {1, 0}, {0, 36}, {0, -1}, {0xFFFF, 0}}) {
        std::uint8_t* buffer = &sentinel;
        EXPECT_EQ(driver.GetPortBuffer(device, port, &buffer), -1) << device << "/" << port;
        EXPECT_EQ(buffer, &sentinel);
    }
    EXPECT_EQ(driver.GetPortBuffer(0, 0, nullptr), -1);
}

// GetChannels while connected, from port 0 unless said otherwise.
struct Copy {
    const char* name;
    std::uint16_t device;
    std::int32_t port;
    std::int32_t start;
    std::int32_t count;
    std::int32_t result;  // also the number of levels copied when positive
};

class GetChannelsTest : public PortStoreTest, public ::testing::WithParamInterface<Copy> {};

TEST_P(GetChannelsTest, CopiesOnlyWithinThePort) {
    const Copy& c = GetParam();
    ConnectOnce();
    constexpr std::uint8_t kUntouched = 0xC3;
    std::vector<std::uint8_t> destination(1024, kUntouched);
    EXPECT_EQ(driver.GetChannels(c.device, c.port, c.start, destination.data(), c.count), c.result);
    const std::size_t copied = c.result > 0 ? static_cast<std::size_t>(c.result) : 0;
    for (std::size_t i = 0; i < copied; ++i) {
        ASSERT_EQ(destination[i], Pattern(c.port * 512 + c.start + i)) << "level " << i;
    }
    for (std::size_t i = copied; i < destination.size(); ++i) {
        ASSERT_EQ(destination[i], kUntouched) << "byte " << i << " written";
    }
}

INSTANTIATE_TEST_SUITE_P(
    PortStore, GetChannelsTest,
    ::testing::Values(Copy{"WholePort", 0, 0, 0, 512, 512}, Copy{"LastPort", 0, 35, 0, 512, 512},
                      Copy{"CutAtPortEnd", 0, 0, 500, 100, 12},
                      Copy{"LastChannel", 0, 0, 511, 1, 1},
                      Copy{"CountAboveAPort", 0, 4, 0, 1000, 512},
                      Copy{"StartAtEnd", 0, 0, 512, 1, -1}, Copy{"NegativeStart", 0, 0, -1, 1, -1},
                      Copy{"CountZero", 0, 3, 0, 0, 0}, Copy{"CountMinusOne", 0, 0, 0, -1, -1},
                      Copy{"CountMin", 0, 0, 10, INT32_MIN, -1}, Copy{"PortAbove", 0, 36, 0, 1, -1},
                      Copy{"PortNegative", 0, -1, 0, 1, -1}, Copy{"OtherDevice", 1, 0, 0, 1, -1}),
    [](const ::testing::TestParamInfo<Copy>& info) { return info.param.name; });

TEST_F(PortStoreTest, GetChannelsWithoutConnectionOrDestinationCopiesNothing) {
    std::vector<std::uint8_t> destination(16, 0xC3);
    EXPECT_EQ(driver.GetChannels(0, 0, 0, destination.data(), 10), -1);
    EXPECT_EQ(destination, std::vector<std::uint8_t>(16, 0xC3));
    ConnectOnce();
    EXPECT_EQ(driver.GetChannels(0, 0, 0, nullptr, 10), -1);
    EXPECT_EQ(driver.GetChannels(0, 0, 0, nullptr, 0), -1);
}

TEST_F(PortStoreTest, FullLevelIsReturnedAsIs) {
    ConnectOnce();
    driver.Store()[7 * 512 + 9] = 255;
    EXPECT_EQ(driver.GetChannel(0, 7, 9), 255);
    std::uint8_t level = 0;
    EXPECT_EQ(driver.GetChannels(0, 7, 9, &level, 1), 1);
    EXPECT_EQ(level, 255);
}

TEST_F(PortStoreTest, ReadsChangeNothing) {
    ConnectOnce();
    const std::vector<std::uint8_t> before(driver.Store(), driver.Store() + kStoreSize);
    std::uint8_t* buffer = nullptr;
    std::uint8_t levels[512];
    for (int i = 0; i < 3; ++i) {
        driver.LockPortBuffer(0, 0);
        driver.LockPortBuffer(0, 0);
        driver.UnlockPortBuffer(0, 0);
        driver.GetPortBuffer(0, 5, &buffer);
        driver.GetChannels(0, 5, 0, levels, 512);
        driver.GetChannel(0, 5, 5);
    }
    EXPECT_EQ(std::vector<std::uint8_t>(driver.Store(), driver.Store() + kStoreSize), before);
    EXPECT_EQ(driver.ConnectionCount(), 1);
    EXPECT_EQ(driver.ChannelsPerPort(), 512);
}

}  // namespace
}  // namespace lxd
