// The dissector judges datagrams as the driver does. A corpus (the shared
// samples and seeded random datagrams, which the datagram fuzzer also starts
// from) goes through the driver's ApplyDatagram and, as one capture,
// through one tshark run with the dissector. For every datagram both must
// write the same levels to the same channels, write bracket by write bracket
// (block by block), count them alike, and agree on whether anything is
// applied. Behind the corpus, frames that the driver never receives, or
// receives only reassembled or the capture holds only in part.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "host/capture.h"
#include "intake/datagram.h"
#include "protocol/layout.h"
#include "tests/support/datagram_samples.h"
#include "tests/support/packets.h"
#include "tests/support/test_support.h"
#include "tests/wireshark/tshark.h"

namespace lxd::test {
namespace {

using Writes = std::map<std::uint32_t, std::uint8_t>;  // store index -> level

// The driver's writes, recorded around each write bracket: the hooks reset
// the store to a fill before the bracket and collect what differs after it.
// Two runs with fills 0x00 and 0xFF catch every level, whatever its value.
struct Recorder {
    std::vector<std::uint8_t> store = std::vector<std::uint8_t>(kStoreSize);
    std::uint8_t fill = 0;
    std::vector<Writes> brackets;
};

void ResetStore(void* context) {
    auto* r = static_cast<Recorder*>(context);
    std::fill(r->store.begin(), r->store.end(), r->fill);
}
void CollectWrites(void* context) {
    auto* r = static_cast<Recorder*>(context);
    Writes writes;
    for (std::uint32_t i = 0; i < kStoreSize; ++i) {
        if (r->store[i] != r->fill) {
            writes[i] = r->store[i];
        }
    }
    r->brackets.push_back(writes);
}

std::vector<Writes> DriverWrites(const Bytes& datagram) {
    // The receive hands over neither empty nor over-long datagrams.
    if (datagram.empty() || datagram.size() > static_cast<std::size_t>(kLargestDatagram)) {
        return {};
    }
    Recorder runs[2];
    runs[1].fill = 0xFF;
    for (Recorder& run : runs) {
        ApplyDatagram(datagram.data(), static_cast<std::uint32_t>(datagram.size()),
                      run.store.data(), StoreWriteHooks{&run, &ResetStore, &CollectWrites});
    }
    EXPECT_EQ(runs[0].brackets.size(), runs[1].brackets.size());
    for (std::size_t k = 0; k < runs[0].brackets.size() && k < runs[1].brackets.size(); ++k) {
        runs[0].brackets[k].insert(runs[1].brackets[k].begin(), runs[1].brackets[k].end());
    }
    return runs[0].brackets;
}

std::size_t Written(const std::vector<Writes>& brackets) {
    std::size_t n = 0;
    for (const Writes& w : brackets) {
        n += w.size();
    }
    return n;
}

// What the dissector claims for one frame.
struct Claim {
    bool dissected = false;
    bool applied = false;
    std::string written;
    std::vector<Writes> brackets;
};

const std::vector<std::string> kFields = {
    "lxdravik.applied",       "lxdravik.written",       "lxdravik.level.start",
    "lxdravik.level.levels",  "lxdravik.block.applied", "lxdravik.block.start",
    "lxdravik.block.written", "lxdravik.block.levels",  "lxdravik"};

Writes Placed(const std::string& start, const std::string& levels) {
    Writes writes;
    std::uint32_t at = static_cast<std::uint32_t>(std::stoul(start) - 1);
    for (const std::uint8_t level : HexBytes(levels)) {
        writes[at++] = level;
    }
    return writes;
}

Claim ClaimOf(const std::vector<std::vector<std::string>>& f) {
    Claim claim;
    claim.dissected = !f[8].empty();
    claim.applied = f[0] == std::vector<std::string>{"1"};
    claim.written = f[1].empty() ? "" : f[1][0];
    if (!claim.applied) {
        return claim;
    }
    if (!f[3].empty()) {
        EXPECT_EQ(f[3].size(), 1u);
        claim.brackets.push_back(Placed(f[2].at(0), f[3][0]));
    }
    // Start and written come with every block shown, levels with applied ones.
    EXPECT_EQ(f[4].size(), f[5].size());
    EXPECT_EQ(f[4].size(), f[6].size());
    std::size_t levels = 0;
    for (std::size_t k = 0; k < f[4].size() && k < f[5].size() && k < f[6].size(); ++k) {
        if (f[4][k] == "1" && levels < f[7].size()) {
            claim.brackets.push_back(Placed(f[5][k], f[7][levels++]));
            EXPECT_EQ(f[6][k], std::to_string(claim.brackets.back().size())) << "block " << k;
        }
    }
    EXPECT_EQ(levels, f[7].size());
    return claim;
}

std::vector<NamedDatagram> Corpus() {
    std::vector<NamedDatagram> corpus = DatagramSamples();
    const std::vector<NamedDatagram> random = RandomDatagrams(2501, 600);
    corpus.insert(corpus.end(), random.begin(), random.end());
    // Blocks that the driver takes and that write nothing.
    corpus.push_back({"block-empty-code", BlockDatagram({{1, 5, {}}})});
    corpus.push_back({"block-only-code-cut", BlockDatagram({{1, 5, {0x85}}})});
    return corpus;
}

// A datagram in frames that decide whether the driver gets it: it does when
// `received`, once the last frame is in, even where the capture holds only
// `captured` bytes of that frame (0: all).
struct Delivery {
    const char* name;
    Bytes datagram;
    std::vector<Bytes> frames;
    bool received;
    std::size_t captured = 0;
};

std::vector<Delivery> Deliveries() {
    const Bytes level = LevelDatagram(1, {1, 2, 3, 4});
    const Bytes full = LevelDatagram(1, Bytes(1024, 0x42));
    return {
        {"ipv6", level, {Ipv6Frame(level)}, false},
        {"from-port-2501", level, {Ipv4Frame(level, 2501, 40000)}, false},
        {"quoted-in-icmp", level, {IcmpQuoteFrame(level)}, false},
        {"fragments", full, FragmentFrames(full, 600), true},
        {"snapshot-cut", full, {Ipv4Frame(full)}, true, 14 + 28 + 100},
    };
}

std::string DeliveryCapture(const std::vector<NamedDatagram>& corpus,
                            const std::vector<Delivery>& deliveries) {
    const std::string capture = MakeTempDirectory() + "/agreement.pcap";
    host::CaptureWriter writer;
    std::string error;
    EXPECT_TRUE(writer.Open(capture, host::Link::kEthernet, error)) << error;
    for (const NamedDatagram& d : corpus) {
        EXPECT_TRUE(writer.Write(0, {host::kLoopbackAddress, 50000}, {host::kLoopbackAddress, 2501},
                                 d.bytes.data(), d.bytes.size()));
    }
    for (const Delivery& d : deliveries) {
        for (std::size_t i = 0; i < d.frames.size(); ++i) {
            const bool last = i + 1 == d.frames.size();
            const std::size_t n = last && d.captured > 0 ? d.captured : d.frames[i].size();
            EXPECT_TRUE(writer.WriteFrame(0, d.frames[i].data(), n, d.frames[i].size()));
        }
    }
    EXPECT_TRUE(writer.Close(error)) << error;
    return capture;
}

TEST(DissectorAgreement, WritesTheSameLevelsAsTheDriverForEveryDatagram) {
    if (TsharkPath().empty()) {
        GTEST_SKIP() << "tshark is not installed (Debian package tshark)";
    }
    const std::vector<NamedDatagram> corpus = Corpus();
    const std::vector<Delivery> deliveries = Deliveries();
    const std::string capture = DeliveryCapture(corpus, deliveries);
    const TsharkFields run = RunTshark(capture, kFields);
    ASSERT_EQ(run.exitCode, 0) << run.error;
    ASSERT_GE(run.frames.size(), corpus.size()) << run.error;
    int applied = 0;
    int appliedBlocks = 0;
    for (std::size_t i = 0; i < corpus.size(); ++i) {
        SCOPED_TRACE(corpus[i].name + " (frame " + std::to_string(i + 1) + ", " +
                     std::to_string(corpus[i].bytes.size()) + " bytes)");
        const std::vector<Writes> driver = DriverWrites(corpus[i].bytes);
        const Claim claim = ClaimOf(run.frames[i]);
        // Wireshark hands an empty UDP payload to no dissector.
        EXPECT_EQ(claim.dissected, !corpus[i].bytes.empty());
        EXPECT_EQ(claim.applied, !driver.empty());
        EXPECT_EQ(claim.brackets, driver);
        if (claim.dissected) {
            EXPECT_EQ(claim.written, std::to_string(Written(driver)));
        }
        applied += driver.empty() ? 0 : 1;
        appliedBlocks += static_cast<int>(driver.size());
    }
    // The corpus must reach both verdicts often, or it proves little.
    EXPECT_GT(applied, 150);
    EXPECT_LT(applied, static_cast<int>(corpus.size()) - 150);
    EXPECT_GT(appliedBlocks, 400);

    // Around the datagram: a verdict only where the driver would see it (and
    // for fragments only reassembled), `applied` never where it would not.
    const TsharkFields apart = RunTshark(capture, kFields, {"-o", "ip.defragment:FALSE"});
    ASSERT_EQ(apart.frames.size(), run.frames.size()) << apart.error;
    std::size_t frame = corpus.size();
    for (const Delivery& d : deliveries) {
        SCOPED_TRACE(d.name);
        const std::vector<Writes> driver =
            d.received ? DriverWrites(d.datagram) : std::vector<Writes>{};
        for (std::size_t i = 0; i < d.frames.size(); ++i, ++frame) {
            ASSERT_LT(frame, run.frames.size());
            const bool last = i + 1 == d.frames.size();
            const Claim together = ClaimOf(run.frames[frame]);
            const Claim split = ClaimOf(apart.frames[frame]);
            EXPECT_EQ(together.dissected, last);
            if (last) {
                EXPECT_EQ(together.applied, !driver.empty());
                EXPECT_EQ(together.written, std::to_string(Written(driver)));
            }
            if (d.frames.size() == 1) {
                EXPECT_EQ(split.applied, together.applied);
                EXPECT_EQ(split.written, together.written);
            } else {
                // The first fragment is shown, not judged; the others not at all.
                EXPECT_EQ(split.dissected, i == 0);
                EXPECT_EQ(apart.frames[frame][0], std::vector<std::string>{});
            }
        }
    }
    // The levels of a frame cut short are those the capture holds.
    const auto& cut = run.frames[frame - 1];
    ASSERT_EQ(cut[3].size(), 1u);
    EXPECT_EQ(HexBytes(cut[3][0]), Bytes(100 - 66, 0x42));
}

}  // namespace
}  // namespace lxd::test
