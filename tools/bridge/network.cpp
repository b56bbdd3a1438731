#include "tools/bridge/network.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

// Platform-specific: the arrival interface of a datagram (IP_PKTINFO through
// recvmsg on Linux, WSARecvMsg on Windows) and socket options Asio lacks.
#if defined(_WIN32)
#include <mswsock.h>
#include <ws2tcpip.h>
#else
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif
#if defined(__linux__)
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#endif

namespace lxd::bridge {

using asio::ip::udp;

namespace {

// Linux allows 20 group memberships per socket by default; more universes
// get further sockets on the same port.
constexpr std::size_t kGroupsPerSocket = 20;
// Receives handled before the levels they changed are sent.
constexpr int kDrainLimit = 256;

// Linux: a socket bound to every address would otherwise also receive the
// groups that the bridge's other sockets joined, on every interface. With it
// off, a socket gets only its own groups on the interface it joined them on.
void ReceiveJoinedGroupsOnly(udp::socket& socket) {
#if defined(__linux__) && defined(IP_MULTICAST_ALL)
    const int off = 0;
    setsockopt(socket.native_handle(), IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off);
#else
    (void)socket;
#endif
}

void AskForPacketInfo(udp::socket& socket) {
#if defined(_WIN32)
    const DWORD on = 1;
    setsockopt(socket.native_handle(), IPPROTO_IP, IP_PKTINFO, reinterpret_cast<const char*>(&on),
               sizeof on);
#else
    const int on = 1;
    setsockopt(socket.native_handle(), IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
#endif
}

// Asks for kReceiveBuffer bytes (beyond the system's limit where allowed);
// returns what was granted.
int GrowReceiveBuffer(udp::socket& socket) {
    int size = kReceiveBuffer;
#if defined(__linux__) && defined(SO_RCVBUFFORCE)
    if (setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0) {
        setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }
#else
    asio::error_code ignored;
    socket.set_option(asio::socket_base::receive_buffer_size(size), ignored);
#endif
    asio::socket_base::receive_buffer_size granted;
    asio::error_code ec;
    socket.get_option(granted, ec);
    // (Asio already halves what Linux reports, which counts its bookkeeping.)
    return ec ? 0 : granted.value();
}

#if defined(_WIN32)
LPFN_WSARECVMSG RecvMsgFunction(SOCKET socket) {
    static LPFN_WSARECVMSG function = nullptr;
    if (function == nullptr) {
        GUID guid = WSAID_WSARECVMSG;
        DWORD bytes = 0;
        WSAIoctl(socket, SIO_GET_EXTENSION_FUNCTION_POINTER, &guid, sizeof guid, &function,
                 sizeof function, &bytes, nullptr, nullptr);
    }
    return function;
}
#endif

enum class Got { kDatagram, kNothing, kFault };

// One datagram with its sender and arrival interface (0 when not told).
Got ReceiveOne(udp::socket& socket, std::uint8_t* buffer, std::size_t room, std::size_t& size,
               std::uint32_t& from, std::uint32_t& via) {
    sockaddr_in source{};
    via = 0;
#if defined(_WIN32)
    const LPFN_WSARECVMSG recvMsg = RecvMsgFunction(socket.native_handle());
    WSABUF data{static_cast<ULONG>(room), reinterpret_cast<char*>(buffer)};
    char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))] = {};
    WSAMSG message{};
    message.name = reinterpret_cast<LPSOCKADDR>(&source);
    message.namelen = sizeof source;
    message.lpBuffers = &data;
    message.dwBufferCount = 1;
    message.Control = {sizeof control, control};
    DWORD received = 0;
    if (recvMsg == nullptr ||
        recvMsg(socket.native_handle(), &message, &received, nullptr, nullptr) == SOCKET_ERROR) {
        const int error = WSAGetLastError();
        return error == WSAEWOULDBLOCK ? Got::kNothing : Got::kFault;
    }
    for (WSACMSGHDR* c = WSA_CMSG_FIRSTHDR(&message); c != nullptr;
         c = WSA_CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            via = reinterpret_cast<IN_PKTINFO*>(WSA_CMSG_DATA(c))->ipi_ifindex;
        }
    }
    size = received;
#else
    iovec data{buffer, room};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr message{};
    message.msg_name = &source;
    message.msg_namelen = sizeof source;
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t received = recvmsg(socket.native_handle(), &message, 0);
    if (received < 0) {
        return errno == EAGAIN || errno == EWOULDBLOCK ? Got::kNothing : Got::kFault;
    }
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            via = static_cast<std::uint32_t>(info.ipi_ifindex);
        }
    }
    size = static_cast<std::size_t>(received);
#endif
    from = ntohl(source.sin_addr.s_addr);
    return Got::kDatagram;
}

std::string Text(std::uint32_t address) {
    return asio::ip::address_v4(address).to_string();
}

}  // namespace

struct Network::Receiver {
    explicit Receiver(asio::io_context& io, bool sacn) : socket(io), sacn(sacn) {}
    udp::socket socket;
    bool sacn;
    bool armed = false;
    std::uint8_t buffer[1500];
};

// An interface the bridge receives on: its sockets and the groups joined.
struct Network::InUse {
    Interface at;
    std::vector<std::unique_ptr<Receiver>> sockets;  // kGroupsPerSocket groups each
    std::vector<bool> joined;                        // by universe index
    std::string error;
};

#if defined(__linux__)
Network::Network(asio::io_context& io) : io_(io), out_(io), rescan_(io), changes_(io) {}
#else
Network::Network(asio::io_context& io) : io_(io), out_(io), rescan_(io) {}
#endif

Network::~Network() {
    Close();
}

void Network::Close() {
    closed_ = true;
    asio::error_code ignored;
    rescan_.cancel();
#if defined(__linux__)
    changes_.close(ignored);
#endif
    for (auto& in : inUse_) {
        for (auto& receiver : in->sockets) {
            receiver->socket.close(ignored);
        }
    }
    if (sacnBase_) {
        sacnBase_->socket.close(ignored);
    }
    if (artnet_) {
        artnet_->socket.close(ignored);
    }
    out_.close(ignored);
}

bool Network::OpenReceiver(Receiver& receiver, std::uint16_t port, const char* what,
                           std::string& error) {
    // Every receive socket takes every address: on Linux a socket bound to one
    // address receives neither multicast nor broadcast. The arrival interface
    // of each datagram decides whether it is used.
    const udp::endpoint local(asio::ip::address_v4::any(), port);
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
        AskForPacketInfo(receiver.socket);
        const int granted = GrowReceiveBuffer(receiver.socket);
        status_.receiveBufferAsked = kReceiveBuffer;
        if (status_.receiveBufferGranted == 0 || granted < status_.receiveBufferGranted) {
            status_.receiveBufferGranted = granted;
        }
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
    settings_ = settings;
    status_.restricted = !settings.interfaces.empty();
    asio::error_code ec;
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
    for (int p = 0; p < kNumPorts; ++p) {
        if (mapping.Port(p).protocol == Protocol::kSacn) {
            universes_.push_back(mapping.Port(p).universe);
        }
    }
    if (!universes_.empty()) {
        // Unicast sACN, and the port held while no interface is up.
        sacnBase_ = std::make_unique<Receiver>(io_, true);
        if (!OpenReceiver(*sacnBase_, settings.sacnPort, "sACN", error)) {
            return false;
        }
        ReceiveJoinedGroupsOnly(sacnBase_->socket);
    }
    if (mapping.Count(Protocol::kArtnet) > 0) {
        artnet_ = std::make_unique<Receiver>(io_, false);
        if (!OpenReceiver(*artnet_, settings.artnetPort, "Art-Net", error)) {
            return false;
        }
    }
    Rescan();
    return true;
}

void Network::Join(InUse& in) {
    in.joined.resize(universes_.size(), false);
    for (std::size_t u = 0; u < universes_.size(); ++u) {
        if (in.joined[u]) {
            continue;
        }
        const std::size_t s = u / kGroupsPerSocket;
        while (in.sockets.size() <= s) {
            auto receiver = std::make_unique<Receiver>(io_, true);
            std::string error;
            if (!OpenReceiver(*receiver, SacnPort(), "sACN", error)) {
                in.error = error;
                return;
            }
            ReceiveJoinedGroupsOnly(receiver->socket);
            in.sockets.push_back(std::move(receiver));
        }
        asio::error_code ec;
        const asio::ip::address_v4 group(SacnMulticastGroup(universes_[u]));
        in.sockets[s]->socket.set_option(
            asio::ip::multicast::join_group(group, asio::ip::address_v4(in.at.address)), ec);
        in.joined[u] = !ec;
        if (ec) {
            in.error = "cannot join " + group.to_string() + " (sACN universe " +
                       std::to_string(universes_[u]) + "): " + ec.message();
        }
    }
    if (bridge_ != nullptr) {
        for (auto& receiver : in.sockets) {
            if (!receiver->armed) {
                Arm(*receiver);
            }
        }
    }
}

bool Network::Rescan() {
    std::vector<Interface> wanted;
    for (const Interface& i : ListInterfaces()) {
        bool take = !status_.restricted && i.multicast;
        for (const std::string& choice : settings_.interfaces) {
            take = take || Chosen(choice, i);
        }
        const bool known = std::any_of(wanted.begin(), wanted.end(),
                                       [&](const Interface& w) { return w.index == i.index; });
        if (take && !known) {
            wanted.push_back(i);  // the first address of each interface
        }
    }
    // Interfaces gone, or whose address changed: their sockets close (which
    // leaves their groups).
    asio::error_code ignored;
    for (auto it = inUse_.begin(); it != inUse_.end();) {
        const bool still = std::any_of(wanted.begin(), wanted.end(), [&](const Interface& w) {
            return w.index == (*it)->at.index && w.address == (*it)->at.address;
        });
        if (still) {
            ++it;
            continue;
        }
        for (auto& receiver : (*it)->sockets) {
            receiver->socket.close(ignored);
        }
        it = inUse_.erase(it);
    }
    bool joinedNew = false;
    for (const Interface& w : wanted) {
        auto it = std::find_if(inUse_.begin(), inUse_.end(),
                               [&](const auto& in) { return in->at.index == w.index; });
        if (it == inUse_.end()) {
            inUse_.push_back(std::make_unique<InUse>());
            inUse_.back()->at = w;
            Join(*inUse_.back());
            joinedNew = joinedNew || std::count(inUse_.back()->joined.begin(),
                                                inUse_.back()->joined.end(), true) > 0;
        } else if (std::count((*it)->joined.begin(), (*it)->joined.end(), false) > 0) {
            Join(**it);  // try the failed joins again
        }
    }
    UpdateStatus();
    return joinedNew;
}

void Network::UpdateStatus() {
    status_.interfaces.clear();
    for (const auto& in : inUse_) {
        InterfaceStatus s;
        s.name = in->at.name;
        s.address = Text(in->at.address);
        s.index = in->at.index;
        char mac[18];
        std::snprintf(mac, sizeof mac, "%02x:%02x:%02x:%02x:%02x:%02x", in->at.mac[0],
                      in->at.mac[1], in->at.mac[2], in->at.mac[3], in->at.mac[4], in->at.mac[5]);
        s.mac = mac;
        for (std::size_t u = 0; u < universes_.size(); ++u) {
            (in->joined[u] ? s.joined : s.failed).push_back(universes_[u]);
        }
        s.error = s.failed.empty() ? "" : in->error;
        status_.interfaces.push_back(std::move(s));
    }
    status_.missing.clear();
    for (const std::string& choice : settings_.interfaces) {
        const bool found = std::any_of(inUse_.begin(), inUse_.end(),
                                       [&](const auto& in) { return Chosen(choice, in->at); });
        if (!found) {
            status_.missing.push_back(choice);
        }
    }
}

std::uint16_t Network::SacnPort() const {
    asio::error_code ec;
    return sacnBase_ ? sacnBase_->socket.local_endpoint(ec).port() : settings_.sacnPort;
}

void Network::Start(Bridge& bridge) {
    bridge_ = &bridge;
    for (auto& in : inUse_) {
        for (auto& receiver : in->sockets) {
            Arm(*receiver);
        }
    }
    if (sacnBase_) {
        Arm(*sacnBase_);
    }
    if (artnet_) {
        Arm(*artnet_);
    }
    if (!OpenChangeNotices()) {
        ArmRescan();
    }
}

void Network::AfterRescan() {
    if (Rescan()) {
        bridge_->Listen(host::NowMillis());  // sources on the new interface are sampled first
    }
}

void Network::ArmRescan() {
    rescan_.expires_after(kInterfaceCheck);
    rescan_.async_wait([this](asio::error_code ec) {
        if (ec || closed_) {
            return;
        }
        AfterRescan();
        ArmRescan();
    });
}

// Platform-specific (Linux): netlink messages about links and IPv4 addresses.
// Elsewhere (or without netlink) false: the caller looks every few seconds.
bool Network::OpenChangeNotices() {
#if defined(__linux__)
    const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) {
        return false;
    }
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR;
    asio::error_code ec;
    if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        (changes_.assign(fd, ec), ec)) {
        close(fd);
        return false;
    }
    ArmChangeNotices();
    return true;
#else
    return false;
#endif
}

void Network::ArmChangeNotices() {
#if defined(__linux__)
    changes_.async_wait(asio::posix::stream_descriptor::wait_read, [this](asio::error_code ec) {
        if (ec || closed_) {
            return;
        }
        // What changed does not matter: the list is read again (also when
        // messages were lost, ENOBUFS).
        alignas(nlmsghdr) std::uint8_t message[8192];
        while (recv(changes_.native_handle(), message, sizeof message, 0) > 0 || errno == ENOBUFS) {
        }
        AfterRescan();
        ArmChangeNotices();
    });
#endif
}

void Network::Arm(Receiver& receiver) {
    receiver.armed = true;
    receiver.socket.async_wait(udp::socket::wait_read, [this, &receiver](asio::error_code ec) {
        if (ec || closed_) {
            return;  // closed: the receiver may be gone
        }
        Drain(receiver);
        Arm(receiver);
    });
}

int Network::DrainSacn() {
    const Millis now = host::NowMillis();
    int received = 0;
    for (auto& in : inUse_) {
        for (auto& receiver : in->sockets) {
            received += Receive(*receiver, now);
        }
    }
    if (sacnBase_) {
        received += Receive(*sacnBase_, now);
    }
    bridge_->Flush(now);
    return received;
}

int Network::Drain(Receiver& receiver) {
    const Millis now = host::NowMillis();
    const int received = Receive(receiver, now);
    bridge_->Flush(now);
    return received;
}

bool Network::Accepted(std::uint32_t via) {
    if (!status_.restricted || via == 0) {
        return true;
    }
    for (const auto& in : inUse_) {
        if (in->at.index == via) {
            return true;
        }
    }
    ++status_.foreignDatagrams;
    return false;
}

int Network::Receive(Receiver& receiver, Millis now) {
    int received = 0;
    for (int i = 0; i < kDrainLimit; ++i) {
        std::size_t size = 0;
        Arrival from;
        const Got got = ReceiveOne(receiver.socket, receiver.buffer, sizeof receiver.buffer, size,
                                   from.address, from.via);
        if (got == Got::kNothing) {
            break;
        }
        if (got == Got::kFault || !Accepted(from.via)) {
            continue;  // e.g. Windows reporting an earlier reply as unreachable
        }
        ++received;
        if (receiver.sacn) {
            bridge_->OnSacn(receiver.buffer, size, now, from);
        } else {
            lastArtnetInterface_ = from.via;
            bridge_->OnArtnet(receiver.buffer, size, from.address, now, *this);
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
    // The address of the interface the poll arrived on.
    for (const Interface& i : ListInterfaces()) {
        if (lastArtnetInterface_ != 0 && i.index == lastArtnetInterface_) {
            return i.address;
        }
    }
    // Otherwise the address the system would send from to reach the poller.
    asio::error_code ec;
    udp::socket probe(io_);
    probe.open(udp::v4(), ec);
    if (!ec) {
        probe.connect(udp::endpoint(asio::ip::address_v4(poller), kArtnetPort), ec);
    }
    const udp::endpoint local = ec ? udp::endpoint() : probe.local_endpoint(ec);
    return ec ? 0 : local.address().to_v4().to_uint();
}

void Network::MacFor(std::uint32_t address, std::uint8_t* mac) {
    for (const Interface& i : ListInterfaces()) {
        if (i.address == address) {
            std::memcpy(mac, i.mac, sizeof i.mac);
            return;
        }
    }
}

void Network::Reply(std::uint32_t poller, const std::uint8_t* data, std::size_t size) {
    asio::error_code ec;
    artnet_->socket.send_to(asio::buffer(data, size),
                            udp::endpoint(asio::ip::address_v4(poller), kArtnetPort), 0, ec);
}

}  // namespace lxd::bridge
