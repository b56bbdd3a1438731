#include "branding/branding.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "driver/detection.h"
#include "driver/module.h"
#include "platform/fake/fake_platform.h"
#include "tests/support/bmp_builder.h"
#include "tests/support/test_support.h"
#include "tests/unit/driver_test.h"

namespace lxd {
namespace {

using fake::Call;
using test::BmpBuilder;

constexpr std::uint32_t kMagenta = 0x00FF00FF;
constexpr std::uint32_t kWhite = 0x00FFFFFF;
void* const kUnwritten = reinterpret_cast<void*>(std::uintptr_t{0xDEAD});
constexpr std::uint32_t kUnwrittenColour = 0x12345678;

struct Answer {
    std::int32_t result;
    void* bitmap;
    std::uint32_t colour;
};

class BrandingTest : public test::DriverTest {
  protected:
    Answer Request(std::int32_t kind) {
        Answer answer{-7, kUnwritten, kUnwrittenColour};
        answer.result = driver.GetBrandingBitmap(kind, &answer.bitmap, &answer.colour);
        return answer;
    }

    void SetUp() override {
        dir_ = std::filesystem::path(test::MakeTempDirectory());
        fake::Platform().welcomePath = (dir_ / "welcome.bmp").string();
        fake::Platform().modeBarPath = (dir_ / "modebar.bmp").string();
    }
    void TearDown() override {
        driver.Detach();  // the unload destroys what the records hold
        EXPECT_TRUE(fake::Platform().liveBitmaps.empty()) << "a bitmap outlived its record";
        std::filesystem::remove_all(dir_);
    }

    void WriteWelcome(const BmpBuilder& file) {
        ASSERT_TRUE(file.WriteTo(fake::Platform().welcomePath));
    }
    void WriteModeBar(const BmpBuilder& file) {
        ASSERT_TRUE(file.WriteTo(fake::Platform().modeBarPath));
    }

    // Writes both files and requests both bitmaps, which must load.
    void LoadBoth(const void** welcome, const void** modeBar) {
        WriteWelcome(BmpBuilder(4, 2, 24));
        WriteModeBar(BmpBuilder(4, 2, 24));
        *welcome = Request(kBrandingWelcomeBitmap).bitmap;
        *modeBar = Request(kBrandingModeBarBitmap).bitmap;
        ASSERT_NE(*welcome, nullptr);
        ASSERT_NE(*modeBar, nullptr);
    }

    // The bitmap calls in order, as (call, handle) pairs.
    std::vector<std::pair<Call, const void*>> BitmapCalls() {
        std::vector<std::pair<Call, const void*>> calls;
        for (const fake::CallRecord& r : fake::Platform().calls) {
            if (r.call == Call::kCreateBitmap || r.call == Call::kDeleteBitmap) {
                calls.emplace_back(r.call, r.handle);
            }
        }
        return calls;
    }

    std::filesystem::path dir_;
};

TEST_F(BrandingTest, StringsForKindsOneAndFourOnly) {
    const char* text = "unwritten";
    EXPECT_EQ(driver.GetBrandingString(1, &text), 1);
    EXPECT_STREQ(text, "DVK");
    const char* again = nullptr;
    driver.GetBrandingString(1, &again);
    EXPECT_EQ(again, text) << "the text lives in static storage, not in a copy";

    ASSERT_EQ(driver.GetBrandingString(4, &text), 1);
    const std::string support = text;
    const std::string head = "For support please contact:\n\nDravik Lighting\n";
    ASSERT_EQ(support.compare(0, head.size(), head), 0) << support;
    const std::string last = support.substr(head.size());
    EXPECT_EQ(last.find('\n'), last.size() - 1) << "one address line ending in a line feed";
    EXPECT_EQ(last.rfind("https://", 0), 0u) << last;

    for (std::int32_t kind : {0, 2, 3, 5, -1, INT32_MIN, INT32_MAX, 0x10001, 0x10004}) {
        SCOPED_TRACE(kind);
        text = "unwritten";
        EXPECT_EQ(driver.GetBrandingString(kind, &text), 0);
        EXPECT_EQ(text, nullptr);
    }
}

TEST_F(BrandingTest, TwoRequestsGiveTwoHandlesAndDeleteTheFirst) {
    WriteWelcome(BmpBuilder(4, 2, 24));
    const Answer first = Request(kBrandingWelcomeBitmap);
    ASSERT_EQ(first.result, 1);
    EXPECT_EQ(first.colour, kMagenta);
    const Answer second = Request(kBrandingWelcomeBitmap);
    ASSERT_EQ(second.result, 1);
    EXPECT_EQ(second.colour, kMagenta);
    EXPECT_NE(second.bitmap, first.bitmap);
    using C = std::pair<Call, const void*>;
    EXPECT_EQ(BitmapCalls(), (std::vector<C>{{Call::kCreateBitmap, first.bitmap},
                                             {Call::kDeleteBitmap, first.bitmap},
                                             {Call::kCreateBitmap, second.bitmap}}));
    EXPECT_EQ(driver.HeldBitmap(kBrandingWelcomeBitmap), second.bitmap);
}

TEST_F(BrandingTest, ModeBarKindLoadsTheModeBarFile) {
    WriteWelcome(BmpBuilder(4, 2, 24));
    WriteModeBar(BmpBuilder(7, 3, 8));
    const Answer answer = Request(kBrandingModeBarBitmap);
    ASSERT_EQ(answer.result, 1);
    EXPECT_EQ(answer.colour, kMagenta);
    EXPECT_EQ(fake::Platform().lastDib, BmpBuilder(7, 3, 8).BuildDib());
    EXPECT_EQ(driver.HeldBitmap(kBrandingModeBarBitmap), answer.bitmap);
    EXPECT_EQ(driver.HeldBitmap(kBrandingWelcomeBitmap), nullptr);
}

TEST_F(BrandingTest, RemovedFileGivesNullAndLeavesNothingForUnload) {
    WriteWelcome(BmpBuilder(4, 2, 24));
    const Answer loaded = Request(kBrandingWelcomeBitmap);
    ASSERT_EQ(loaded.result, 1);
    std::filesystem::remove(fake::Platform().welcomePath);

    const Answer gone = Request(kBrandingWelcomeBitmap);
    EXPECT_EQ(gone.result, 0);
    EXPECT_EQ(gone.bitmap, nullptr);
    EXPECT_EQ(gone.colour, kWhite);
    EXPECT_EQ(driver.HeldBitmap(kBrandingWelcomeBitmap), nullptr);
    EXPECT_TRUE(fake::Platform().liveBitmaps.empty());

    EXPECT_EQ(driver.OnModuleEvent(kProcessDetach), 1);
    EXPECT_EQ(fake::Platform().Count(Call::kDeleteBitmap), 1u) << "only the reload deleted";
}

TEST_F(BrandingTest, FailedRequestOfOneKindLeavesTheOtherAlone) {
    WriteWelcome(BmpBuilder(4, 2, 24));
    const Answer welcome = Request(kBrandingWelcomeBitmap);
    ASSERT_EQ(welcome.result, 1);

    const Answer missing = Request(kBrandingModeBarBitmap);  // no modebar.bmp
    EXPECT_EQ(missing.result, 0);
    EXPECT_EQ(missing.bitmap, nullptr);
    EXPECT_EQ(missing.colour, kWhite);

    WriteModeBar(BmpBuilder(4, 2, 24).Type('X', 'X'));
    EXPECT_EQ(Request(kBrandingModeBarBitmap).result, 0);

    EXPECT_EQ(fake::Platform().Count(Call::kDeleteBitmap), 0u);
    EXPECT_EQ(driver.HeldBitmap(kBrandingWelcomeBitmap), welcome.bitmap);
    EXPECT_EQ(fake::Platform().liveBitmaps, std::vector<const void*>{welcome.bitmap});
}

TEST_F(BrandingTest, OtherKindsTouchNoRecordAndWriteNullAndWhite) {
    const void* welcome = nullptr;
    const void* modeBar = nullptr;
    ASSERT_NO_FATAL_FAILURE(LoadBoth(&welcome, &modeBar));
    const std::size_t callsBefore = fake::Platform().calls.size();

    for (std::int32_t kind : {0, 1, 4, 5, -1, -2, INT32_MIN, 0x10002, 0x10003}) {
        SCOPED_TRACE(kind);
        const Answer answer = Request(kind);
        EXPECT_EQ(answer.result, 0);
        EXPECT_EQ(answer.bitmap, nullptr);
        EXPECT_EQ(answer.colour, kWhite);
    }
    EXPECT_EQ(fake::Platform().calls.size(), callsBefore);
    EXPECT_EQ(driver.HeldBitmap(kBrandingWelcomeBitmap), welcome);
    EXPECT_EQ(driver.HeldBitmap(kBrandingModeBarBitmap), modeBar);
}

// The file changes on disk between requests; each request reads it afresh and
// at most one bitmap of the kind is ever alive.
TEST_F(BrandingTest, FileChangesBetweenRequestsShowAtTheNextRequest) {
    struct Step {
        const char* name;
        bool present;
        BmpBuilder file;
        bool loads;
    };
    const std::vector<Step> steps = {
        {"first picture", true, BmpBuilder(4, 2, 24).Row({0x112233}), true},
        {"replaced by another size", true, BmpBuilder(9, 5, 8).Row({3, 1, 4}), true},
        {"truncated", true, BmpBuilder(9, 5, 8).TruncateTo(14 + 40 + 1024 + 10), false},
        {"rewritten whole", true, BmpBuilder(2, 2, 32).Bitfields(0xFF, 0xFF00, 0xFF0000), true},
        {"replaced by a broken type", true, BmpBuilder(2, 2, 24).Type('B', 'A'), false},
        {"cut to 14 bytes", true, BmpBuilder(2, 2, 24).TruncateTo(14), false},
        {"back again", true, BmpBuilder(1, 1, 1), true},
        {"removed", false, BmpBuilder(1, 1, 1), false},
    };
    std::size_t created = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        if (step.present) {
            WriteWelcome(step.file);
        } else {
            std::filesystem::remove(fake::Platform().welcomePath);
        }
        const Answer answer = Request(kBrandingWelcomeBitmap);
        EXPECT_EQ(answer.result, step.loads ? 1 : 0);
        EXPECT_EQ(answer.colour, step.loads ? kMagenta : kWhite);
        EXPECT_EQ(driver.HeldBitmap(kBrandingWelcomeBitmap), answer.bitmap);
        if (step.loads) {
            ++created;
            EXPECT_EQ(fake::Platform().lastDib, step.file.BuildDib());
            EXPECT_EQ(fake::Platform().liveBitmaps, std::vector<const void*>{answer.bitmap});
        } else {
            EXPECT_EQ(answer.bitmap, nullptr);
            EXPECT_TRUE(fake::Platform().liveBitmaps.empty());
        }
        EXPECT_EQ(fake::Platform().Count(Call::kCreateBitmap), created);
        EXPECT_EQ(fake::Platform().Count(Call::kFreeBlock),
                  fake::Platform().Count(Call::kAllocateBlock));
    }
}

TEST_F(BrandingTest, FailedCreationIsReportedAsNoBitmap) {
    WriteWelcome(BmpBuilder(4, 2, 24));
    ASSERT_EQ(Request(kBrandingWelcomeBitmap).result, 1);
    fake::Platform().failCreateBitmap = true;
    const Answer answer = Request(kBrandingWelcomeBitmap);
    EXPECT_EQ(answer.result, 0);
    EXPECT_EQ(answer.bitmap, nullptr);
    EXPECT_EQ(answer.colour, kWhite);
    EXPECT_EQ(driver.HeldBitmap(kBrandingWelcomeBitmap), nullptr);
}

TEST_F(BrandingTest, UnloadDeletesWelcomeThenModeBarThenClosesTheSocketThenStops) {
    const void* welcome = nullptr;
    const void* modeBar = nullptr;
    ASSERT_NO_FATAL_FAILURE(LoadBoth(&welcome, &modeBar));
    ConnectOnce();
    const platform::Socket socket = driver.IntakeSocket();
    fake::Platform().calls.clear();

    EXPECT_EQ(driver.OnModuleEvent(kProcessDetach), 1);

    struct Seen {
        Call call;
        const void* handle;
        platform::Socket socket;
        bool operator==(const Seen& o) const {
            return call == o.call && handle == o.handle && socket == o.socket;
        }
    };
    std::vector<Seen> seen;
    for (const fake::CallRecord& r : fake::Platform().calls) {
        seen.push_back({r.call, r.handle, r.socket});
    }
    const std::vector<Seen> expected = {{Call::kDeleteBitmap, welcome, 0},
                                        {Call::kDeleteBitmap, modeBar, 0},
                                        {Call::kCloseSocket, nullptr, socket},
                                        {Call::kStopSocketLayer, nullptr, 0}};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(driver.HeldBitmap(kBrandingWelcomeBitmap), nullptr);
    EXPECT_EQ(driver.HeldBitmap(kBrandingModeBarBitmap), nullptr);
    EXPECT_EQ(driver.ConnectionCount(), 0);
}

TEST_F(BrandingTest, UnloadDeletesOnlyTheBitmapsHeld) {
    WriteModeBar(BmpBuilder(4, 2, 24));
    const void* modeBar = Request(kBrandingModeBarBitmap).bitmap;
    ASSERT_NE(modeBar, nullptr);
    EXPECT_EQ(driver.OnModuleEvent(kProcessDetach), 1);
    using C = std::pair<Call, const void*>;
    EXPECT_EQ(BitmapCalls(),
              (std::vector<C>{{Call::kCreateBitmap, modeBar}, {Call::kDeleteBitmap, modeBar}}));
    EXPECT_EQ(driver.HeldBitmap(kBrandingModeBarBitmap), nullptr);

    fake::Platform().calls.clear();
    EXPECT_EQ(driver.OnModuleEvent(kProcessDetach), 1);
    EXPECT_EQ(fake::Platform().Count(Call::kDeleteBitmap), 0u);
}

}  // namespace
}  // namespace lxd
