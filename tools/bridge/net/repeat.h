// An action run every interval on the event loop until the object goes (or
// the loop stops).
#pragma once

#include <asio.hpp>
#include <functional>
#include <memory>

#include "tools/bridge/core/io.h"

namespace lxd::bridge {

class Repeat {
  public:
    Repeat(asio::io_context& io, Millis interval, std::function<void()> action)
        : state_(std::make_shared<State>(io, interval, std::move(action))) {
        Arm(state_);
    }
    ~Repeat() {
        state_->stopped = true;
        state_->timer.cancel();
    }
    Repeat(const Repeat&) = delete;
    Repeat& operator=(const Repeat&) = delete;

  private:
    // Shared with the wait: an expiry already queued when the object goes
    // finds it stopped.
    struct State {
        State(asio::io_context& io, Millis interval, std::function<void()> action)
            : timer(io), interval(interval), action(std::move(action)) {}
        asio::steady_timer timer;
        Millis interval;
        std::function<void()> action;
        bool stopped = false;
    };
    static void Arm(const std::shared_ptr<State>& state) {
        state->timer.expires_after(state->interval);
        state->timer.async_wait([state](asio::error_code ec) {
            if (!ec && !state->stopped) {
                state->action();
                Arm(state);
            }
        });
    }
    std::shared_ptr<State> state_;
};

}  // namespace lxd::bridge
