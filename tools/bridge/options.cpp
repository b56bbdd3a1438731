#include "tools/bridge/options.h"

#include <CLI/CLI.hpp>
#include <asio.hpp>
#include <cstdio>

#include "host/arguments.h"
#include "tools/bridge/interfaces.h"

namespace lxd::bridge {
namespace {

// Longer runs are a mistake (and their conversion to the timer's clock would
// overflow).
constexpr double kLongestDuration = 1e7;

int Fail(const std::string& message) {
    std::fprintf(stderr, "lxdravik-bridge: %s\n", message.c_str());
    return 2;
}

}  // namespace

int ParseOptions(int argc, char** argv, Options& options) {
    CLI::App app{
        "lxdravik-bridge: receives sACN (E1.31) and Art-Net from lighting consoles and forwards\n"
        "the levels to the lxdravik driver. Each universe you list goes onto one driver port\n"
        "(36 ports of 512 channels); sources of one universe are merged as the protocols say.",
        "lxdravik-bridge"};
    app.footer(
        "\nExamples:\n"
        "  lxdravik-bridge --sacn 1-36                  sACN universes 1..36 onto ports 0..35\n"
        "  lxdravik-bridge --sacn 1-4@0 --artnet 0:0:0-3@4\n"
        "                                 sACN 1..4 onto ports 0..3, Art-Net 0:0:0..0:0:3 onto "
        "4..7\n"
        "  lxdravik-bridge --artnet 0-7 --interface eth1   Art-Net on one network card only\n"
        "\nOn a terminal a status view shows every universe; Ctrl-C ends the bridge and prints\n"
        "a summary. sACN is received on every network card that is up (cards that come later\n"
        "too) unless --interface names some. Exit codes: 0 done, 1 a UDP port held by another\n"
        "program, 2 bad command line.");
    std::vector<std::string> sacn;
    std::vector<std::string> artnet;
    std::string to = "127.0.0.1:2501";
    std::string onLoss = "hold";
    app.add_option("--sacn", sacn,
                   "sACN universes (1-63999) onto consecutive driver ports from PORT (default 0), "
                   "e.g. 1-36 or 1-4,10@8; may be repeated")
        ->type_name("UNIVERSES[@PORT]")
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app.add_option("--artnet", artnet,
                   "Art-Net port-addresses (0-32767, or net:sub-net:universe such as 0:1:0) onto "
                   "consecutive driver ports from PORT (default 0), e.g. 0:0:0-3@4; may be "
                   "repeated")
        ->type_name("ADDRESSES[@PORT]")
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app.add_option("--to", to, "Where the driver listens")
        ->type_name("HOST:PORT")
        ->capture_default_str();
    std::vector<std::string> interfaces;
    std::vector<std::string> binds;
    app.add_option("--interface", interfaces,
                   "Receive only on this network card, by name or IPv4 address; may be repeated "
                   "(default: every card that is up and can receive multicast, followed as cards "
                   "come and go)")
        ->type_name("NAME|ADDR")
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app.add_option("--bind", binds, "The same as --interface ADDR")
        ->type_name("ADDR")
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app.add_option("--name", options.name,
                   "The node's name in Art-Net poll replies (default: lxdravik-bridge and the host "
                   "name)")
        ->type_name("TEXT");
    app.add_option("--on-loss", onLoss,
                   "When the last source of a universe goes away: hold its last levels, or zero "
                   "them")
        ->check(CLI::IsMember({"hold", "zero"}))
        ->capture_default_str();
    app.add_option("--duration", options.duration,
                   "End after S seconds (default: run until Ctrl-C or SIGTERM)")
        ->type_name("S");
    app.add_flag("--json", options.json, "Print the summary at the end as JSON");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : 2;
    }

    if (!host::ParseHostPort(to, options.network.toHost, options.network.toPort)) {
        return Fail("--to: expected HOST:PORT with a port in 1..65535, got '" + to + "'");
    }
    // The options in the order given, so that messages name the list at fault.
    std::string error;
    for (const auto* option : app.parse_order()) {
        const bool isSacn = option->get_name() == "--sacn";
        if (!isSacn && option->get_name() != "--artnet") {
            continue;
        }
        // parse_order lists an option once per occurrence.
        std::vector<std::string>& lists = isSacn ? sacn : artnet;
        if (lists.empty()) {
            continue;
        }
        const std::string list = lists.front();
        lists.erase(lists.begin());
        if (!options.mapping.Add(isSacn ? Protocol::kSacn : Protocol::kArtnet, list, error)) {
            return Fail(error);
        }
    }
    if (options.mapping.Count(Protocol::kSacn) + options.mapping.Count(Protocol::kArtnet) == 0) {
        return Fail("nothing to receive: map universes with --sacn and/or --artnet (see --help)");
    }
    if (app.count("--duration") > 0 &&
        !(options.duration >= 0 && options.duration <= kLongestDuration)) {
        return Fail("--duration: expected a number of seconds from 0 to 10000000");
    }
    std::string error2;
    for (const std::string& b : binds) {
        asio::error_code ec;
        asio::ip::make_address_v4(b, ec);
        if (ec) {
            return Fail("--bind: '" + b + "' is not an IPv4 address");
        }
        options.network.interfaces.push_back(b);
    }
    for (const std::string& i : interfaces) {
        if (!CheckInterfaceChoice(i, error2)) {
            return Fail("--interface: " + error2);
        }
        options.network.interfaces.push_back(i);
    }
    options.holdOnLoss = onLoss == "hold";
    return -1;
}

}  // namespace lxd::bridge
