// The bridge's sockets (standalone Asio): sACN and Art-Net received with
// address reuse, the multicast groups of every mapped sACN universe, of
// universe discovery and of the synchronisation universes that data names
// joined on every interface in use (followed as interfaces come, go and
// change), the arrival interface of every datagram, levels sent to the
// driver, poll replies sent back to the poller.
#pragma once

#include <asio.hpp>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "protocol/layout.h"
#include "tools/bridge/core/bridge.h"
#include "tools/bridge/net/datagram_io.h"
#include "tools/bridge/net/delivery.h"
#include "tools/bridge/net/interfaces.h"
#include "tools/bridge/net/network_settings.h"
#include "tools/bridge/net/network_status.h"
#include "tools/bridge/net/watch.h"

namespace lxd::bridge {

inline constexpr int kReceiveBuffer = 1 << 20;  // asked for on every receive socket

class Network : public DatagramSink, public ReplySink {
  public:
    // `list` reads the machine's interfaces (tests put others in its place).
    explicit Network(asio::io_context& io,
                     std::function<std::vector<Interface>()> list = ListInterfaces);
    ~Network() override;
    Network(const Network&) = delete;
    Network& operator=(const Network&) = delete;

    // Opens the output socket and the receive sockets that `mapping` needs and
    // joins the groups on the interfaces present. Missing interfaces and
    // failed joins are not errors (see Status); a port held by another
    // program is. On failure returns false with one line in `error`. The
    // datagrams for the driver go to `to` where given; otherwise to
    // settings.toHost, a host name resolved here (before the event loop runs:
    // once it does, names are resolved off it, see Runner).
    bool Open(const NetworkSettings& settings, const Mapping& mapping, std::string& error,
              const asio::ip::udp::endpoint* to = nullptr);
    // Where the datagrams for the driver go from now on.
    void SendTo(const asio::ip::udp::endpoint& to) { to_ = to; }
    const asio::ip::udp::endpoint& Destination() const { return to_; }
    // Starts receiving into `bridge` (which must outlive the receives) and
    // following the interfaces.
    void Start(Bridge& bridge);
    void Close();

    // Looks at the interfaces again: joins on new ones, leaves those gone.
    // Returns true when groups were joined on an interface new to the bridge.
    bool Rescan();

    // Receives every sACN datagram waiting (on every sACN socket), hands them
    // to the bridge and sends what changed; returns how many. What Start's
    // receives do for the sockets readable in one turn of the event loop.
    int DrainSacn();
    // The local port of the sACN sockets (the one asked for, or the one the
    // system chose for 0).
    std::uint16_t SacnPort() const;
    // The same for Art-Net (0 when none is mapped).
    std::uint16_t ArtnetPort() const;

    // The interfaces in use and the receive buffers, for the snapshot.
    const NetworkStatus& Status() const { return status_; }

    bool Send(const std::uint8_t* data, std::size_t size) override;
    int SendBurst(const Datagram* datagrams, int count) override;
    std::uint32_t OwnAddressFor(std::uint32_t poller) override;
    void MacFor(std::uint32_t address, std::uint8_t* mac) override;
    void Reply(std::uint32_t poller, const std::uint8_t* data, std::size_t size) override;

  private:
    struct Receiver;
    struct InUse;
    struct PostedFlush;
    bool OpenReceiver(Receiver& receiver, std::uint16_t port, const char* what, std::string& error);
    void Arm(const std::shared_ptr<Receiver>& receiver);
    // Hands what waits on `receiver` to the bridge, a batch at a time, at
    // most kDrainLimit datagrams; returns how many it took.
    int Receive(Receiver& receiver, Millis now);
    // Receives on a readable socket; what changed is sent once the other
    // sockets readable in this turn of the event loop had theirs.
    void Drain(const std::shared_ptr<Receiver>& receiver);
    void FlushLater();
    void Join(InUse& in);
    // Joins the synchronisation universes the bridge learned from data since
    // the last look (a count compare when nothing changed).
    void JoinSyncGroups();
    void AfterRescan();
    void UpdateStatus();

    asio::io_context& io_;
    std::function<std::vector<Interface>()> list_;
    Bridge* bridge_ = nullptr;
    // One batch for every socket: the event loop receives on one at a time.
    ReceiveBatch batch_;
    Delivery delivery_;
    std::shared_ptr<PostedFlush> flush_;
    NetworkSettings settings_;
    // Groups joined: the mapped sACN universes, discovery's, then the
    // synchronisation universes learned (never left while the sockets live).
    std::vector<std::uint16_t> universes_;
    std::size_t mappedGroups_ = 0;  // the mapped universes and discovery's
    std::uint32_t syncGroupsVersion_ = 0;
    asio::ip::udp::socket out_;
    asio::ip::udp::endpoint to_;
    std::shared_ptr<Receiver> sacnBase_;  // unicast sACN; joins nothing
    std::shared_ptr<Receiver> artnet_;
    std::vector<std::unique_ptr<InUse>> inUse_;
    std::vector<Interface> cards_;  // every address of the interfaces in use
    InterfaceWatch watch_;
    // Where the replies to the poll being answered leave (0: by the routing table).
    std::uint32_t replyVia_ = 0;
    std::uint32_t replyFrom_ = 0;
    NetworkStatus status_;
    // After Close, a look at the interfaces already queued does nothing.
    bool closed_ = false;
};

}  // namespace lxd::bridge
