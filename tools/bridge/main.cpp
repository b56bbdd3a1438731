// lxdravik-bridge: sACN and Art-Net from lighting consoles into the driver.
#include <asio.hpp>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "tools/bridge/bridge.h"
#include "tools/bridge/network.h"
#include "tools/bridge/options.h"
#include "tools/bridge/report.h"
#include "tools/bridge/status_view.h"
#include "tools/bridge/terminal.h"

namespace {

using lxd::bridge::Millis;

constexpr Millis kStatusInterval{500};

// Runs `action` every `interval` until the io_context stops.
class Repeat {
  public:
    Repeat(asio::io_context& io, Millis interval, std::function<void()> action)
        : timer_(io), interval_(interval), action_(std::move(action)) {
        Arm();
    }
    void Cancel() { timer_.cancel(); }

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

// One line on stderr saying what the bridge listens to.
void SayListening(const lxd::bridge::Options& options) {
    using lxd::bridge::Protocol;
    const lxd::bridge::Mapping& map = options.mapping;
    std::string what;
    for (const Protocol protocol : {Protocol::kSacn, Protocol::kArtnet}) {
        const int n = map.Count(protocol);
        if (n > 0) {
            what += std::string(what.empty() ? "" : " and ") + std::to_string(n) +
                    (protocol == Protocol::kSacn ? " sACN universe" : " Art-Net port-address") +
                    (n == 1                        ? ""
                     : protocol == Protocol::kSacn ? "s"
                                                   : "es") +
                    (protocol == Protocol::kSacn ? " (UDP 5568)" : " (UDP 6454)");
        }
    }
    std::string on;
    for (const std::string& i : options.network.interfaces) {
        on += (on.empty() ? "" : ", ") + i;
    }
    if (on.empty()) {
        on = "every interface (the status view and the summary list them)";
    }
    std::fprintf(stderr, "lxdravik-bridge: listening for %s on %s, sending to %s:%u\n",
                 what.c_str(), on.c_str(), options.network.toHost.c_str(), options.network.toPort);
}

}  // namespace

int main(int argc, char** argv) {
    lxd::bridge::Options options;
    if (const int code = lxd::bridge::ParseOptions(argc, argv, options); code >= 0) {
        return code;
    }
    asio::io_context io;
    lxd::bridge::Network network(io);
    std::string error;
    if (!network.Open(options.network, options.mapping, error)) {
        std::fprintf(stderr, "lxdravik-bridge: %s\n", error.c_str());
        return 1;
    }
    lxd::bridge::Bridge bridge(options.mapping, options.holdOnLoss, network);
    bridge.SetVersion(LXD_VERSION_MAJOR, LXD_VERSION_MINOR);
    if (!options.name.empty()) {
        bridge.SetNodeName(options.name, options.name);
    } else {
        asio::error_code ec;
        const std::string host = asio::ip::host_name(ec);
        if (!ec && !host.empty()) {
            bridge.SetNodeName(host, "lxdravik-bridge on " + host);
        }
    }
    const Millis start = lxd::bridge::SteadyNow();
    bridge.Listen(start);
    network.Start(bridge);

    lxd::bridge::RunInfo run;
    run.to = options.network.toHost + ":" + std::to_string(options.network.toPort);
    auto elapsed = [&] {
        return static_cast<double>((lxd::bridge::SteadyNow() - start).count()) / 1000.0;
    };

    Repeat tick(io, lxd::bridge::kTickInterval, [&] { bridge.Tick(lxd::bridge::SteadyNow()); });
    // The snapshot is taken here, between packets; the view is drawn on a
    // thread of its own, so that a stalled terminal never stops forwarding.
    const bool live = lxd::bridge::IsTerminal(stdout);
    std::unique_ptr<lxd::bridge::StatusWriter> view;
    if (live) {
        view = std::make_unique<lxd::bridge::StatusWriter>(stdout);
    }
    lxd::bridge::SnapshotTaker snapshots;
    Repeat status(io, kStatusInterval, [&] {
        if (view) {
            run.seconds = elapsed();
            view->Post(snapshots.Take(bridge, network.Status(), run, lxd::bridge::SteadyNow()));
        }
    });
    asio::steady_timer end(io);
    if (options.duration >= 0) {
        end.expires_after(std::chrono::duration_cast<asio::steady_timer::duration>(
            std::chrono::duration<double>(options.duration)));
        end.async_wait([&](asio::error_code ec) {
            if (!ec) {
                io.stop();
            }
        });
    }
    asio::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([&](asio::error_code ec, int) {
        if (!ec) {
            io.stop();
        }
    });
    SayListening(options);
    io.run();
    network.Close();
    run.seconds = elapsed();
    view.reset();

    const std::string summary = options.json
                                    ? lxd::bridge::SummaryJson(bridge, run, &network.Status())
                                    : lxd::bridge::SummaryText(bridge, run, &network.Status());
    std::fputs(summary.c_str(), stdout);
    return 0;
}
