#include "tools/sender/capture_out.h"

#include <arpa/inet.h>

namespace lxd::sender {
namespace {

// The sender's own port as it appears in the capture.
constexpr std::uint16_t kSourcePort = 50000;

}  // namespace

bool CaptureOut::Open(const std::string& path, const std::string& address, std::uint16_t port,
                      std::string& error) {
    in_addr parsed;
    if (inet_pton(AF_INET, address.c_str(), &parsed) != 1) {
        error = "'" + address + "' is not an IPv4 address";
        return false;
    }
    to_ = host::UdpEndpoint{ntohl(parsed.s_addr), port};
    openedMicroseconds_ = std::chrono::duration_cast<std::chrono::microseconds>(
                              std::chrono::system_clock::now().time_since_epoch())
                              .count();
    if (!writer_.Open(path, host::Link::kEthernet, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

bool CaptureOut::Write(const host::Bytes& datagram, host::Clock::duration sinceOpen) {
    const std::int64_t at =
        openedMicroseconds_ +
        std::chrono::duration_cast<std::chrono::microseconds>(sinceOpen).count();
    return writer_.Write(at, host::UdpEndpoint{host::kLoopbackAddress, kSourcePort}, to_,
                         datagram.data(), datagram.size());
}

bool CaptureOut::Close(std::string& error) {
    return writer_.Close(error);
}

}  // namespace lxd::sender
