#include "tools/bridge/net/network.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "tools/bridge/net/handler_room.h"

namespace lxd::bridge {

using asio::ip::udp;

namespace {

// Linux allows 20 group memberships per socket by default; more universes
// get further sockets on the same port.
constexpr std::size_t kGroupsPerSocket = 20;
// Datagrams received from one socket before the others (and the timers) get
// their turn.
constexpr int kDrainLimit = 256;
// Synchronisation universes joined at most, besides the mapped ones.
constexpr std::size_t kSyncGroupsJoined = SacnSyncStreams::kStreams;

std::string Text(std::uint32_t address) {
    return asio::ip::address_v4(address).to_string();
}

}  // namespace

// Shared with the wait armed on its socket: a completion queued before the
// socket closed (on Windows a wait completes through the completion port,
// also after the close) holds the receiver and finds it closed.
struct Network::Receiver {
    explicit Receiver(asio::io_context& io, bool sacn) : socket(io), sacn(sacn) {}
    void Close() {
        closed = true;
        asio::error_code ignored;
        socket.close(ignored);
    }
    udp::socket socket;
    bool sacn;
    bool armed = false;
    bool closed = false;
};

// The flush posted for the turn, shared with it: its memory is given back
// into the room before the handler lets go of it.
struct Network::PostedFlush {
    HandlerRoom room;
    bool posted = false;
};

// An interface the bridge receives on: its sockets and the groups joined.
struct Network::InUse {
    Interface at;
    std::vector<std::shared_ptr<Receiver>> sockets;  // kGroupsPerSocket groups each
    std::vector<bool> joined;                        // by universe index
    std::string error;
    bool unicastOnly = false;  // loopback whose joins fail: it receives unicast
};

Network::Network(asio::io_context& io, std::function<std::vector<Interface>()> list)
    : io_(io),
      list_(std::move(list)),
      flush_(std::make_shared<PostedFlush>()),
      out_(io),
      watch_(io) {}

Network::~Network() {
    Close();
}

void Network::Close() {
    closed_ = true;
    asio::error_code ignored;
    watch_.Close();
    for (auto& in : inUse_) {
        for (auto& receiver : in->sockets) {
            receiver->Close();
        }
    }
    if (sacnBase_) {
        sacnBase_->Close();
    }
    if (artnet_) {
        artnet_->Close();
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
        const int granted = GrowReceiveBuffer(receiver.socket, kReceiveBuffer);
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

bool Network::Open(const NetworkSettings& settings, const Mapping& mapping, std::string& error,
                   const udp::endpoint* to) {
    settings_ = settings;
    status_.restricted = !settings.interfaces.empty();
    asio::error_code ec;
    if (to != nullptr) {
        to_ = *to;
    } else {
        asio::ip::address_v4 address = asio::ip::make_address_v4(settings.toHost, ec);
        if (ec) {
            udp::resolver resolver(io_);
            const auto found = resolver.resolve(udp::v4(), settings.toHost, "", ec);
            if (ec || found.empty()) {
                error = "--to: cannot resolve '" + settings.toHost + "' to an IPv4 address";
                return false;
            }
            address = found.begin()->endpoint().address().to_v4();
        }
        to_ = udp::endpoint(address, settings.toPort);
    }
    out_.open(udp::v4(), ec);
    if (ec) {
        error = "cannot open a UDP socket: " + ec.message();
        return false;
    }
    for (const PortSource& input : mapping.Inputs()) {
        if (input.protocol == Protocol::kSacn) {
            universes_.push_back(input.universe);
        }
    }
    if (!universes_.empty()) {
        // Sources announce their universes to discovery's group.
        universes_.push_back(kSacnDiscoveryUniverse);
        mappedGroups_ = universes_.size();
        // Unicast sACN, and the port held while no interface is up.
        sacnBase_ = std::make_shared<Receiver>(io_, true);
        if (!OpenReceiver(*sacnBase_, settings.sacnPort, "sACN", error)) {
            return false;
        }
        ReceiveJoinedGroupsOnly(sacnBase_->socket);
    }
    if (mapping.Count(Protocol::kArtnet) > 0) {
        artnet_ = std::make_shared<Receiver>(io_, false);
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
            auto receiver = std::make_shared<Receiver>(io_, true);
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
        if (ec && in.at.loopback && u == 0) {
            // Loopback that carries no multicast here still receives unicast.
            in.unicastOnly = true;
            break;
        }
        if (ec) {
            in.error = "cannot join " + group.to_string() + " (sACN universe " +
                       std::to_string(universes_[u]) + "): " + ec.message();
        }
    }
    if (bridge_ != nullptr) {
        for (auto& receiver : in.sockets) {
            if (!receiver->armed) {
                Arm(receiver);
            }
        }
    }
}

bool Network::Rescan() {
    const std::vector<Interface> all = list_();
    std::vector<Interface> wanted;
    for (const Interface& i : all) {
        bool take = !status_.restricted && (i.multicast || i.loopback);
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
    for (auto it = inUse_.begin(); it != inUse_.end();) {
        const bool still = std::any_of(wanted.begin(), wanted.end(), [&](const Interface& w) {
            return w.index == (*it)->at.index && w.address == (*it)->at.address;
        });
        if (still) {
            ++it;
            continue;
        }
        for (auto& receiver : (*it)->sockets) {
            receiver->Close();
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
        } else if (!(*it)->unicastOnly &&
                   std::count((*it)->joined.begin(), (*it)->joined.end(), false) > 0) {
            Join(**it);  // try the failed joins again
        }
    }
    cards_.clear();
    for (const Interface& i : all) {
        if (std::any_of(inUse_.begin(), inUse_.end(),
                        [&](const auto& in) { return in->at.index == i.index; })) {
            cards_.push_back(i);
        }
    }
    UpdateStatus();
    return joinedNew;
}

void Network::UpdateStatus() {
    std::vector<std::uint32_t> accepted;
    for (const auto& in : inUse_) {
        accepted.push_back(in->at.index);
    }
    delivery_.Accept(status_.restricted, std::move(accepted));
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
            if (in->joined[u] || !in->unicastOnly) {
                (in->joined[u] ? s.joined : s.failed).push_back(universes_[u]);
            }
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

std::uint16_t Network::ArtnetPort() const {
    asio::error_code ec;
    return artnet_ ? artnet_->socket.local_endpoint(ec).port() : 0;
}

void Network::Start(Bridge& bridge) {
    bridge_ = &bridge;
    for (auto& in : inUse_) {
        for (auto& receiver : in->sockets) {
            Arm(receiver);
        }
    }
    if (sacnBase_) {
        Arm(sacnBase_);
    }
    if (artnet_) {
        Arm(artnet_);
    }
    watch_.Start([this] { AfterRescan(); });
}

void Network::AfterRescan() {
    if (!closed_ && Rescan()) {
        bridge_->Listen(host::NowMillis());  // sources on the new interface are sampled first
    }
}

void Network::Arm(const std::shared_ptr<Receiver>& receiver) {
    receiver->armed = true;
    receiver->socket.async_wait(udp::socket::wait_read, [this, receiver](asio::error_code ec) {
        if (ec || receiver->closed) {
            return;  // closed: the network may be gone too
        }
        Drain(receiver);
    });
}

void Network::Drain(const std::shared_ptr<Receiver>& receiver) {
    Receive(*receiver, host::NowMillis());
    FlushLater();
    JoinSyncGroups();
    // A wait looks at the socket again when it is armed: what the limit left
    // is read in the next turn, after the other sockets had theirs.
    Arm(receiver);
}

void Network::FlushLater() {
    if (flush_->posted || !bridge_->Output().Due()) {
        return;
    }
    // Handlers of sockets readable in the same turn run before this one: all
    // that they changed goes in one burst.
    flush_->posted = true;
    asio::post(io_, asio::bind_allocator(RoomAllocator<void>(flush_->room), [this, f = flush_] {
                   f->posted = false;
                   bridge_->Flush(host::NowMillis());
               }));
}

int Network::DrainSacn() {
    const Millis now = host::NowMillis();
    int taken = 0;
    for (auto& in : inUse_) {
        for (auto& receiver : in->sockets) {
            taken += Receive(*receiver, now);
        }
    }
    if (sacnBase_) {
        taken += Receive(*sacnBase_, now);
    }
    bridge_->Flush(now);
    JoinSyncGroups();
    return taken;
}

void Network::JoinSyncGroups() {
    if (closed_ || bridge_->SyncGroupsVersion() == syncGroupsVersion_ || mappedGroups_ == 0) {
        return;
    }
    syncGroupsVersion_ = bridge_->SyncGroupsVersion();
    std::uint16_t named[SacnSyncStreams::kStreams];
    const int count = bridge_->SyncGroups(named, SacnSyncStreams::kStreams);
    bool added = false;
    for (int i = 0; i < count; ++i) {
        if (universes_.size() < mappedGroups_ + kSyncGroupsJoined &&
            std::find(universes_.begin(), universes_.end(), named[i]) == universes_.end()) {
            universes_.push_back(named[i]);
            added = true;
        }
    }
    if (added) {
        for (auto& in : inUse_) {
            Join(*in);
        }
        UpdateStatus();
    }
}

int Network::Receive(Receiver& receiver, Millis now) {
    int taken = 0;
    for (int read = 0; read < kDrainLimit;) {
        const int count = batch_.Receive(receiver.socket);
        if (count == ReceiveBatch::kFault) {
            ++read;  // e.g. Windows reporting an earlier reply as unreachable
            continue;
        }
        read += count;
        taken += receiver.sacn ? delivery_.Sacn(*bridge_, batch_.Datagrams(), count, now)
                               : delivery_.Artnet(*bridge_, batch_.Datagrams(), count, now, *this);
        if (count < kMaxBatch) {
            break;  // none was left
        }
    }
    status_.foreignDatagrams = delivery_.Foreign();
    return taken;
}

bool Network::Send(const std::uint8_t* data, std::size_t size) {
    const Datagram one{data, size};
    return SendBurst(&one, 1) == 1;
}

int Network::SendBurst(const Datagram* datagrams, int count) {
    return lxd::bridge::SendBurst(out_, to_, datagrams, count);
}

// A poll is answered from the cards in use as the last look found them:
// nothing is read from the system per poll.
std::uint32_t Network::OwnAddressFor(std::uint32_t poller) {
    const std::uint32_t arrival = delivery_.ArtnetVia();
    const Interface* card = ReplyCard(cards_, arrival, poller);
    // Out of the card the poll came in by; a console on this machine is
    // reached as the routing table says (through loopback).
    replyVia_ = card != nullptr && card->index == arrival ? card->index : 0;
    replyFrom_ = card != nullptr ? card->address : 0;
    return replyFrom_;
}

void Network::MacFor(std::uint32_t address, std::uint8_t* mac) {
    for (const Interface& i : cards_) {
        if (i.address == address) {
            std::memcpy(mac, i.mac, sizeof i.mac);
            return;
        }
    }
}

void Network::Reply(std::uint32_t poller, const std::uint8_t* data, std::size_t size) {
    SendVia(artnet_->socket, udp::endpoint(asio::ip::address_v4(poller), kArtnetPort), data, size,
            replyVia_, replyFrom_);
}

}  // namespace lxd::bridge
