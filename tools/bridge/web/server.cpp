#include "tools/bridge/web/server.h"

#include <algorithm>
#include <vector>
#include <websocketpp/config/asio_no_tls.hpp>
#include <websocketpp/server.hpp>

#include "host/arguments.h"
#include "tools/bridge/web/page.h"

namespace lxd::bridge {
namespace {

// websocketpp's settings for a small status server: no logging, short
// timeouts, tiny messages. Headers are bounded by websocketpp's parser
// (16000 bytes, then 413).
struct WebConfig : websocketpp::config::asio {
    static const long timeout_open_handshake = 3000;
    static const long timeout_close_handshake = 1000;
    static const websocketpp::log::level elog_level = websocketpp::log::elevel::none;
    static const websocketpp::log::level alog_level = websocketpp::log::alevel::none;
    static const std::size_t max_message_size = 64;  // a client only names its port
    static const std::size_t max_http_body_size = 0;
};
using Server = websocketpp::server<WebConfig>;

// A client that reads no more than this far behind gets no further frames.
constexpr std::size_t kMaxBuffered = 64 * 1024;
constexpr const char* kLevelsPath = "/levels";

}  // namespace

struct WebServer::Impl {
    Impl(asio::io_context& io, WebSource& source) : io(io), source(source), push(io) {}

    struct Client {
        websocketpp::connection_hdl hdl;
        int port = -1;
    };

    void Accepted(websocketpp::connection_hdl hdl);
    void Serve(websocketpp::connection_hdl hdl, WebServer& owner);
    void Chosen(websocketpp::connection_hdl hdl, const std::string& text);
    void Arm();
    void Push();

    asio::io_context& io;
    WebSource& source;
    Server server;
    std::vector<websocketpp::connection_hdl> connections;  // alive while their handle is
    std::vector<Client> clients;                           // open WebSockets
    asio::steady_timer push;
    bool listening = false;
};

void WebServer::Impl::Accepted(websocketpp::connection_hdl hdl) {
    connections.erase(std::remove_if(connections.begin(), connections.end(),
                                     [](const auto& c) { return c.expired(); }),
                      connections.end());
    if (connections.size() < static_cast<std::size_t>(kWebMaxConnections)) {
        connections.push_back(hdl);
        return;
    }
    // Too many: closing the socket ends the connection before it reads.
    websocketpp::lib::error_code ec;
    if (const Server::connection_ptr con = server.get_con_from_hdl(hdl, ec)) {
        asio::error_code ignored;
        con->get_raw_socket().close(ignored);
    }
}

void WebServer::Impl::Serve(websocketpp::connection_hdl hdl, WebServer& owner) {
    websocketpp::lib::error_code ec;
    const Server::connection_ptr con = server.get_con_from_hdl(hdl, ec);
    if (!con) {
        return;
    }
    const WebReply reply = owner.Answer(con->get_request().get_method(), con->get_resource());
    con->set_status(static_cast<websocketpp::http::status_code::value>(reply.status));
    con->replace_header("Content-Type", reply.contentType);
    con->replace_header("Cache-Control", "no-store");
    con->set_body(reply.body);
}

void WebServer::Impl::Chosen(websocketpp::connection_hdl hdl, const std::string& text) {
    int port = -1;
    if (!text.empty() && text.size() <= 2 &&
        std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        port = std::stoi(text);
    }
    for (Client& client : clients) {
        if (!client.hdl.owner_before(hdl) && !hdl.owner_before(client.hdl)) {
            client.port = port < kNumPorts ? port : -1;
        }
    }
}

void WebServer::Impl::Arm() {
    push.expires_after(std::chrono::milliseconds(kWebPushMillis));
    push.async_wait([this](asio::error_code ec) {
        if (!ec) {
            Push();
            Arm();
        }
    });
}

void WebServer::Impl::Push() {
    std::uint8_t frame[1 + kChannelsPerPort];
    for (const Client& client : clients) {
        websocketpp::lib::error_code ec;
        const Server::connection_ptr con = server.get_con_from_hdl(client.hdl, ec);
        if (!con || client.port < 0 || con->get_buffered_amount() > kMaxBuffered ||
            !source.Levels(client.port, frame + 1)) {
            continue;
        }
        frame[0] = static_cast<std::uint8_t>(client.port);
        con->send(frame, sizeof frame, websocketpp::frame::opcode::binary);
    }
}

WebServer::WebServer(asio::io_context& io, WebSource& source)
    : impl_(std::make_unique<Impl>(io, source)) {}

WebServer::~WebServer() {
    Close();
}

bool WebServer::Listen(const std::string& address, std::string& error) {
    Impl& m = *impl_;
    std::string hostText;
    std::uint16_t port = 0;
    asio::error_code ec;
    const asio::ip::address host = host::ParseHostPort(address, hostText, port)
                                       ? asio::ip::make_address(hostText, ec)
                                       : asio::ip::address();
    if (port == 0 || ec) {
        error = "--http " + address + ": expected an IP address and a port, such as 127.0.0.1:8250";
        return false;
    }
    m.server.init_asio(&m.io, ec);
    if (!ec) {
        m.server.set_reuse_addr(true);
        m.server.set_tcp_pre_init_handler([&m](websocketpp::connection_hdl h) { m.Accepted(h); });
        m.server.set_http_handler(
            [this](websocketpp::connection_hdl h) { impl_->Serve(h, *this); });
        m.server.set_validate_handler([&m](websocketpp::connection_hdl h) {
            websocketpp::lib::error_code ignored;
            const Server::connection_ptr con = m.server.get_con_from_hdl(h, ignored);
            return con && con->get_resource() == kLevelsPath;
        });
        m.server.set_open_handler(
            [&m](websocketpp::connection_hdl h) { m.clients.push_back({h}); });
        m.server.set_close_handler([&m](websocketpp::connection_hdl h) {
            m.clients.erase(std::remove_if(m.clients.begin(), m.clients.end(),
                                           [&h](const Impl::Client& c) {
                                               return !c.hdl.owner_before(h) &&
                                                      !h.owner_before(c.hdl);
                                           }),
                            m.clients.end());
        });
        m.server.set_message_handler([&m](websocketpp::connection_hdl h, Server::message_ptr msg) {
            m.Chosen(h, msg->get_payload());
        });
        m.server.listen(asio::ip::tcp::endpoint(host, port), ec);
    }
    if (!ec) {
        m.server.start_accept(ec);
    }
    if (ec) {
        error = "cannot serve the status page on " + address + ": " + ec.message();
        return false;
    }
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
    for (const Impl::Client& client : m.clients) {
        m.server.close(client.hdl, websocketpp::close::status::going_away, "", ec);
    }
    m.clients.clear();
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
        return {200, "application/json", impl_->source.StatusJson()};
    }
    if (path == "/healthz") {
        return impl_->source.Health();
    }
    return {404, "text/plain", "not found: the status page is /, its data /status.json\n"};
}

}  // namespace lxd::bridge
