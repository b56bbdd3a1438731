#include "tools/bridge/service/runner.h"

#include <chrono>
#include <csignal>
#include <functional>

#include "lxdravik_version.h"
#include "tools/bridge/console/terminal.h"
#include "tools/bridge/console/view.h"
#include "tools/bridge/net/repeat.h"
#include "tools/bridge/status/events.h"
#include "tools/bridge/status/health.h"
#include "tools/bridge/status/json.h"
#include "tools/bridge/status/summary.h"
#include "tools/bridge/status/taker.h"
#include "tools/bridge/web/server.h"
#include "tools/bridge/web/status_cache.h"

namespace lxd::bridge {
namespace {

constexpr Millis kStatusInterval{500};
// A status page that cannot listen (its address not there yet, its port
// held) is tried again this often.
constexpr std::chrono::milliseconds kPageRetry{3000};

std::string Listening(const Options& options) {
    const Mapping& map = options.mapping;
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
    return "listening for " + what + " on " + on + ", sending to " + options.network.toHost + ":" +
           std::to_string(options.network.toPort);
}

// The node's names in ArtPollReply: --name, or from the host name.
void Name(Bridge& bridge, RunInfo& run, const std::string& name) {
    asio::error_code ec;
    const std::string host = name.empty() ? asio::ip::host_name(ec) : "";
    if (!name.empty()) {
        bridge.SetNodeName(name, name);
        run.name = name;
    } else if (!ec && !host.empty()) {
        bridge.SetNodeName(host, "lxdravik-bridge on " + host);
        run.name = "lxdravik-bridge on " + host;
    } else {
        run.name = "lxdravik-bridge";
    }
}

bool SameSockets(const Options& a, const Options& b) {
    return a.mapping == b.mapping && a.network.interfaces == b.network.interfaces;
}

}  // namespace

// Everything that shows the bridge reads snapshots taken here, on the event
// loop: the terminal view (drawn on a thread of its own), the log of events
// and the status page (whose JSON is written on a thread of its own).
struct Runner::Views : WebSource {
    Views(Runner& runner) : runner(runner), retry(runner.io_) {}

    Snapshot Take(SnapshotTaker& taker) {
        run.seconds = static_cast<double>((host::NowMillis() - start).count()) / 1000.0;
        Snapshot s = taker.Take(runner.bridge_, runner.network_->Status(), run, host::NowMillis());
        s.page = page;
        return s;
    }
    // Every kStatusInterval.
    void Update() {
        latest = Take(status);
        if (!live) {
            for (const std::string& line : events.Changes(latest)) {
                runner.log_.Line(line);
            }
        }
        if (cache) {
            cache->Post(latest);
        }
        if (terminal) {
            terminal->Post(latest);
        }
    }

    // Listens, or says why not and tries again in a while: the levels go
    // on either way.
    void Listen() {
        std::string error;
        ++page.attempts;
        if (web->Listen(page.address, error)) {
            page.listening = true;
            runner.log_.Line(
                "status page on http://" + page.address + "/" +
                (page.attempts > 1 ? " (after " + std::to_string(page.attempts) + " tries)" : ""));
            return;
        }
        if (error != page.error) {
            runner.log_.Line(error + "; trying again every " +
                             std::to_string(kPageRetry.count() / 1000) + " s");
        }
        page.error = error;
        retry.expires_after(kPageRetry);
        retry.async_wait([this](asio::error_code ec) {
            if (!ec) {
                Listen();
            }
        });
    }

    std::shared_ptr<const std::string> StatusJson() override { return cache->Json(); }
    WebReply Health() override { return cache->Health(); }
    // The levels as the driver is sent them, read for each push.
    bool Levels(int port, std::uint8_t* out) override {
        return ReadPortLevels(runner.bridge_, port, out);
    }

    Runner& runner;
    Millis start{0};
    RunInfo run;
    bool live = false;  // a terminal shows the status view
    SnapshotTaker status;
    Snapshot latest;
    EventWatch events;
    std::unique_ptr<StatusWriter> terminal;
    PageStatus page;
    std::unique_ptr<StatusCache> cache;
    std::unique_ptr<WebServer> web;
    asio::steady_timer retry;
};

Runner::Runner(const Options& options, Log& log, bool console)
    : options_(options),
      log_(log),
      console_(console),
      network_(std::make_unique<Network>(io_)),
      bridge_(options.mapping, options.holdOnLoss, relay_),
      views_(std::make_unique<Views>(*this)) {
    bridge_.SetVersion(kVersionFirst, kVersionSecond);
    bridge_.SetSync(options.sync);
    Name(bridge_, views_->run, options.name);
}

Runner::~Runner() = default;

bool Runner::Open(std::string& error) {
    if (!network_->Open(options_.network, options_.mapping, error)) {
        return false;
    }
    relay_.network = network_.get();
    views_->start = host::NowMillis();
    bridge_.Listen(views_->start);
    network_->Start(bridge_);
    if (!options_.http.empty()) {
        views_->page.address = options_.http;
        views_->cache = std::make_unique<StatusCache>();
        views_->web = std::make_unique<WebServer>(io_, *views_);
    }
    return true;
}

void Runner::RequestStop() {
    asio::post(io_, [this] { io_.stop(); });
}

void Runner::RequestReload() {
    asio::post(io_, [this] { Reload(); });
}

void Runner::Reload() {
    if (options_.configPath.empty()) {
        log_.Line("reload: started without --config, nothing to read");
        return;
    }
    Options next;
    std::string error;
    if (!ReloadOptions(options_, next, error)) {
        log_.Line("reload failed, the running configuration stays: " + error);
        return;
    }
    if (!SameSockets(options_, next)) {
        // The new sockets open beside the old ones (both share the ports),
        // so nothing is missed while the mapping changes. They send where
        // the old ones did: nothing is resolved again.
        auto network = std::make_unique<Network>(io_);
        if (!network->Open(next.network, next.mapping, error, &network_->Destination())) {
            log_.Line("reload failed, the running configuration stays: " + error);
            return;
        }
        bridge_.Remap(next.mapping, next.holdOnLoss, host::NowMillis());
        relay_.network = network.get();
        network->Start(bridge_);
        network_->Close();
        retired_ = std::move(network_);
        network_ = std::move(network);
    } else {
        bridge_.Remap(next.mapping, next.holdOnLoss, host::NowMillis());
    }
    if (next.network.toHost != options_.network.toHost ||
        next.network.toPort != options_.network.toPort) {
        Retarget(next.network);
    }
    bridge_.SetSync(next.sync);
    if (next.name != options_.name) {
        Name(bridge_, views_->run, next.name);
    }
    if (next.http != options_.http) {
        log_.Line("reload: the status page stays " +
                  (options_.http.empty() ? std::string("off") : "on " + options_.http) +
                  " until the bridge starts again");
        next.http = options_.http;
    }
    views_->run.to = next.network.toHost + ":" + std::to_string(next.network.toPort);
    options_ = next;
    log_.Line("reloaded " + options_.configPath + ": " + Listening(options_));
}

void Runner::Retarget(const NetworkSettings& settings) {
    using asio::ip::udp;
    resolver_.cancel();  // a name an earlier reload brought is not waited for
    asio::error_code ec;
    const asio::ip::address_v4 address = asio::ip::make_address_v4(settings.toHost, ec);
    if (!ec) {
        network_->SendTo(udp::endpoint(address, settings.toPort));
        return;
    }
    const std::string to = settings.toHost + ":" + std::to_string(settings.toPort);
    log_.Line("reload: resolving " + settings.toHost + "; the levels go on to " +
              network_->Destination().address().to_string() + " meanwhile");
    resolver_.async_resolve(
        udp::v4(), settings.toHost, std::to_string(settings.toPort),
        [this, to](const asio::error_code& ec, const udp::resolver::results_type& found) {
            if (ec == asio::error::operation_aborted) {
                return;
            }
            if (ec || found.empty()) {
                log_.Line("reload: cannot resolve " + to +
                          " to an IPv4 address; the levels go on to " +
                          network_->Destination().address().to_string());
                return;
            }
            network_->SendTo(found.begin()->endpoint());
            log_.Line("sending to " + to + " (" + found.begin()->endpoint().address().to_string() +
                      ")");
        });
}

std::string Runner::Run() {
    Views& v = *views_;
    v.run.to = options_.network.toHost + ":" + std::to_string(options_.network.toPort);
    log_.Line(Listening(options_));
    if (v.web) {
        v.Listen();
    }
    Repeat tick(io_, kTickInterval, [this] { bridge_.Tick(host::NowMillis()); });
    // A stalled terminal never stops the forwarding: the view is drawn on a
    // thread of its own from the snapshots handed over.
    v.live = console_ && IsTerminal(stdout);
    if (v.live) {
        SetUpTerminal(stdout);
        v.terminal = std::make_unique<StatusWriter>(stdout);
    }
    v.Update();
    Repeat status(io_, kStatusInterval, [&v] { v.Update(); });
    asio::steady_timer end(io_);
    if (options_.duration >= 0) {
        end.expires_after(std::chrono::duration_cast<asio::steady_timer::duration>(
            std::chrono::duration<double>(options_.duration)));
        end.async_wait([this](asio::error_code ec) {
            if (!ec) {
                io_.stop();
            }
        });
    }
    asio::signal_set stop(io_, SIGINT, SIGTERM);
    stop.async_wait([this](asio::error_code ec, int) {
        if (!ec) {
            io_.stop();
        }
    });
#if defined(SIGHUP)
    asio::signal_set hangup(io_, SIGHUP);
    std::function<void()> awaitHangup = [&] {
        hangup.async_wait([&](asio::error_code ec, int) {
            if (!ec) {
                Reload();
                awaitHangup();
            }
        });
    };
    awaitHangup();
#endif
    io_.run();
    network_->Close();
    v.retry.cancel();
    if (v.web) {
        v.web->Close();
    }
    const Snapshot last = v.Take(v.status);
    v.terminal.reset();  // after the time is taken: a stopped terminal may hold it up
    return options_.json ? lxd::bridge::StatusJson(last, false) : SummaryText(last);
}

}  // namespace lxd::bridge
