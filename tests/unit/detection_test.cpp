#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "driver/detection.h"
#include "platform/fake/fake_platform.h"
#include "protocol/pack.h"
#include "tests/unit/driver_test.h"

namespace lxd {
namespace {

// The host's layout, written out here rather than taken from the driver.
constexpr std::size_t kEntry = 358;
constexpr std::size_t kListBytes = 4 + 32 * kEntry;  // 11,460
constexpr std::size_t kGuardBytes = 64;              // behind the list, never written

std::size_t EntryAt(std::int32_t index) {
    return 4 + static_cast<std::size_t>(index) * kEntry;
}

// A detection list filled with a recognisable pattern, followed by guard bytes.
class List {
  public:
    explicit List(std::int32_t count) : bytes_(kListBytes + kGuardBytes) {
        for (std::size_t i = 0; i < bytes_.size(); ++i) {
            bytes_[i] = static_cast<std::uint8_t>(0x80 + i * 7);
        }
        SetCount(count);
    }
    void SetCount(std::int32_t count) { std::memcpy(bytes_.data(), &count, 4); }
    std::int32_t Count() const {
        std::int32_t count;
        std::memcpy(&count, bytes_.data(), 4);
        return count;
    }
    // Sets the four IPv4 address bytes of entry `index` (entry offsets +105..+108).
    void SetAddress(std::int32_t index, std::uint8_t a, std::uint8_t b, std::uint8_t c,
                    std::uint8_t d) {
        std::uint8_t* p = bytes_.data() + EntryAt(index) + 105;
        p[0] = a;
        p[1] = b;
        p[2] = c;
        p[3] = d;
    }
    std::vector<std::uint8_t>& Bytes() { return bytes_; }
    void* Data() { return bytes_.data(); }

  private:
    std::vector<std::uint8_t> bytes_;
};

// What the driver's entry must look like at `index` of `before`, with the new
// count: every byte the driver does not own keeps the host's value.
std::vector<std::uint8_t> Expected(std::vector<std::uint8_t> before, std::int32_t index,
                                   std::uint16_t hostWord) {
    const std::int32_t count = index + 1;
    std::memcpy(before.data(), &count, 4);
    std::uint8_t* e = before.data() + EntryAt(index);
    WriteLittle16(e, hostWord);
    const char name[] = "Dravik Valtrix";
    static_assert(sizeof name == 15);
    std::memcpy(e + 2, name, 15);
    std::memcpy(e + 35, name, 15);
    std::memset(e + 68, 0, 33);
    std::memcpy(e + 69, "xDravik", 7);
    const std::uint8_t address[16] = {0x02, 0x00, 0x09, 0xC5, 0x7F, 0x00, 0x00, 0x01};
    std::memcpy(e + 101, address, 16);
    return before;
}

// Reports the first differing byte, which says far more than a vector dump.
::testing::AssertionResult SameBytes(const std::vector<std::uint8_t>& expected,
                                     const std::vector<std::uint8_t>& actual) {
    if (expected.size() != actual.size()) {
        return ::testing::AssertionFailure() << "sizes differ";
    }
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (expected[i] != actual[i]) {
            return ::testing::AssertionFailure() << "list byte " << i << " is " << int{actual[i]}
                                                 << ", expected " << int{expected[i]};
        }
    }
    return ::testing::AssertionSuccess();
}

class DetectionTest : public test::DriverTest {
  protected:
};

TEST_F(DetectionTest, EmptyListGetsTheEntryByteForByte) {
    List list(0);
    const std::vector<std::uint8_t> expected = Expected(list.Bytes(), 0, 0x1234);
    EXPECT_EQ(driver.ContinueDetect(0x1234, list.Data()), 1);
    EXPECT_TRUE(SameBytes(expected, list.Bytes()));
    EXPECT_TRUE(fake::Platform().calls.empty());
}

TEST_F(DetectionTest, TagFieldReadsAsEmptyText) {
    List list(0);
    driver.ContinueDetect(0, list.Data());
    EXPECT_STREQ(reinterpret_cast<const char*>(list.Bytes().data() + EntryAt(0) + 68), "");
    EXPECT_STREQ(reinterpret_cast<const char*>(list.Bytes().data() + EntryAt(0) + 2),
                 "Dravik Valtrix");
}

TEST_F(DetectionTest, HostWordIsCopiedUnchanged) {
    for (const std::uint16_t word : {0x0000, 0x0001, 0x8000, 0xFFFF}) {
        List list(0);
        const std::vector<std::uint8_t> expected = Expected(list.Bytes(), 0, word);
        driver.ContinueDetect(word, list.Data());
        EXPECT_TRUE(SameBytes(expected, list.Bytes())) << "host word " << word;
    }
}

TEST_F(DetectionTest, SecondCallOnTheSameListChangesNothing) {
    List list(0);
    ASSERT_EQ(driver.ContinueDetect(1, list.Data()), 1);
    const std::vector<std::uint8_t> once = list.Bytes();
    EXPECT_EQ(driver.StartDetect(), 0);
    EXPECT_EQ(driver.ContinueDetect(2, list.Data()), 1);
    EXPECT_TRUE(SameBytes(once, list.Bytes()));
}

// Count 31 fills the last slot, which ends at list byte 11,459; the guard bytes
// behind the list show that nothing is written past it.
TEST_F(DetectionTest, EntryGoesBehindEntriesWithOtherAddresses) {
    for (const std::int32_t count : {1, 5, 30, 31}) {
        List list(count);
        for (std::int32_t i = 0; i < count; ++i) {
            list.SetAddress(i, 192, 168, 0, static_cast<std::uint8_t>(i));
        }
        // Beyond the count a stale 127.0.0.1 entry is not in use and is overwritten.
        list.SetAddress(count, 127, 0, 0, 1);
        const std::vector<std::uint8_t> expected = Expected(list.Bytes(), count, 0xBEEF);
        EXPECT_EQ(driver.ContinueDetect(0xBEEF, list.Data()), 1);
        EXPECT_TRUE(SameBytes(expected, list.Bytes())) << "count " << count;
    }
}

// Lists that must come back exactly as they went in, with the result 1.
struct Unchanged {
    const char* name;
    std::int32_t count;
    std::int32_t duplicateAt;  // entry given 127.0.0.1, or -1
};

class UnchangedListTest : public DetectionTest, public ::testing::WithParamInterface<Unchanged> {};

TEST_P(UnchangedListTest, NothingIsWritten) {
    const Unchanged& c = GetParam();
    List list(c.count);
    for (std::int32_t i = 0; i < c.count && i < 32; ++i) {
        list.SetAddress(i, 10, 0, 0, static_cast<std::uint8_t>(i + 1));
    }
    if (c.duplicateAt >= 0) {
        list.SetAddress(c.duplicateAt, 127, 0, 0, 1);
    }
    const std::vector<std::uint8_t> before = list.Bytes();
    EXPECT_EQ(driver.ContinueDetect(0x4242, list.Data()), 1);
    EXPECT_TRUE(SameBytes(before, list.Bytes()));
}

INSTANTIATE_TEST_SUITE_P(
    Detection, UnchangedListTest,
    ::testing::Values(Unchanged{"Full", 32, -1}, Unchanged{"OverFull", 33, -1},
                      Unchanged{"CountMax", INT_MAX, -1}, Unchanged{"MinusOne", -1, -1},
                      Unchanged{"CountMin", INT_MIN, -1}, Unchanged{"DuplicateFirst", 1, 0},
                      Unchanged{"DuplicateAmongOthers", 6, 3}, Unchanged{"DuplicateLast", 31, 30}),
    [](const ::testing::TestParamInfo<Unchanged>& info) { return info.param.name; });

TEST_F(DetectionTest, DuplicateIsFoundByAddressAloneWhateverItsOtherFields) {
    List list(2);
    list.SetAddress(0, 10, 1, 2, 3);
    list.SetAddress(1, 127, 0, 0, 1);
    // Family, port and name of the matching entry are junk (the fill pattern),
    // not those of the driver's own entry.
    const std::vector<std::uint8_t> before = list.Bytes();
    EXPECT_EQ(driver.ContinueDetect(0, list.Data()), 1);
    EXPECT_TRUE(SameBytes(before, list.Bytes()));
}

TEST_F(DetectionTest, NullListReturnsOne) {
    EXPECT_EQ(driver.ContinueDetect(0, nullptr), 1);
}

TEST_F(DetectionTest, StartDetectIsAlwaysZeroAndNeedsNoConnection) {
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(driver.StartDetect(), 0);
    }
    EXPECT_TRUE(fake::Platform().calls.empty());
    EXPECT_EQ(driver.ConnectionCount(), 0);
}

TEST_F(DetectionTest, DetectedEntryConnects) {
    List list(0);
    driver.ContinueDetect(0, list.Data());
    EXPECT_EQ(driver.Connect(list.Bytes().data() + EntryAt(0)), 0);
    EXPECT_EQ(driver.ConnectionCount(), 1);
}

TEST_F(DetectionTest, AppendCutsALongTagTo32Characters) {
    List list(0);
    const std::string tag(40, 'T');
    const std::uint8_t address[16] = {2, 0, 0x09, 0xC5, 10, 0, 0, 9};
    AppendDeviceEntry(5, list.Data(), address, tag.c_str());
    const std::uint8_t* field = list.Bytes().data() + EntryAt(0) + 68;
    EXPECT_EQ(field[0], 0);
    for (std::size_t i = 1; i < 32; ++i) {
        EXPECT_EQ(field[i], 'T') << "tag byte " << i;
    }
    EXPECT_EQ(field[32], 0);
    EXPECT_EQ(list.Bytes()[EntryAt(0) + 101 + 7], 9);
}

}  // namespace
}  // namespace lxd
