// The bridge's sockets (standalone Asio): sACN and Art-Net received with
// address reuse, multicast groups joined, levels sent to the driver, poll
// replies sent back to the poller.
#pragma once

#include <asio.hpp>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/bridge/bridge.h"
#include "tools/bridge/snapshot.h"

namespace lxd::bridge {

struct NetworkSettings {
    std::string bind;  // IPv4 address of the interface to use; empty: every interface
    std::string toHost = "127.0.0.1";
    std::uint16_t toPort = 2501;
    std::uint16_t sacnPort = kSacnPort;
    std::uint16_t artnetPort = kArtnetPort;
};

// Milliseconds on the steady clock.
Millis SteadyNow();

class Network : public DatagramSink, public ReplySink {
  public:
    explicit Network(asio::io_context& io);
    ~Network() override;
    Network(const Network&) = delete;
    Network& operator=(const Network&) = delete;

    // Opens the output socket and the receive sockets that `mapping` needs,
    // joining the multicast group of every mapped sACN universe. On failure
    // returns false with one line in `error`.
    bool Open(const NetworkSettings& settings, const Mapping& mapping, std::string& error);
    // Starts receiving into `bridge` (which must outlive the receives).
    void Start(Bridge& bridge);
    void Close();

    // Receives every sACN datagram waiting (on every sACN socket), hands them
    // to the bridge and sends what changed; returns how many. What Start's
    // receives do for one socket.
    int DrainSacn();
    // The local port of the first sACN socket (the one asked for, or the one
    // the system chose for 0).
    std::uint16_t SacnPort() const;
    // The interfaces in use and the receive buffers, for the snapshot.
    const NetworkStatus& Status() const { return status_; }

    bool Send(const std::uint8_t* data, std::size_t size) override;
    std::uint32_t OwnAddressFor(std::uint32_t poller) override;
    void Reply(std::uint32_t poller, const std::uint8_t* data, std::size_t size) override;

  private:
    struct Receiver;
    bool OpenReceiver(Receiver& receiver, std::uint16_t port, const char* what, std::string& error);
    void Arm(Receiver& receiver);
    // Hands what waits on `receiver` to the bridge (Drain also sends what changed).
    int Receive(Receiver& receiver, Millis now);
    int Drain(Receiver& receiver);

    asio::io_context& io_;
    Bridge* bridge_ = nullptr;
    asio::ip::address_v4 bind_;
    bool bound_ = false;  // bind_ was given
    asio::ip::udp::socket out_;
    asio::ip::udp::endpoint to_;
    std::vector<std::unique_ptr<Receiver>> sacn_;
    std::unique_ptr<Receiver> artnet_;
    NetworkStatus status_;
};

}  // namespace lxd::bridge
