// The dissector judges datagrams as the driver does. A corpus (the shared
// samples and seeded random datagrams, which the datagram fuzzer also starts
// from) goes through the driver's ApplyDatagram and, as one capture,
// through one tshark run with the dissector. For every datagram both must
// write the same levels to the same channels, write bracket by write bracket
// (block by block), and agree on whether anything is applied.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "host/datagram_samples.h"
#include "intake/datagram.h"
#include "intake/store_layout.h"
#include "tests/wireshark/tshark.h"

namespace lxd::test {
namespace {

using host::Bytes;
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
    if (datagram.empty() || datagram.size() > static_cast<std::size_t>(kReceiveBufferSize)) {
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

// What the dissector claims for one frame.
struct Claim {
    bool dissected = false;
    bool applied = false;
    std::vector<Writes> brackets;
};

const std::vector<std::string> kFields = {"lxdravik.applied",       "lxdravik.level.port",
                                          "lxdravik.level.channel", "lxdravik.level.levels",
                                          "lxdravik.block.applied", "lxdravik.block.port",
                                          "lxdravik.block.channel", "lxdravik.block.levels"};

Writes Placed(const std::string& port, const std::string& channel, const std::string& levels) {
    Writes writes;
    std::uint32_t at =
        static_cast<std::uint32_t>(std::stoul(port) * kChannelsPerPort + std::stoul(channel));
    for (const std::uint8_t level : HexBytes(levels)) {
        writes[at++] = level;
    }
    return writes;
}

Claim ClaimOf(const std::vector<std::vector<std::string>>& f) {
    Claim claim;
    claim.dissected = !f[0].empty();
    claim.applied = f[0] == std::vector<std::string>{"1"};
    if (!f[3].empty()) {
        EXPECT_EQ(f[3].size(), 1u);
        claim.brackets.push_back(Placed(f[1].at(0), f[2].at(0), f[3][0]));
    }
    // Port and channel come with every block shown, levels with applied ones.
    EXPECT_EQ(f[4].size(), f[5].size());
    EXPECT_EQ(f[4].size(), f[6].size());
    std::size_t levels = 0;
    for (std::size_t k = 0; k < f[4].size() && k < f[5].size() && k < f[6].size(); ++k) {
        if (f[4][k] == "1" && levels < f[7].size()) {
            claim.brackets.push_back(Placed(f[5][k], f[6][k], f[7][levels++]));
        }
    }
    EXPECT_EQ(levels, f[7].size());
    return claim;
}

std::vector<host::NamedDatagram> Corpus() {
    std::vector<host::NamedDatagram> corpus = host::DatagramSamples();
    const std::vector<host::NamedDatagram> random = host::RandomDatagrams(2501, 600);
    corpus.insert(corpus.end(), random.begin(), random.end());
    return corpus;
}

TEST(DissectorAgreement, WritesTheSameLevelsAsTheDriverForEveryDatagram) {
    if (TsharkPath().empty()) {
        GTEST_SKIP() << "tshark is not installed (Debian package tshark)";
    }
    const std::vector<host::NamedDatagram> corpus = Corpus();
    std::vector<Bytes> datagrams;
    for (const host::NamedDatagram& d : corpus) {
        datagrams.push_back(d.bytes);
    }
    const TsharkFields run = RunTshark(CaptureOf(datagrams), kFields);
    ASSERT_EQ(run.exitCode, 0) << run.error;
    ASSERT_EQ(run.frames.size(), corpus.size()) << run.error;
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
        applied += driver.empty() ? 0 : 1;
        appliedBlocks += static_cast<int>(driver.size());
    }
    // The corpus must reach both verdicts often, or it proves little.
    EXPECT_GT(applied, 150);
    EXPECT_LT(applied, static_cast<int>(corpus.size()) - 150);
    EXPECT_GT(appliedBlocks, 400);
}

}  // namespace
}  // namespace lxd::test
