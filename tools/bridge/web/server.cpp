#include "tools/bridge/web/server.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <vector>
#include <websocketpp/config/asio_no_tls.hpp>
#include <websocketpp/server.hpp>

#include "host/arguments.h"
#include "tools/bridge/web/page.h"

namespace lxd::bridge {
namespace {

// websocketpp's settings for a small status server: no logging, short
// timeouts, tiny messages. Headers are bounded by websocketpp's parser
// (16000 bytes, then 431).
struct WebConfig : websocketpp::config::asio {
    static const long timeout_open_handshake = 3000;
    static const long timeout_close_handshake = 1000;
    static const websocketpp::log::level elog_level = websocketpp::log::elevel::none;
    static const websocketpp::log::level alog_level = websocketpp::log::alevel::none;
    static const std::size_t max_message_size = 64;  // a client only names its port
    static const std::size_t max_http_body_size = 0;
};
using Server = websocketpp::server<WebConfig>;
using Clock = std::chrono::steady_clock;
using Code = websocketpp::http::status_code::value;

constexpr const char* kLevelsPath = "/levels";
// What one queued control frame costs beside its payload, which websocketpp
// does not count as buffered: the message, its header, the queue's share.
constexpr std::size_t kFrameCost = 256;

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The address as IPv4 where it is an IPv4 address mapped into IPv6.
asio::ip::address Plain(const asio::ip::address& a) {
    if (a.is_v6() && a.to_v6().is_v4_mapped()) {
        return asio::ip::make_address_v4(asio::ip::v4_mapped, a.to_v6());
    }
    return a;
}

// "name", "name:port", "1.2.3.4:port", "[v6]" or "[v6]:port" into the host
// (lower case, without a final dot or brackets) and the port (0: none).
bool SplitHost(const std::string& text, std::string& host, unsigned& port) {
    std::size_t end = text.size();
    port = 0;
    if (!text.empty() && text[0] == '[') {
        end = text.find(']');
        if (end == std::string::npos) {
            return false;
        }
        host = text.substr(1, end - 1);
        ++end;
    } else {
        end = text.find(':');
        host = text.substr(0, end);
    }
    if (end < text.size()) {
        const std::string digits = text.substr(end + 1);
        if (text[end] != ':' || digits.empty() || digits.size() > 5 ||
            !std::all_of(digits.begin(), digits.end(),
                         [](char c) { return c >= '0' && c <= '9'; })) {
            return false;
        }
        port = static_cast<unsigned>(std::stoul(digits));
        if (port == 0 || port > 65535) {
            return false;
        }
    }
    if (!host.empty() && host.back() == '.') {
        host.pop_back();
    }
    host = Lower(host);
    return !host.empty();
}

}  // namespace

struct WebServer::Impl {
    Impl(asio::io_context& io, WebSource& source, const WebLimits& limits)
        : io(io), source(source), limits(limits), push(io) {}

    // A connection: an HTTP request being read, or a WebSocket.
    struct Peer {
        websocketpp::connection_hdl hdl;
        asio::ip::address address;  // the client's
        bool socket = false;        // a WebSocket from its validation on
        bool open = false;          // an open WebSocket
        int port = -1;              // whose levels it gets
        Clock::time_point heard;    // its last message, or its answer to our ping
        Clock::time_point pinged;   // our last ping
        std::uint32_t token = 0;    // that ping's payload while it is unanswered
        // Pongs queued for it in all, and those it has read for certain:
        // the ones queued before a ping of ours that it answered.
        std::uint64_t pongs = 0;
        std::uint64_t pongsAtPing = 0;
        std::uint64_t pongsRead = 0;
    };

    Peer* Find(const websocketpp::connection_hdl& hdl);
    int Count(const asio::ip::address* address, bool sockets) const;
    void Accepted(websocketpp::connection_hdl hdl);
    // Whether the request names this server and comes from its own page;
    // false with the refusal set on the connection.
    bool Welcome(const Server::connection_ptr& con);
    bool OwnHost(const std::string& text, unsigned defaultPort,
                 const asio::ip::address& local) const;
    void Serve(websocketpp::connection_hdl hdl, WebServer& owner);
    bool Validate(websocketpp::connection_hdl hdl);
    bool Pinged(websocketpp::connection_hdl hdl, const std::string& payload);
    void Ponged(websocketpp::connection_hdl hdl, const std::string& payload);
    void Chosen(websocketpp::connection_hdl hdl, const std::string& text);
    void Ping(Peer& peer, const Server::connection_ptr& con, Clock::time_point now);
    void Arm();
    void Tick();

    asio::io_context& io;
    WebSource& source;
    const WebLimits limits;
    Server server;
    std::vector<Peer> peers;
    asio::steady_timer push;
    bool initialised = false;
    bool listening = false;
    asio::ip::address listenAddress;
    std::uint16_t listenPort = 0;
    std::string hostName;  // lower case
    std::uint32_t nextToken = 0;
};

WebServer::Impl::Peer* WebServer::Impl::Find(const websocketpp::connection_hdl& hdl) {
    for (Peer& peer : peers) {
        if (!peer.hdl.owner_before(hdl) && !hdl.owner_before(peer.hdl)) {
            return &peer;
        }
    }
    return nullptr;
}

int WebServer::Impl::Count(const asio::ip::address* address, bool sockets) const {
    return static_cast<int>(std::count_if(peers.begin(), peers.end(), [&](const Peer& p) {
        return !p.hdl.expired() && (!sockets || p.socket) &&
               (address == nullptr || p.address == *address);
    }));
}

void WebServer::Impl::Accepted(websocketpp::connection_hdl hdl) {
    peers.erase(
        std::remove_if(peers.begin(), peers.end(), [](const Peer& p) { return p.hdl.expired(); }),
        peers.end());
    websocketpp::lib::error_code ec;
    const Server::connection_ptr con = server.get_con_from_hdl(hdl, ec);
    if (!con) {
        return;
    }
    asio::error_code aec;
    const asio::ip::address address = Plain(con->get_raw_socket().remote_endpoint(aec).address());
    if (!aec && Count(nullptr, false) < limits.connections &&
        Count(&address, false) < limits.connectionsPerAddress) {
        Peer peer;
        peer.hdl = hdl;
        peer.address = address;
        peers.push_back(peer);
        return;
    }
    // Too many: closing the socket ends the connection before it reads.
    con->get_raw_socket().close(aec);
}

bool WebServer::Impl::OwnHost(const std::string& text, unsigned defaultPort,
                              const asio::ip::address& local) const {
    std::string host;
    unsigned port = 0;
    if (!SplitHost(text, host, port)) {
        return false;
    }
    port = port == 0 ? defaultPort : port;
    if (port != 0 && port != listenPort) {
        return false;
    }
    asio::error_code ec;
    const asio::ip::address named = asio::ip::make_address(host, ec);
    if (!ec) {
        return Plain(named) == local || (!listenAddress.is_unspecified() && named == listenAddress);
    }
    return host == hostName ||
           (host == "localhost" && (listenAddress.is_loopback() || listenAddress.is_unspecified()));
}

bool WebServer::Impl::Welcome(const Server::connection_ptr& con) {
    asio::error_code ec;
    const asio::ip::address local = Plain(con->get_raw_socket().local_endpoint(ec).address());
    const std::string& host = con->get_request_header("Host");
    if (!host.empty() && !OwnHost(host, 0, local)) {
        con->set_status(static_cast<Code>(421), "Misdirected Request");
        con->set_body("this host name is not one of the status page's\n");
        return false;
    }
    // Browsers send the page's origin with WebSockets and scripts' requests:
    // another site's page gets nothing.
    const std::string& origin = con->get_request_header("Origin");
    const std::string scheme = "http://";
    if (!origin.empty() && (Lower(origin.substr(0, scheme.size())) != scheme ||
                            !OwnHost(origin.substr(scheme.size()), 80, local))) {
        con->set_status(websocketpp::http::status_code::forbidden);
        con->set_body("only the status page itself may ask\n");
        return false;
    }
    return true;
}

void WebServer::Impl::Serve(websocketpp::connection_hdl hdl, WebServer& owner) {
    websocketpp::lib::error_code ec;
    const Server::connection_ptr con = server.get_con_from_hdl(hdl, ec);
    if (!con) {
        return;
    }
    con->replace_header("Cache-Control", "no-store");
    if (!Welcome(con)) {
        con->replace_header("Content-Type", "text/plain");
        return;
    }
    const std::string& method = con->get_request().get_method();
    const WebReply reply = owner.Answer(method, con->get_resource());
    con->set_status(static_cast<Code>(reply.status));
    con->replace_header("Content-Type", reply.contentType);
    con->set_body(method == "HEAD" ? std::string() : reply.Body());
    if (method == "HEAD") {
        con->replace_header("Content-Length", std::to_string(reply.Body().size()));
    }
}

bool WebServer::Impl::Validate(websocketpp::connection_hdl hdl) {
    websocketpp::lib::error_code ec;
    const Server::connection_ptr con = server.get_con_from_hdl(hdl, ec);
    Peer* peer = Find(hdl);
    if (!con || peer == nullptr || !Welcome(con)) {
        return false;
    }
    if (con->get_resource() != kLevelsPath) {
        con->set_status(websocketpp::http::status_code::not_found);
        return false;
    }
    if (Count(nullptr, true) >= limits.sockets ||
        Count(&peer->address, true) >= limits.socketsPerAddress) {
        con->set_status(websocketpp::http::status_code::service_unavailable);
        con->set_body("too many WebSockets: at most " + std::to_string(limits.sockets) + ", " +
                      std::to_string(limits.socketsPerAddress) + " from one address\n");
        return false;
    }
    peer->socket = true;
    return true;
}

bool WebServer::Impl::Pinged(websocketpp::connection_hdl hdl, const std::string& payload) {
    websocketpp::lib::error_code ec;
    const Server::connection_ptr con = server.get_con_from_hdl(hdl, ec);
    Peer* peer = Find(hdl);
    if (!con || peer == nullptr || !peer->open) {
        return false;
    }
    // What may still wait for this client: the payloads websocketpp counts,
    // and every pong it has not read for certain, this one included.
    const std::size_t unread = static_cast<std::size_t>(peer->pongs - peer->pongsRead) + 1;
    if (con->get_buffered_amount() + payload.size() + unread * kFrameCost > limits.queued) {
        // Its queue is full: a close frame would wait behind it for ever.
        peer->open = false;
        asio::error_code ignored;
        con->get_raw_socket().close(ignored);
        return false;
    }
    ++peer->pongs;
    // Half way there, a ping of ours finds out how much it has read.
    if (peer->token == 0 && unread * kFrameCost > limits.queued / 2) {
        Ping(*peer, con, Clock::now());
    }
    return true;
}

void WebServer::Impl::Ponged(websocketpp::connection_hdl hdl, const std::string& payload) {
    Peer* peer = Find(hdl);
    if (peer != nullptr && peer->token != 0 && payload == std::to_string(peer->token)) {
        peer->token = 0;
        peer->pongsRead = peer->pongsAtPing;
        peer->heard = Clock::now();
    }
}

void WebServer::Impl::Chosen(websocketpp::connection_hdl hdl, const std::string& text) {
    int port = -1;
    if (!text.empty() && text.size() <= 2 &&
        std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        port = std::stoi(text);
    }
    if (Peer* peer = Find(hdl)) {
        peer->port = port < kNumPorts ? port : -1;
        peer->heard = Clock::now();
    }
}

void WebServer::Impl::Ping(Peer& peer, const Server::connection_ptr& con, Clock::time_point now) {
    if (++nextToken == 0) {
        ++nextToken;
    }
    peer.token = nextToken;
    peer.pongsAtPing = peer.pongs;
    peer.pinged = now;
    websocketpp::lib::error_code ec;
    con->ping(std::to_string(peer.token), ec);
}

void WebServer::Impl::Arm() {
    push.expires_after(std::chrono::milliseconds(kWebPushMillis));
    push.async_wait([this](asio::error_code ec) {
        if (!ec) {
            Tick();
            Arm();
        }
    });
}

// Levels to every open WebSocket that keeps up; pings, and closes for those
// that went quiet.
void WebServer::Impl::Tick() {
    const Clock::time_point now = Clock::now();
    std::uint8_t frame[1 + kChannelsPerPort];
    for (Peer& peer : peers) {
        websocketpp::lib::error_code ec;
        const Server::connection_ptr con =
            peer.open ? server.get_con_from_hdl(peer.hdl, ec) : nullptr;
        if (!con) {
            continue;
        }
        const char* why = nullptr;
        if (peer.token != 0 && now - peer.pinged > std::chrono::milliseconds(limits.pongMillis)) {
            why = "no answer to a ping";
        } else if (now - peer.heard > std::chrono::milliseconds(limits.idleMillis)) {
            why = "idle";
        }
        if (why != nullptr) {
            peer.open = false;
            con->close(websocketpp::close::status::policy_violation, why, ec);
            continue;
        }
        if (peer.token == 0 && now - peer.pinged >= std::chrono::milliseconds(limits.pingMillis)) {
            Ping(peer, con, now);
        }
        if (peer.port >= 0 && con->get_buffered_amount() <= limits.queued &&
            source.Levels(peer.port, frame + 1)) {
            frame[0] = static_cast<std::uint8_t>(peer.port);
            con->send(frame, sizeof frame, websocketpp::frame::opcode::binary);
        }
    }
}

WebServer::WebServer(asio::io_context& io, WebSource& source, const WebLimits& limits)
    : impl_(std::make_unique<Impl>(io, source, limits)) {}

WebServer::~WebServer() {
    Close();
}

bool WebServer::Listen(const std::string& address, std::string& error) {
    Impl& m = *impl_;
    std::string hostText;
    std::uint16_t port = 0;
    asio::error_code ec;
    // Port 0: one the system chooses (for tests and benchmarks).
    const bool anyPort = address.size() > 2 && address.compare(address.size() - 2, 2, ":0") == 0;
    if (anyPort) {
        hostText = address.substr(0, address.size() - 2);
    }
    const asio::ip::address host = anyPort || host::ParseHostPort(address, hostText, port)
                                       ? asio::ip::make_address(hostText, ec)
                                       : asio::ip::address();
    if ((port == 0 && !anyPort) || ec) {
        error = "--http " + address + ": expected an IP address and a port, such as 127.0.0.1:8250";
        return false;
    }
    if (!m.initialised) {
        m.server.init_asio(&m.io, ec);
        m.initialised = !ec;
        m.server.set_reuse_addr(true);
        m.server.set_tcp_pre_init_handler([&m](websocketpp::connection_hdl h) { m.Accepted(h); });
        m.server.set_http_handler(
            [this](websocketpp::connection_hdl h) { impl_->Serve(h, *this); });
        m.server.set_validate_handler(
            [&m](websocketpp::connection_hdl h) { return m.Validate(h); });
        m.server.set_open_handler([&m](websocketpp::connection_hdl h) {
            if (Impl::Peer* peer = m.Find(h)) {
                peer->open = true;
                peer->heard = peer->pinged = Clock::now();
            }
        });
        m.server.set_close_handler([&m](websocketpp::connection_hdl h) {
            if (Impl::Peer* peer = m.Find(h)) {
                peer->open = false;
            }
        });
        m.server.set_message_handler([&m](websocketpp::connection_hdl h, Server::message_ptr msg) {
            m.Chosen(h, msg->get_payload());
        });
        m.server.set_ping_handler(
            [&m](websocketpp::connection_hdl h, std::string p) { return m.Pinged(h, p); });
        m.server.set_pong_handler(
            [&m](websocketpp::connection_hdl h, std::string p) { m.Ponged(h, p); });
    }
    if (!ec) {
        m.server.listen(asio::ip::tcp::endpoint(host, port), ec);
    }
    if (!ec) {
        m.server.start_accept(ec);
    }
    if (ec) {
        error = "cannot serve the status page on " + address + ": " + ec.message();
        if (m.server.is_listening()) {
            websocketpp::lib::error_code ignored;
            m.server.stop_listening(ignored);
        }
        return false;
    }
    m.listenAddress = Plain(host);
    m.listenPort = Port();
    m.hostName = Lower(asio::ip::host_name(ec));
    m.listening = true;
    m.Arm();
    return true;
}

std::uint16_t WebServer::Port() const {
    websocketpp::lib::asio::error_code ec;
    return impl_->server.get_local_endpoint(ec).port();
}

void WebServer::Close() {
    Impl& m = *impl_;
    if (!m.listening) {
        return;
    }
    m.listening = false;
    m.push.cancel();
    websocketpp::lib::error_code ec;
    m.server.stop_listening(ec);
    for (Impl::Peer& peer : m.peers) {
        if (peer.open) {
            peer.open = false;
            m.server.close(peer.hdl, websocketpp::close::status::going_away, "", ec);
        }
    }
}

WebReply WebServer::Answer(const std::string& method, const std::string& resource) {
    const std::string path = resource.substr(0, resource.find('?'));
    if (method != "GET" && method != "HEAD") {
        return {405, "text/plain", "only GET\n"};
    }
    if (path == "/") {
        return {200, "text/html; charset=utf-8", StatusPage()};
    }
    if (path == "/status.json") {
        return {200, "application/json", {}, impl_->source.StatusJson()};
    }
    if (path == "/healthz") {
        return impl_->source.Health();
    }
    return {404, "text/plain", "not found: the status page is /, its data /status.json\n"};
}

}  // namespace lxd::bridge
