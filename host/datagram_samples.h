// Moved: include tests/support/datagram_samples.h
#pragma once
#include "host/packets.h"
#include "tests/support/datagram_samples.h"
namespace lxd::host {
using test::DatagramSamples;
using test::NamedDatagram;
using test::RandomDatagrams;
using test::SampleLevels;
}  // namespace lxd::host
