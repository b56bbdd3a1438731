#include "tools/bridge/network.h"

#include <chrono>

#if defined(__linux__)
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace lxd::bridge {

using asio::ip::udp;

namespace {

// Linux allows 20 group memberships per socket by default; more universes
// get further sockets on the same port.
constexpr std::size_t kGroupsPerSocket = 20;
// Receives handled before the levels they changed are sent.
constexpr int kDrainLimit = 256;

// Platform-specific (Linux): a socket bound to every address would otherwise
// also receive the groups that the bridge's other sockets joined, twice over.
void ReceiveJoinedGroupsOnly(udp::socket& socket) {
#if defined(__linux__) && defined(IP_MULTICAST_ALL)
    const int off = 0;
    setsockopt(socket.native_handle(), IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off);
#else
    (void)socket;
#endif
}

std::string Text(const asio::ip::address_v4& address) {
    return address.to_string();
}

}  // namespace

struct Network::Receiver {
    explicit Receiver(asio::io_context& io, bool sacn) : socket(io), sacn(sacn) {}
    udp::socket socket;
    bool sacn;
    udp::endpoint from;
    std::uint8_t buffer[1500];
};

Millis SteadyNow() {
    return std::chrono::duration_cast<Millis>(std::chrono::steady_clock::now().time_since_epoch());
}

Network::Network(asio::io_context& io) : io_(io), out_(io) {}

Network::~Network() {
    Close();
}

void Network::Close() {
    asio::error_code ignored;
    for (auto& receiver : sacn_) {
        receiver->socket.close(ignored);
    }
    if (artnet_) {
        artnet_->socket.close(ignored);
    }
    out_.close(ignored);
}

bool Network::OpenReceiver(Receiver& receiver, std::uint16_t port, const char* what,
                           std::string& error) {
    // Platform-specific: on Linux a socket bound to one address receives
    // neither multicast nor broadcast (sACN groups, Art-Net polls), so there
    // the sockets take every address and --bind chooses where multicast is
    // joined and which address replies announce. Windows delivers both to a
    // socket bound to the interface's address.
#if defined(_WIN32)
    const bool specific = bound_;
#else
    const bool specific = false;
#endif
    const udp::endpoint local(specific ? bind_ : asio::ip::address_v4::any(), port);
    asio::error_code ec;
    receiver.socket.open(udp::v4(), ec);
    if (!ec) {
        receiver.socket.set_option(asio::socket_base::reuse_address(true), ec);
    }
    if (!ec) {
        receiver.socket.bind(local, ec);
    }
    if (!ec) {
        receiver.socket.non_blocking(true, ec);
    }
    if (!ec) {
        return true;
    }
    const std::string portText = std::to_string(port);
    if (ec == asio::error::address_in_use) {
        error = "UDP port " + portText + " (" + what +
                ") is held by a program that does not share it; stop it (`ss -ulpn 'sport = :" +
                portText + "'` shows which) and try again";
    } else {
        error = "cannot receive " + std::string(what) + " on " + local.address().to_string() + ":" +
                portText + ": " + ec.message();
    }
    return false;
}

bool Network::Open(const NetworkSettings& settings, const Mapping& mapping, std::string& error) {
    asio::error_code ec;
    bound_ = !settings.bind.empty();
    if (bound_) {
        bind_ = asio::ip::make_address_v4(settings.bind, ec);
        if (ec) {
            error = "--bind: '" + settings.bind + "' is not an IPv4 address";
            return false;
        }
        udp::socket probe(io_);
        probe.open(udp::v4(), ec);
        if (!ec) {
            probe.bind(udp::endpoint(bind_, 0), ec);
        }
        if (ec) {
            error = "--bind: " + settings.bind + " is not an address of this machine (" +
                    ec.message() + ")";
            return false;
        }
    }
    asio::ip::address_v4 to = asio::ip::make_address_v4(settings.toHost, ec);
    if (ec) {
        udp::resolver resolver(io_);
        const auto found = resolver.resolve(udp::v4(), settings.toHost, "", ec);
        if (ec || found.empty()) {
            error = "--to: cannot resolve '" + settings.toHost + "' to an IPv4 address";
            return false;
        }
        to = found.begin()->endpoint().address().to_v4();
    }
    to_ = udp::endpoint(to, settings.toPort);
    out_.open(udp::v4(), ec);
    if (ec) {
        error = "cannot open a UDP socket: " + ec.message();
        return false;
    }

    const asio::ip::address_v4 joinOn = bound_ ? bind_ : asio::ip::address_v4::any();
    std::size_t joined = 0;
    for (int p = 0; p < kDriverPorts; ++p) {
        const PortSource& source = mapping.Port(p);
        if (source.protocol != Protocol::kSacn) {
            continue;
        }
        if (joined % kGroupsPerSocket == 0) {
            // Further sockets share the first one's port (also one the system chose).
            const std::uint16_t port = sacn_.empty() ? settings.sacnPort : SacnPort();
            sacn_.push_back(std::make_unique<Receiver>(io_, true));
            if (!OpenReceiver(*sacn_.back(), port, "sACN", error)) {
                return false;
            }
            ReceiveJoinedGroupsOnly(sacn_.back()->socket);
        }
        const asio::ip::address_v4 group(SacnMulticastGroup(source.universe));
        sacn_.back()->socket.set_option(asio::ip::multicast::join_group(group, joinOn), ec);
        if (ec) {
            error = "cannot join the multicast group " + Text(group) + " of sACN universe " +
                    std::to_string(source.universe) + " on " +
                    (bound_ ? Text(bind_) : std::string("the default interface")) + ": " +
                    ec.message();
            return false;
        }
        ++joined;
    }
    if (mapping.Count(Protocol::kArtnet) > 0) {
        artnet_ = std::make_unique<Receiver>(io_, false);
        if (!OpenReceiver(*artnet_, settings.artnetPort, "Art-Net", error)) {
            return false;
        }
    }
    // The one interface the sockets use: --bind's, or the system's choice.
    InterfaceStatus used;
    used.name = bound_ ? "bound" : "default";
    used.address = bound_ ? Text(bind_) : "0.0.0.0";
    for (int p = 0; p < kDriverPorts; ++p) {
        if (mapping.Port(p).protocol == Protocol::kSacn) {
            used.joined.push_back(mapping.Port(p).universe);
        }
    }
    status_.interfaces = {used};
    return true;
}

std::uint16_t Network::SacnPort() const {
    asio::error_code ec;
    return sacn_.empty() ? 0 : sacn_.front()->socket.local_endpoint(ec).port();
}

void Network::Start(Bridge& bridge) {
    bridge_ = &bridge;
    for (auto& receiver : sacn_) {
        Arm(*receiver);
    }
    if (artnet_) {
        Arm(*artnet_);
    }
}

void Network::Arm(Receiver& receiver) {
    receiver.socket.async_wait(udp::socket::wait_read, [this, &receiver](asio::error_code ec) {
        if (ec) {
            return;
        }
        Drain(receiver);
        Arm(receiver);
    });
}

int Network::DrainSacn() {
    const Millis now = SteadyNow();
    int received = 0;
    for (auto& receiver : sacn_) {
        received += Receive(*receiver, now);
    }
    bridge_->Flush(now);
    return received;
}

int Network::Drain(Receiver& receiver) {
    const Millis now = SteadyNow();
    const int received = Receive(receiver, now);
    bridge_->Flush(now);
    return received;
}

int Network::Receive(Receiver& receiver, Millis now) {
    int received = 0;
    for (int i = 0; i < kDrainLimit; ++i) {
        asio::error_code ec;
        const std::size_t size = receiver.socket.receive_from(
            asio::buffer(receiver.buffer, sizeof receiver.buffer), receiver.from, 0, ec);
        if (ec == asio::error::would_block || ec == asio::error::try_again) {
            break;
        }
        if (ec) {
            continue;  // e.g. Windows reporting an earlier reply as unreachable
        }
        ++received;
        if (receiver.sacn) {
            bridge_->OnSacn(receiver.buffer, size, now,
                            Arrival{receiver.from.address().to_v4().to_uint(), 0});
        } else {
            bridge_->OnArtnet(receiver.buffer, size, receiver.from.address().to_v4().to_uint(), now,
                              *this);
        }
    }
    return received;
}

bool Network::Send(const std::uint8_t* data, std::size_t size) {
    asio::error_code ec;
    const std::size_t sent = out_.send_to(asio::buffer(data, size), to_, 0, ec);
    return !ec && sent == size;
}

std::uint32_t Network::OwnAddressFor(std::uint32_t poller) {
    if (bound_) {
        return bind_.to_uint();
    }
    // The address the system would send from to reach the poller.
    asio::error_code ec;
    udp::socket probe(io_);
    probe.open(udp::v4(), ec);
    if (!ec) {
        probe.connect(udp::endpoint(asio::ip::address_v4(poller), kArtnetPort), ec);
    }
    const udp::endpoint local = ec ? udp::endpoint() : probe.local_endpoint(ec);
    return ec ? 0 : local.address().to_v4().to_uint();
}

void Network::Reply(std::uint32_t poller, const std::uint8_t* data, std::size_t size) {
    asio::error_code ec;
    artnet_->socket.send_to(asio::buffer(data, size),
                            udp::endpoint(asio::ip::address_v4(poller), kArtnetPort), 0, ec);
}

}  // namespace lxd::bridge
