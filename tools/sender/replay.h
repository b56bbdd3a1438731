// --replay: plays the UDP payloads to one port from a pcap or pcapng capture
// to the destination, with the capture's timing (scaled by --speed), once or
// over and over (--loop).
#pragma once

#include <atomic>
#include <string>

#include "host/udp.h"
#include "tools/sender/options.h"

namespace lxd::sender {

// Checks the whole capture first (a missing, damaged or cut-off file, or one
// without a datagram to the port, is a one-line error and exit code 2), then
// plays it through `socket` until done or `stop` is set. Prints a progress
// line on a terminal and a summary; returns the exit code.
int Replay(const Options& options, host::UdpSocket& socket, const std::string& address,
           const std::atomic<bool>& stop);

}  // namespace lxd::sender
