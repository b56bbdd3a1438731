// One run of the bridge on its event loop: sockets, bridge, timers, signals,
// the status page, and reloading the configuration. The console program and
// the Windows service both run it.
#pragma once

#include <asio.hpp>
#include <memory>
#include <string>

#include "tools/bridge/core/bridge.h"
#include "tools/bridge/net/network.h"
#include "tools/bridge/service/log.h"
#include "tools/bridge/service/options.h"

namespace lxd::bridge {

class Runner {
  public:
    Runner(const Options& options, Log& log, bool console);
    ~Runner();
    Runner(const Runner&) = delete;
    Runner& operator=(const Runner&) = delete;

    // Opens the sockets. False with one line. The status page starts with
    // Run; one that cannot listen does not stop the bridge.
    bool Open(std::string& error);
    // Runs until stopped (a signal, RequestStop, --duration); then the
    // summary, as text or JSON.
    std::string Run();

    // From any thread: what SIGTERM and SIGHUP do.
    void RequestStop();
    void RequestReload();

  private:
    class Relay : public DatagramSink {
      public:
        bool Send(const std::uint8_t* data, std::size_t size) override {
            return network != nullptr && network->Send(data, size);
        }
        int SendBurst(const Datagram* datagrams, int count) override {
            return network != nullptr ? network->SendBurst(datagrams, count) : 0;
        }
        Network* network = nullptr;
    };
    struct Views;

    void Reload();
    // Sends to the driver at HOST:PORT of `settings` from now on: at once for
    // an address, after resolving it off the event loop for a host name.
    void Retarget(const NetworkSettings& settings);

    // Run by one thread: a handler posted from a handler then wakes nothing.
    asio::io_context io_{1};
    Options options_;
    Log& log_;
    bool console_;
    Relay relay_;
    std::unique_ptr<Network> network_;
    // The sockets a reload replaced: closed, and kept until the next reload
    // so that completions already queued for them find them.
    std::unique_ptr<Network> retired_;
    // Resolves a driver's host name that a reload brought, off the event loop.
    asio::ip::udp::resolver resolver_{io_};
    Bridge bridge_;
    std::unique_ptr<Views> views_;
};

}  // namespace lxd::bridge
