// --pcap: the datagrams that the sender would send, written into a capture
// file instead, as Ethernet frames from 127.0.0.1 to the destination, each
// stamped with the time it is due.
#pragma once

#include <cstdint>
#include <string>

#include "host/capture.h"
#include "host/clock.h"
#include "host/udp.h"

namespace lxd::sender {

class CaptureOut {
  public:
    // Creates `path` for datagrams to `address` (dotted IPv4) and `port`.
    bool Open(const std::string& path, const std::string& address, std::uint16_t port,
              std::string& error);
    // Writes one datagram stamped `sinceOpen` after the wall-clock time of Open.
    bool Write(const host::Bytes& datagram, host::Clock::duration sinceOpen);
    bool Close(std::string& error);

  private:
    host::CaptureWriter writer_;
    host::UdpEndpoint to_;
    std::int64_t openedMicroseconds_ = 0;
};

}  // namespace lxd::sender
