// Named datagrams that walk through every rule of the driver's intake, each
// one near an edge: the seeds of the datagram fuzzer, and the fixed part of
// the corpus on which the Wireshark dissector is checked against the driver.
#pragma once

#include <string>
#include <vector>

#include "host/packets.h"

namespace lxd::host {

struct NamedDatagram {
    std::string name;
    Bytes bytes;
};

std::vector<NamedDatagram> DatagramSamples();

// `n` levels with runs and changes, as lighting data tends to have.
Bytes SampleLevels(std::size_t n, unsigned seed);

}  // namespace lxd::host
