// UDP framing of capture files: a frame built for each link type gives its
// datagram back whole, any shorter capture of it is malformed, and damaged
// or foreign frames are sorted out (fragments, other protocols, bad lengths).
#include <gtest/gtest.h>

#include <functional>

#include "host/frames.h"
#include "tests/wireshark/tshark.h"

namespace lxd::test {
namespace {

using host::FrameKind;
using host::Link;

const host::UdpEndpoint kFrom{0x7F000002, 50000};
const host::UdpEndpoint kTo{host::kLoopbackAddress, 2501};
const std::vector<std::uint8_t> kPayload = {0x80, 0x8F, 1, 2, 3, 4, 5};

std::vector<std::uint8_t> Frame(Link link, std::size_t payloadSize = kPayload.size()) {
    std::vector<std::uint8_t> frame(host::kMaxFrameHeader + payloadSize);
    frame.resize(host::BuildUdpFrame(link, kFrom, kTo, 1, kPayload.data(), payloadSize,
                                     frame.data(), frame.size()));
    return frame;
}

class FrameLinks : public ::testing::TestWithParam<Link> {};

TEST_P(FrameLinks, GiveTheDatagramBackAndRefuseEveryShorterCapture) {
    std::vector<std::uint8_t> frame = Frame(GetParam());
    ASSERT_FALSE(frame.empty());
    frame.insert(frame.end(), 6, 0xEE);  // link padding is not payload
    host::UdpDatagram udp;
    ASSERT_EQ(host::FindUdpDatagram(GetParam(), frame.data(), frame.size(), udp), FrameKind::kUdp);
    EXPECT_EQ(std::vector<std::uint8_t>(udp.payload, udp.payload + udp.size), kPayload);
    EXPECT_EQ(udp.from.address, kFrom.address);
    EXPECT_EQ(udp.from.port, kFrom.port);
    EXPECT_EQ(udp.to.address, kTo.address);
    EXPECT_EQ(udp.to.port, kTo.port);
    for (std::uint32_t cut = 0; cut < frame.size() - 6; ++cut) {
        // Exact-size copies: a read past the cut is a sanitizer error.
        const std::vector<std::uint8_t> part(frame.begin(), frame.begin() + cut);
        EXPECT_EQ(host::FindUdpDatagram(GetParam(), part.data(), cut, udp), FrameKind::kMalformed)
            << cut << " bytes";
    }
}

INSTANTIATE_TEST_SUITE_P(Capture, FrameLinks,
                         ::testing::Values(Link::kEthernet, Link::kLinuxCooked, Link::kLinuxCooked2,
                                           Link::kRawIp, Link::kNull, Link::kLoop));

struct Damage {
    const char* name;
    Link link;
    std::function<void(std::vector<std::uint8_t>& frame)> apply;  // on a raw IP frame
    FrameKind kind;
    std::size_t payload;  // bytes found when kUdp
};

void PrintTo(const Damage& d, std::ostream* os) {
    *os << d.name;
}

class DamagedFrames : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedFrames, AreSortedOut) {
    std::vector<std::uint8_t> frame = Frame(Link::kRawIp);
    GetParam().apply(frame);
    host::UdpDatagram udp;
    EXPECT_EQ(host::FindUdpDatagram(GetParam().link, frame.data(), frame.size(), udp),
              GetParam().kind);
    if (GetParam().kind == FrameKind::kUdp) {
        EXPECT_EQ(udp.size, GetParam().payload);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Capture, DamagedFrames,
    ::testing::Values(
        Damage{"MoreFragments", Link::kRawIp, [](auto& f) { f[6] |= 0x20; }, FrameKind::kFragment,
               0},
        Damage{"FragmentOffset", Link::kRawIp, [](auto& f) { f[7] = 1; }, FrameKind::kFragment, 0},
        Damage{"DontFragmentIsWhole", Link::kRawIp, [](auto& f) { f[6] |= 0x40; }, FrameKind::kUdp,
               7},
        Damage{"Ipv6", Link::kEthernet, [](auto& f) { f = Ipv6Frame(kPayload); },
               FrameKind::kIpv6Udp, 0},
        Damage{"Tcp", Link::kRawIp, [](auto& f) { f[9] = 6; }, FrameKind::kOther, 0},
        Damage{"UdpLongerThanFrame", Link::kRawIp, [](auto& f) { f[25] += 1; },
               FrameKind::kMalformed, 0},
        Damage{"UdpShorterThanIp", Link::kRawIp, [](auto& f) { f[25] -= 2; }, FrameKind::kUdp, 5},
        Damage{"IpOptions", Link::kRawIp,
               [](auto& f) {
                   f.insert(f.begin() + 20, {1, 1, 1, 0});  // three no-ops and the end
                   f[0] = 0x46;
                   f[3] += 4;
               },
               FrameKind::kUdp, 7},
        Damage{"VlanTagged", Link::kEthernet,
               [](auto& f) {
                   const std::vector<std::uint8_t> tag = {0x81, 0x00, 0x00, 0x05, 0x08, 0x00};
                   f.insert(f.begin(), 12, 0);
                   f.insert(f.begin() + 12, tag.begin(), tag.end());
               },
               FrameKind::kUdp, 7}));

}  // namespace
}  // namespace lxd::test
