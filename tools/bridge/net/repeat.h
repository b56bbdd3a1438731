// An action run every interval on the event loop until the object goes (or
// the loop stops).
#pragma once

#include <asio.hpp>
#include <functional>

#include "tools/bridge/core/io.h"

namespace lxd::bridge {

class Repeat {
  public:
    Repeat(asio::io_context& io, Millis interval, std::function<void()> action)
        : timer_(io), interval_(interval), action_(std::move(action)) {
        Arm();
    }
    ~Repeat() { timer_.cancel(); }
    Repeat(const Repeat&) = delete;
    Repeat& operator=(const Repeat&) = delete;

  private:
    void Arm() {
        timer_.expires_after(interval_);
        timer_.async_wait([this](asio::error_code ec) {
            if (!ec) {
                action_();
                Arm();
            }
        });
    }
    asio::steady_timer timer_;
    Millis interval_;
    std::function<void()> action_;
};

}  // namespace lxd::bridge
