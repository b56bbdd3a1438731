// Datagrams that walk through every rule of the driver's intake, each one
// near an edge: the seeds of the datagram fuzzer, and the corpus on which the
// Wireshark dissector is checked against the driver.
#pragma once

#include <string>
#include <vector>

#include "tests/support/packets.h"

namespace lxd::test {

struct NamedDatagram {
    std::string name;
    Bytes bytes;
};

std::vector<NamedDatagram> DatagramSamples();

// `n` seeded random datagrams near the same rules: level packets with counts
// and starts at the limits and a few levels short or over, block packets of
// raw and coded blocks with damaged codes, stray data offsets and cut ends,
// and noise (now and then under a valid kind).
std::vector<NamedDatagram> RandomDatagrams(std::uint32_t seed, int n);

// `n` levels with runs and changes, as lighting data tends to have.
Bytes SampleLevels(std::size_t n, unsigned seed);

}  // namespace lxd::test
