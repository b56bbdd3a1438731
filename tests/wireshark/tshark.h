// tshark with the lxdravik dissector, field by field: one run over a whole
// capture, parsed into the occurrences of each field asked for, per frame.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// Runs tshark over `capture` (with the dissector loaded, and the personal
// configuration left out) and splits its `-T fields` output.
TsharkFields RunTshark(const std::string& capture, const std::vector<std::string>& fields);

// A fresh Ethernet pcap of `datagrams`, to UDP 2501 on loopback.
std::string CaptureOf(const std::vector<std::vector<std::uint8_t>>& datagrams);

// The bytes of a field printed as hex; Wireshark prints no bytes as <MISSING>.
std::vector<std::uint8_t> HexBytes(const std::string& text);

}  // namespace lxd::test
