// UDP for the host side (tools, tests, benchmarks) over standalone Asio, so
// that the same code runs on Linux and Windows: send datagrams to a host and
// port, or hold a port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace lxd::host {

// One datagram's bytes.
using Bytes = std::vector<std::uint8_t>;

// Resolves a host name or dotted address to dotted IPv4 form; false when it
// has no IPv4 address.
bool ResolveIpv4(const std::string& host, std::string& dotted);

class UdpSocket {
  public:
    UdpSocket();  // an IPv4 UDP socket
    ~UdpSocket();
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    bool Valid() const;
    // Sets where Send goes: an IPv4 address in dotted form and a port.
    bool SetDestination(const std::string& host, std::uint16_t port);
    // Sends one datagram; false when the system refused it (see LastError).
    bool Send(const std::uint8_t* data, std::size_t size);
    bool Send(const Bytes& datagram) { return Send(datagram.data(), datagram.size()); }
    // Binds to `port` on every address, asking for address reuse first when
    // `reuse` is set. False when the bind fails.
    bool Bind(std::uint16_t port, bool reuse = false);
    // Asks for a send buffer of `bytes`.
    void RequestSendBuffer(int bytes);
    void Close();
    // The system's words for the last failure, or empty.
    std::string LastError() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace lxd::host
