// Writes the seed corpus of every fuzz target: make_seeds DIRECTORY writes
// DIRECTORY/<target>/<name> for each seed.
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/fuzz_inputs.h"
#include "host/capture.h"
#include "protocol/run_length.h"
#include "tests/support/bridge_packets.h"
#include "tests/support/datagram_samples.h"
#include "tests/support/packets.h"

namespace {

using lxd::test::Bytes;

std::string g_root;
int g_written = 0;

bool MakeDirectory(const std::string& path) {
    return ::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

std::string SeedPath(const std::string& target, const std::string& name) {
    const std::string dir = g_root + "/" + target;
    if (!MakeDirectory(dir)) {
        std::perror(dir.c_str());
        std::exit(1);
    }
    return dir + "/seed-" + name;
}

void Write(const std::string& target, const std::string& name, const Bytes& bytes) {
    const std::string path = SeedPath(target, name);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
        std::perror(path.c_str());
        std::exit(1);
    }
    std::fclose(f);
    ++g_written;
}

using lxd::test::SampleLevels;

void DatagramSeeds() {
    for (const lxd::test::NamedDatagram& sample : lxd::test::DatagramSamples()) {
        Write("fuzz_datagram", sample.name, sample.bytes);
    }
    for (const lxd::test::NamedDatagram& sample : lxd::test::RandomDatagrams(1, 60)) {
        Write("fuzz_datagram", sample.name, sample.bytes);
    }
}

void DecodeSeeds() {
    const char* t = "fuzz_decode_run_length";
    auto seed = [&](const std::string& name, std::uint32_t expected, std::uint32_t room,
                    const Bytes& code) {
        Bytes b(lxd::fuzz::kDecodeHeader);
        lxd::WriteLittle32(b.data(), expected);
        lxd::WriteLittle16(b.data() + 4, room);
        b.insert(b.end(), code.begin(), code.end());
        Write(t, name, b);
    };
    seed("exact", 8, 8, {0x85, 0x00, 0x03, 0x0A, 0x0B, 0x0C});
    seed("extra-code", 8, 64, {0x85, 0x00, 0x03, 0x0A, 0x0B, 0x0C, 0x84, 0xFF});
    seed("short-code", 5, 5, {0x83, 0x07});
    seed("overshoot", 3, 5, {0x85, 0x07});
    seed("overshoot-room", 3, 3, {0xFF, 0x07});
    seed("zero-counts", 2, 2, {0x80, 0x41, 0x00, 0x82, 0x09});
    seed("cut-run", 10, 10, {0x83});
    seed("cut-literal", 10, 10, {0x05, 1, 2});
    seed("expected-zero", 0, 200, {0xFF, 0x2A, 0x83, 0x01});
    seed("huge-expected", 0xFFFFFFFFu, 512, lxd::test::CodedBlockData(SampleLevels(400, 8)));
    seed("block", 512, 512, lxd::test::CodedBlockData(SampleLevels(512, 9)));
    Bytes literal{0x7F};
    const Bytes lv = SampleLevels(127, 2);
    literal.insert(literal.end(), lv.begin(), lv.end());
    seed("full-literal", 127, 127, literal);
}

void StridedSeeds() {
    const char* t = "fuzz_strided";
    auto seed = [&](const std::string& name, std::uint8_t selector, std::uint32_t destination,
                    const Bytes& payload) {
        Bytes b(lxd::fuzz::kStridedHeader);
        b[0] = selector;
        lxd::WriteLittle16(b.data() + 1, destination);
        b.insert(b.end(), payload.begin(), payload.end());
        Write(t, name, b);
    };
    seed("pairs-stride2", 1, 8, {0, 1, 0, 1, 0, 1, 0, 1});
    seed("stride3", 2, 8, {0x10, 0x20, 0x30, 0x10, 0x20, 0x30, 0x10, 0x20});
    seed("code-stride2", 1, 8, {0x84, 0x00, 0x84, 0x01});
    seed("overrun", 0, 4, {0x85, 0x41});
    seed("zero-stride", 240, 8, {1, 2, 3});
    seed("wide-stride", 250, 5, SampleLevels(40, 3));
    seed("levels-512-stride3", 2, 512, SampleLevels(512, 1));
    seed("levels-512-stride16", 15, 512, SampleLevels(512, 2));
    Bytes run(300, 0x41);
    run.push_back(0x42);
    seed("long-run", 0, 301, run);
    seed("empty", 0, 0, {});
}

// A BMP file: 14-byte file header, 40-byte info header, colour table or
// masks, pixel rows padded to 4 bytes.
Bytes Bitmap(std::int32_t width, std::int32_t height, std::uint16_t bits, std::uint32_t compression,
             std::uint32_t coloursUsed, const std::vector<std::uint32_t>& tableOrMasks) {
    const std::uint32_t rowBytes = (static_cast<std::uint32_t>(width) * bits + 31) / 32 * 4;
    const std::uint32_t rows = static_cast<std::uint32_t>(height < 0 ? -height : height);
    const std::size_t pixelsAt = 54 + 4 * tableOrMasks.size();
    Bytes b(pixelsAt + std::size_t{rowBytes} * rows);
    b[0] = 'B';
    b[1] = 'M';
    lxd::WriteLittle32(b.data() + 2, static_cast<std::uint32_t>(b.size()));
    lxd::WriteLittle32(b.data() + 10, static_cast<std::uint32_t>(pixelsAt));
    lxd::WriteLittle32(b.data() + 14, 40);
    lxd::WriteLittle32(b.data() + 18, static_cast<std::uint32_t>(width));
    lxd::WriteLittle32(b.data() + 22, static_cast<std::uint32_t>(height));
    lxd::WriteLittle16(b.data() + 26, 1);
    lxd::WriteLittle16(b.data() + 28, bits);
    lxd::WriteLittle32(b.data() + 30, compression);
    lxd::WriteLittle32(b.data() + 34, rowBytes * rows);
    lxd::WriteLittle32(b.data() + 46, coloursUsed);
    for (std::size_t i = 0; i < tableOrMasks.size(); ++i) {
        lxd::WriteLittle32(b.data() + 54 + 4 * i, tableOrMasks[i]);
    }
    for (std::size_t i = pixelsAt; i < b.size(); ++i) {
        b[i] = static_cast<std::uint8_t>(i * 37);
    }
    return b;
}

std::vector<std::uint32_t> Palette(std::size_t n) {
    std::vector<std::uint32_t> p(n);
    for (std::size_t i = 0; i < n; ++i) {
        p[i] = static_cast<std::uint32_t>(i * 0x010203u);
    }
    return p;
}

void BmpSeeds() {
    const char* t = "fuzz_bmp";
    Write(t, "1bit", Bitmap(13, 5, 1, 0, 0, Palette(2)));
    Write(t, "4bit", Bitmap(7, 3, 4, 0, 0, Palette(16)));
    Write(t, "8bit", Bitmap(9, 4, 8, 0, 0, Palette(256)));
    Write(t, "8bit-20-colours", Bitmap(9, 4, 8, 0, 20, Palette(20)));
    Write(t, "16bit", Bitmap(5, 3, 16, 0, 0, {}));
    Write(t, "16bit-bitfields", Bitmap(5, 3, 16, 3, 0, {0xF800, 0x07E0, 0x001F}));
    Write(t, "24bit", Bitmap(6, 4, 24, 0, 0, {}));
    Write(t, "24bit-top-down", Bitmap(6, -4, 24, 0, 0, {}));
    Write(t, "32bit", Bitmap(4, 4, 32, 0, 0, {}));
    Write(t, "32bit-bitfields", Bitmap(4, 2, 32, 3, 0, {0xFF000000u, 0x00FF0000u, 0x0000FF00u}));
    Write(t, "rle8", Bitmap(4, 2, 8, 1, 2, Palette(2)));
    Bytes truncated = Bitmap(16, 16, 24, 0, 0, {});
    truncated.resize(truncated.size() / 2);
    Write(t, "24bit-truncated", truncated);
    Bytes headerOnly = Bitmap(1, 1, 24, 0, 0, {});
    headerOnly.resize(54);
    Write(t, "header-only", headerOnly);
}

// Bridge seeds: the two header bytes (time, source), then the datagrams of a
// batch, cut apart by kBatchCut.
void BridgeSeed(const char* target, const std::string& name, std::uint8_t advance,
                std::uint8_t source, const std::vector<Bytes>& datagrams) {
    Bytes b{advance, source};
    for (const Bytes& datagram : datagrams) {
        if (b.size() > lxd::fuzz::kBridgeHeader) {
            b.insert(b.end(), std::begin(lxd::fuzz::kBatchCut), std::end(lxd::fuzz::kBatchCut));
        }
        b.insert(b.end(), datagram.begin(), datagram.end());
    }
    Write(target, name, b);
}
void BridgeSeed(const char* target, const std::string& name, std::uint8_t advance,
                std::uint8_t source, const Bytes& datagram) {
    BridgeSeed(target, name, advance, source, std::vector<Bytes>{datagram});
}

void SacnSeeds() {
    using lxd::test::SacnFields;
    const char* t = "fuzz_sacn";
    auto seed = [&](const std::string& name, std::uint8_t advance, void (*change)(SacnFields&)) {
        SacnFields f;
        f.slots = SampleLevels(512, 3);
        change(f);
        BridgeSeed(t, name, advance, 0, f.Build());
    };
    seed("levels", 0, [](SacnFields&) {});
    seed("levels-universe4-short", 1, [](SacnFields& f) { f.universe = 4, f.slots.resize(24); });
    seed("second-source", 1, [](SacnFields& f) { f.cidByte = 2, f.priority = 120; });
    seed("per-address-priority", 1, [](SacnFields& f) { f.startCode = 0xDD, f.sequence = 1; });
    seed("preview", 1, [](SacnFields& f) { f.options = 0x80; });
    seed("terminated", 1, [](SacnFields& f) { f.options = 0x40, f.sequence = 2; });
    seed("old-sequence", 1, [](SacnFields& f) { f.sequence = 250; });
    seed("text-start-code", 1, [](SacnFields& f) { f.startCode = 0x17; });
    seed("data-layout-extended", 1, [](SacnFields& f) { f.rootVector = 8, f.slots.clear(); });
    seed("names-sync-100", 1, [](SacnFields& f) { f.syncAddress = 100, f.sequence = 4; });
    BridgeSeed(t, "sync-100", 1, 0, lxd::test::SacnSync(100));
    BridgeSeed(t, "sync-100-all", 1, 1, lxd::test::SacnSync(100, 1));
    BridgeSeed(t, "discovery-page", 1, 0, lxd::test::SacnDiscoveryPage({1, 2}, 0, 1));
    BridgeSeed(t, "discovery-second-page", 0, 0, lxd::test::SacnDiscoveryPage({3, 63999}, 1, 1));
    seed("unmapped", 1, [](SacnFields& f) { f.universe = 63999; });
    seed("after-timeout", 130, [](SacnFields& f) { f.sequence = 3; });
    seed("truncated", 0, [](SacnFields& f) { f.keep = 200; });
    seed("bad-dmp-count", 0, [](SacnFields& f) { f.valueCount = 2; });
    // Batches: a console's frame of the four mapped universes and one not
    // mapped, the fourth datagram from an interface not taken; data held for
    // a synchronisation and the synchronisation in one receive.
    std::vector<Bytes> frame;
    for (std::uint16_t u : {1, 2, 3, 4, 9}) {
        SacnFields f;
        f.universe = u;
        f.sequence = 9;
        f.slots = SampleLevels(512, u);
        frame.push_back(f.Build());
    }
    BridgeSeed(t, "batch-frame", 1, 0, frame);
    SacnFields held;
    held.syncAddress = 100;
    held.sequence = 10;
    BridgeSeed(t, "batch-held-and-sync", 1, 0,
               {held.Build(), lxd::test::SacnSync(100, 1), held.Build()});
}

void ArtnetSeeds() {
    const char* t = "fuzz_artnet";
    auto dmx = [](std::uint16_t address, std::size_t n, unsigned seed) {
        lxd::test::ArtDmxFields f;
        f.portAddress = address;
        f.data = SampleLevels(n, seed);
        return f.Build();
    };
    BridgeSeed(t, "dmx", 0, 0, dmx(0, 512, 1));
    BridgeSeed(t, "dmx-second-source", 1, 1, dmx(0, 512, 2));
    BridgeSeed(t, "dmx-third-source", 1, 2, dmx(0, 64, 3));
    BridgeSeed(t, "dmx-short", 1, 0, dmx(3, 2, 4));
    BridgeSeed(t, "dmx-unmapped", 1, 0, dmx(0x7FFF, 16, 5));
    BridgeSeed(t, "dmx-after-timeout", 110, 3, dmx(1, 512, 6));
    BridgeSeed(t, "sync", 1, 0, lxd::test::ArtSync());
    BridgeSeed(t, "dmx-after-sync", 1, 0, dmx(0, 512, 8));
    BridgeSeed(t, "sync-all", 0x41, 0, lxd::test::ArtSync());
    BridgeSeed(t, "poll", 0, 0, lxd::test::ArtPollFields{}.Build());
    BridgeSeed(t, "poll-targeted", 0, 0, lxd::test::ArtPollFields{14, 0x20, true, 2, 1}.Build());
    Bytes old = dmx(0, 8, 7);
    old[11] = 13;
    BridgeSeed(t, "old-version", 0, 0, old);
    BridgeSeed(t, "batch-dmx-poll-sync", 1, 0,
               {dmx(0, 512, 9), dmx(1, 512, 10), lxd::test::ArtPollFields{}.Build(),
                lxd::test::ArtSync(), dmx(2, 8, 11)});
}

#if defined(LXD_HAVE_PCAP)
// Capture files of every link type (two datagrams to the driver's port, one
// elsewhere), and bare frames, one of them a fragment.
void CaptureSeeds() {
    using lxd::host::Link;
    const char* t = "fuzz_capture";
    const std::pair<Link, const char*> links[] = {
        {Link::kEthernet, "ethernet"}, {Link::kRawIp, "raw"}, {Link::kLinuxCooked, "sll"},
        {Link::kLinuxCooked2, "sll2"}, {Link::kNull, "null"}, {Link::kLoop, "loop"}};
    const lxd::host::UdpEndpoint from{lxd::host::kLoopbackAddress, 50000};
    const lxd::host::UdpEndpoint to{lxd::host::kLoopbackAddress, lxd::kIntakePort};
    const lxd::host::UdpEndpoint elsewhere{lxd::host::kLoopbackAddress, 9999};
    Bytes levels;
    Bytes blocks;
    for (const lxd::test::NamedDatagram& sample : lxd::test::DatagramSamples()) {
        if (sample.name == "level-port0") {
            levels = sample.bytes;
        } else if (sample.name == "block-four") {
            blocks = sample.bytes;
        }
    }
    for (const auto& [link, name] : links) {
        lxd::host::CaptureWriter writer;
        std::string error;
        if (!writer.Open(SeedPath(t, std::string("capture-") + name), link, error) ||
            !writer.Write(1000000, from, to, levels.data(), levels.size()) ||
            !writer.Write(1025000, from, elsewhere, levels.data(), 16) ||
            !writer.Write(1050000, from, to, blocks.data(), blocks.size()) ||
            !writer.Close(error)) {
            std::fprintf(stderr, "make_seeds: capture seed %s: %s\n", name, error.c_str());
            std::exit(1);
        }
        ++g_written;
        Bytes frame(lxd::host::kMaxFrameHeader + blocks.size());
        frame.resize(lxd::host::BuildUdpFrame(link, from, to, 7, blocks.data(), blocks.size(),
                                              frame.data(), frame.size()));
        Write(t, std::string("frame-") + name, frame);
        if (link == Link::kRawIp) {
            frame[6] |= 0x20;  // more fragments
            Write(t, "frame-fragment", frame);
        }
    }
}
#endif

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIRECTORY\n", argv[0]);
        return 2;
    }
    g_root = argv[1];
    if (!MakeDirectory(g_root)) {
        std::perror(g_root.c_str());
        return 1;
    }
    DatagramSeeds();
    DecodeSeeds();
    StridedSeeds();
    BmpSeeds();
    SacnSeeds();
    ArtnetSeeds();
#if defined(LXD_HAVE_PCAP)
    CaptureSeeds();
#endif
    std::printf("%d seeds written to %s\n", g_written, g_root.c_str());
    return 0;
}
