// The status page's server: HTTP and WebSocket (websocketpp on standalone
// Asio) on the bridge's own event loop. It serves what a WebSource gives,
// which reads the status snapshot, never the forwarding path itself; a slow
// or hostile client costs a bounded connection and a timeout, nothing more.
// It answers only to its own names and addresses (no other site can read it
// by DNS rebinding) and opens WebSockets only for its own page.
#pragma once

#include <asio.hpp>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "protocol/layout.h"

namespace lxd::bridge {

struct WebReply {
    int status = 200;
    std::string contentType;
    std::string body;
    // Instead of `body` when set: one written beforehand (the status JSON),
    // so that an answer copies it once, into the response.
    std::shared_ptr<const std::string> written = nullptr;

    const std::string& Body() const { return written ? *written : body; }
};

// What the server shows.
class WebSource {
  public:
    virtual ~WebSource() = default;
    // /status.json, written beforehand: serving it costs a copy, not a
    // rendering on the event loop.
    virtual std::shared_ptr<const std::string> StatusJson() = 0;
    // 200 with "ok", or 503 with the reason.
    virtual WebReply Health() = 0;
    // The 512 levels of a mapped port; false when the port is not mapped.
    virtual bool Levels(int port, std::uint8_t* levels) = 0;
};

// What the server grants its clients. A connection over a limit is closed
// (or, for a WebSocket asked for, refused with 503).
struct WebLimits {
    int connections = 32;            // at once: requests being read and open WebSockets
    int connectionsPerAddress = 16;  // of those from one client address
    int sockets = 16;                // open WebSockets, fewer than connections
    int socketsPerAddress = 8;
    // Bytes waiting to go out to one WebSocket: levels are skipped beyond
    // it, and a ping that would queue a pong beyond it closes the socket.
    std::size_t queued = 64 * 1024;
    int pingMillis = 10000;  // each WebSocket is pinged this often,
    int pongMillis = 5000;   // closed when our ping is not answered within this,
    int idleMillis = 30000;  // or when neither a message nor that pong came for this long
};

// WebSocket clients get the levels of their port this often (12.5 a second).
inline constexpr int kWebPushMillis = 80;

class WebServer {
  public:
    WebServer(asio::io_context& io, WebSource& source, const WebLimits& limits = {});
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Listens on ADDR:PORT ("127.0.0.1:8250"). False with one line on
    // failure; it may be called again until it works.
    bool Listen(const std::string& address, std::string& error);
    // The port listened on (the one the system chose for port 0).
    std::uint16_t Port() const;
    void Close();

    // What a plain HTTP GET of `path` gets, its Host and Origin accepted.
    WebReply Answer(const std::string& method, const std::string& path);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace lxd::bridge
