// The status page's server: HTTP and WebSocket (websocketpp on standalone
// Asio) on the bridge's own event loop. It serves what a WebSource gives,
// which reads the status snapshot, never the forwarding path itself; a slow
// or hostile client costs a bounded connection and a timeout, nothing more.
#pragma once

#include <asio.hpp>
#include <cstdint>
#include <memory>
#include <string>

#include "protocol/layout.h"

namespace lxd::bridge {

struct WebReply {
    int status = 200;
    std::string contentType;
    std::string body;
};

// What the server shows.
class WebSource {
  public:
    virtual ~WebSource() = default;
    virtual std::string StatusJson() = 0;
    // 200 with "ok", or 503 with the reason.
    virtual WebReply Health() = 0;
    // The 512 levels of a mapped port; false when the port is not mapped.
    virtual bool Levels(int port, std::uint8_t* levels) = 0;
};

// At most this many connections at once (HTTP requests being read and open
// WebSockets); further ones are closed at once.
inline constexpr int kWebMaxConnections = 32;
// WebSocket clients get the levels of their port this often (12.5 a second).
inline constexpr int kWebPushMillis = 80;

class WebServer {
  public:
    WebServer(asio::io_context& io, WebSource& source);
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Listens on ADDR:PORT ("127.0.0.1:8250"). False with one line on failure.
    bool Listen(const std::string& address, std::string& error);
    // The port listened on (the one the system chose for port 0).
    std::uint16_t Port() const;
    void Close();

    // What a plain HTTP GET of `path` gets.
    WebReply Answer(const std::string& method, const std::string& path);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace lxd::bridge
