// A small UDP endpoint for the sender and the tests: send datagrams to a host
// and port, or hold a port.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lxd::host {

// Starts the socket layer where the platform needs it (once per process).
bool StartNetworking();

class UdpSocket {
  public:
    UdpSocket();
    ~UdpSocket();
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    bool Valid() const;
    // Sets where Send goes: an IPv4 address in dotted form and a port.
    bool SetDestination(const std::string& host, std::uint16_t port);
    // Sends one datagram; false when the system refused it.
    bool Send(const std::uint8_t* data, std::size_t size);
    bool Send(const std::vector<std::uint8_t>& datagram) {
        return Send(datagram.data(), datagram.size());
    }
    // Binds to `port` on every address, asking for address reuse first when
    // `reuse` is set. False when the bind fails.
    bool Bind(std::uint16_t port, bool reuse = false);
    // Asks for a send buffer of `bytes`.
    void RequestSendBuffer(int bytes);
    void Close();

  private:
    std::uintptr_t socket_;
    std::uint8_t destination_[16];
};

}  // namespace lxd::host
