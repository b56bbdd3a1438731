#include "tools/bridge/service/options.h"

#include <CLI/CLI.hpp>
#include <optional>

#include "host/arguments.h"
#include "tools/bridge/net/interfaces.h"

namespace lxd::bridge {
namespace {

// Longer runs are a mistake (and their conversion to the timer's clock would
// overflow).
constexpr double kLongestDuration = 1e7;

// Refuses the command line: `message` into `out`, or on stderr without it.
int Refuse(const std::string& message, std::string* out) {
    if (out == nullptr) {
        return host::Fail("lxdravik-bridge", message);
    }
    *out = message;
    return host::kBadCommandLine;
}

// `values` of one option as settings named after it.
void Named(const std::vector<std::string>& values, const std::string& option,
           std::vector<Setting>& out) {
    for (const std::string& value : values) {
        out.push_back({value, option});
    }
}

std::optional<Setting> NamedOne(const CLI::App& app, const std::string& option,
                                const std::string& value) {
    if (app.count(option) == 0) {
        return std::nullopt;
    }
    return Setting{value, option};
}

// A whole number from `low` to `high`; false with why, after the setting's place.
bool Number(const Setting& setting, long low, long high, long& value, std::string& error) {
    if (!host::ParseWholeNumber(setting.value, value) || value < low || value > high) {
        error = setting.where + ": expected a number from " + std::to_string(low) + " to " +
                std::to_string(high) + ", got '" + setting.value + "'";
        return false;
    }
    return true;
}

// A value of `setting` among `choices` (its index); false with why.
bool Choice(const Setting& setting, const std::vector<std::string>& choices, int& index,
            std::string& error) {
    for (std::size_t i = 0; i < choices.size(); ++i) {
        if (setting.value == choices[i]) {
            index = static_cast<int>(i);
            return true;
        }
    }
    error = setting.where + ": expected " + choices[0] + " or " + choices[1] + ", got '" +
            setting.value + "'";
    return false;
}

// A [[route]] table into `mapping`.
bool AddRoute(const TableText& table, Mapping& mapping, std::string& error) {
    const Setting* from = table.Find("from");
    const Setting* port = table.Find("port");
    if (from == nullptr || port == nullptr) {
        error = table.where + ": a route needs from and port";
        return false;
    }
    Route route;
    long number = 0;
    if (!ParseInput(from->value, route.from, error)) {
        error = from->where + ": " + error;
        return false;
    }
    if (!Number(*port, 0, kNumPorts - 1, number, error)) {
        return false;
    }
    route.port = static_cast<std::uint8_t>(number);
    const Setting* channels = table.Find("channels");
    if (channels != nullptr && !ParseChannels(channels->value, route.first, route.count, error)) {
        error = channels->where + ": " + error;
        return false;
    }
    route.at = route.first;
    const Setting* at = table.Find("at");
    if (at != nullptr) {
        if (!Number(*at, 1, kChannelsPerPort, number, error)) {
            return false;
        }
        route.at = static_cast<std::uint16_t>(number);
    }
    const Setting* priority = table.Find("priority");
    if (priority != nullptr) {
        if (!Number(*priority, 0, kSacnMaxPriority, number, error)) {
            return false;
        }
        route.priority = static_cast<std::int16_t>(number);
    }
    if (!mapping.AddRoute(route, error)) {
        const Setting* blamed = at != nullptr ? at : channels != nullptr ? channels : from;
        error = blamed->where + ": " + error;
        return false;
    }
    return true;
}

// A [[port]] table into `mapping`.
bool SetPortRules(const TableText& table, Mapping& mapping, std::string& error) {
    const Setting* port = table.Find("port");
    long number = 0;
    if (port == nullptr) {
        error = table.where + ": a [[port]] table needs port";
        return false;
    }
    if (!Number(*port, 0, kNumPorts - 1, number, error)) {
        return false;
    }
    PortRules rules;
    int index = 0;
    if (const Setting* merge = table.Find("merge")) {
        if (!Choice(*merge, {"htp", "ltp"}, index, error)) {
            return false;
        }
        rules.merge = index == 0 ? Merge::kHtp : Merge::kLtp;
    }
    if (const Setting* onLoss = table.Find("on_loss")) {
        if (!Choice(*onLoss, {"hold", "zero"}, index, error)) {
            return false;
        }
        rules.hold = index == 0 ? 1 : 0;
    }
    if (!mapping.SetRules(static_cast<int>(number), rules, error)) {
        error = port->where + ": " + error;
        return false;
    }
    return true;
}

}  // namespace

int ParseOptions(int argc, char** argv, Options& options, std::string* failure) {
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
        "  lxdravik-bridge --config /etc/lxdravik/bridge.toml --http 127.0.0.1:8250\n"
        "                                 the mapping from a file, the status page in a browser\n"
        "\nOn a terminal a status view shows every universe; Ctrl-C ends the bridge and prints\n"
        "a summary; SIGHUP reads the configuration file again. sACN is received on every\n"
        "network card that is up (cards that come later too) unless --interface names some.\n"
        "Exit codes: 0 done, 1 a UDP port held by another program or the status page's address\n"
        "unusable, 2 bad command line or configuration.");
    std::vector<std::string> sacn;
    std::vector<std::string> artnet;
    std::string to;
    std::string onLoss;
    std::string http;
    app.add_option("--config", options.configPath,
                   "TOML file with the same settings (sacn, artnet, to, interfaces, on_loss, "
                   "name, http, sync); the command line overrides it")
        ->type_name("FILE");
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
    app.add_option("--to", to,
                   "Where the driver listens (default " + host::LocalDriverAddress() + ")")
        ->type_name("HOST:PORT");
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
    std::string name;
    app.add_option("--name", name,
                   "The node's name in Art-Net poll replies (default: lxdravik-bridge and the host "
                   "name)")
        ->type_name("TEXT");
    app.add_option("--on-loss", onLoss,
                   "When the last source of a universe goes away: hold its last levels "
                   "(default), or zero them")
        ->type_name("hold|zero");
    std::string sync;
    app.add_option("--sync", sync,
                   "Universe synchronisation: auto (default) holds sACN data that names a "
                   "synchronisation universe, and ArtDmx of a source that sends ArtSync, until "
                   "their synchronisation; all holds every other input too while any "
                   "synchronisation arrives; off applies everything as it comes")
        ->type_name("auto|all|off");
    app.add_option("--http", http,
                   "Serve the status page at ADDR:PORT (127.0.0.1 keeps it on this machine; it "
                   "answers only to this machine's names and has no passwords). One that cannot "
                   "listen is tried again every 3 s while the levels flow")
        ->type_name("ADDR:PORT");
    app.add_option("--duration", options.duration,
                   "End after S seconds (default: run until Ctrl-C or SIGTERM)")
        ->type_name("S");
    app.add_flag("--json", options.json, "Print the summary at the end as JSON");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (failure != nullptr && e.get_exit_code() != 0) {
            return Refuse(e.what(), failure);
        }
        const int code = app.exit(e);
        return code == 0 ? 0 : host::kBadCommandLine;
    }

    // The lists in the order given, so that messages name the list at fault.
    SettingsText& given = options.commandLine;
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
        const std::string option_ = isSacn ? "--sacn" : "--artnet";
        (isSacn ? given.sacn : given.artnet)
            .push_back({lists.front(), option_ + " " + lists.front()});
        lists.erase(lists.begin());
    }
    Named(binds, "--bind", given.interfaces);
    Named(interfaces, "--interface", given.interfaces);
    given.name = NamedOne(app, "--name", name);
    given.to = NamedOne(app, "--to", to);
    given.onLoss = NamedOne(app, "--on-loss", onLoss);
    given.http = NamedOne(app, "--http", http);
    given.sync = NamedOne(app, "--sync", sync);

    SettingsText settings;
    std::string error;
    if (!options.configPath.empty() && !ReadConfig(options.configPath, settings, error)) {
        return Refuse(error, failure);
    }
    settings.OverrideWith(given);
    if (!ApplySettings(settings, options, error)) {
        return Refuse(error, failure);
    }
    if (app.count("--duration") > 0 &&
        !(options.duration >= 0 && options.duration <= kLongestDuration)) {
        return Refuse("--duration: expected a number of seconds from 0 to 10000000", failure);
    }
    return -1;
}

bool ApplySettings(const SettingsText& settings, Options& options, std::string& error) {
    Options next = options;
    next.mapping = Mapping();
    const NetworkSettings defaults;
    next.network.interfaces.clear();
    next.network.toHost = defaults.toHost;
    next.network.toPort = defaults.toPort;
    next.holdOnLoss = true;
    next.sync = SyncMode::kAuto;
    next.name.clear();
    next.http.clear();
    if (settings.to && !host::ParseDestination(settings.to->where, settings.to->value,
                                               next.network.toHost, next.network.toPort, error)) {
        return false;
    }
    for (const auto& [protocol, lists] : {std::pair{Protocol::kSacn, &settings.sacn},
                                          std::pair{Protocol::kArtnet, &settings.artnet}}) {
        for (const Setting& list : *lists) {
            if (!next.mapping.Add(protocol, list.value, error, list.where)) {
                return false;
            }
        }
    }
    for (const TableText& route : settings.routes) {
        if (!AddRoute(route, next.mapping, error)) {
            return false;
        }
    }
    for (const TableText& port : settings.ports) {
        if (!SetPortRules(port, next.mapping, error)) {
            return false;
        }
    }
    if (next.mapping.Routes().empty()) {
        error = "nothing to receive: map universes with --sacn and/or --artnet (see --help)";
        if (!options.configPath.empty()) {
            error += ", or sacn, artnet or [[route]] in " + options.configPath;
        }
        return false;
    }
    for (const Setting& choice : settings.interfaces) {
        std::string why;
        std::uint32_t address = 0;
        if (choice.where == "--bind" ? !host::ParseIpv4(choice.value, address)
                                     : !CheckInterfaceChoice(choice.value, why)) {
            error = choice.where + ": " +
                    (why.empty() ? "'" + choice.value + "' is not an IPv4 address" : why);
            return false;
        }
        next.network.interfaces.push_back(choice.value);
    }
    int choice = 0;
    if (settings.onLoss) {
        if (!Choice(*settings.onLoss, {"hold", "zero"}, choice, error)) {
            return false;
        }
        next.holdOnLoss = choice == 0;
    }
    if (settings.sync) {
        const std::string& value = settings.sync->value;
        if (value != "auto" && value != "all" && value != "off") {
            error = settings.sync->where + ": expected auto, all or off, got '" + value + "'";
            return false;
        }
        next.sync = value == "all"   ? SyncMode::kAll
                    : value == "off" ? SyncMode::kOff
                                     : SyncMode::kAuto;
    }
    if (settings.name) {
        if (settings.name->value.empty() || settings.name->value.size() > 63) {
            error = settings.name->where + ": expected a name of 1 to 63 characters";
            return false;
        }
        next.name = settings.name->value;
    }
    if (settings.http) {
        std::string host;
        std::uint16_t port = 0;
        if (!host::ParseHostPort(settings.http->value, host, port) || !host::IsIpAddress(host)) {
            error = settings.http->where +
                    ": expected an IP address and a port in 1..65535 (ADDR:PORT), got '" +
                    settings.http->value + "'";
            return false;
        }
        next.http = settings.http->value;
    }
    options = std::move(next);
    return true;
}

bool ReloadOptions(const Options& current, Options& next, std::string& error) {
    SettingsText settings;
    if (!ReadConfig(current.configPath, settings, error)) {
        return false;
    }
    settings.OverrideWith(current.commandLine);
    next = current;
    return ApplySettings(settings, next, error);
}

}  // namespace lxd::bridge
