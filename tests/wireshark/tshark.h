// tshark with the lxdravik dissector, field by field: one run over a whole
// capture, parsed into the occurrences of each field asked for, per frame.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/frames.h"

namespace lxd::test {

// Where tshark and editcap are (empty when not installed), and the dissector.
std::string TsharkPath();
std::string EditcapPath();
std::string DissectorPath();

// frames[frame][field] holds the field's occurrences in that frame.
struct TsharkFields {
    int exitCode = -1;
    std::string error;
    std::vector<std::vector<std::vector<std::string>>> frames;
};

// Runs tshark over `capture` with this tree's dissector (the personal
// configuration and any copy in the global Lua plugins folder left out) and
// `options`, and splits its `-T fields` output. A Lua error anywhere, on
// loading or in a frame, fails the calling test.
TsharkFields RunTshark(const std::string& capture, const std::vector<std::string>& fields,
                       const std::vector<std::string>& options = {});

// A fresh Ethernet pcap of `datagrams`, to UDP 2501 on loopback.
std::string CaptureOf(const std::vector<std::vector<std::uint8_t>>& datagrams);

// An Ethernet frame of `payload` from 127.0.0.1 port `from` to port `to`.
std::vector<std::uint8_t> Ipv4Frame(const std::vector<std::uint8_t>& payload,
                                    std::uint16_t from = 50000, std::uint16_t to = 2501);
// Ethernet frames of `payload` as the driver never receives it, or only
// reassembled: to UDP 2501 of ::1; quoted in an ICMP port unreachable; in
// IPv4 fragments of `split` bytes of the UDP datagram each (a multiple of 8),
// over Ethernet or `link`.
std::vector<std::uint8_t> Ipv6Frame(const std::vector<std::uint8_t>& payload);
std::vector<std::uint8_t> IcmpQuoteFrame(const std::vector<std::uint8_t>& payload);
std::vector<std::vector<std::uint8_t>> FragmentFrames(const std::vector<std::uint8_t>& payload,
                                                      std::size_t split,
                                                      host::Link link = host::Link::kEthernet);

// The bytes of a field printed as hex; Wireshark prints no bytes as <MISSING>.
std::vector<std::uint8_t> HexBytes(const std::string& text);

}  // namespace lxd::test
