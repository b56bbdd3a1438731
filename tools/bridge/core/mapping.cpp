#include "tools/bridge/core/mapping.h"

#include <algorithm>
#include <vector>

#include "host/arguments.h"

namespace lxd::bridge {
namespace {

bool ParseNumber(const std::string& text, std::uint32_t& value) {
    long number = 0;
    const bool ok = host::ParseWholeNumber(text, number);
    value = static_cast<std::uint32_t>(number);
    return ok;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t from = 0;
    for (;;) {
        const std::size_t at = text.find(separator, from);
        parts.push_back(text.substr(from, at - from));
        if (at == std::string::npos) {
            return parts;
        }
        from = at + 1;
    }
}

// An Art-Net port-address as a number or net:sub-net:universe. `fieldsOf`
// supplies leading fields left out (the range end "0:0:0-3" means 0:0:3).
bool ParseArtnetAddress(const std::string& text, const std::vector<std::uint32_t>* fieldsOf,
                        std::vector<std::uint32_t>& fields, std::string& error) {
    const std::vector<std::string> parts = Split(text, ':');
    if (parts.size() > 3) {
        error = "'" + text + "' has more than three fields (net:sub-net:universe)";
        return false;
    }
    const bool asWritten =
        parts.size() == 3 || (parts.size() == 1 && (fieldsOf == nullptr || fieldsOf->size() == 1));
    fields.clear();
    if (!asWritten) {
        if (fieldsOf == nullptr || fieldsOf->size() != 3) {
            error = "'" + text + "' is neither a number nor net:sub-net:universe";
            return false;
        }
        fields.assign(fieldsOf->begin(),
                      fieldsOf->begin() + static_cast<std::ptrdiff_t>(3 - parts.size()));
    }
    for (const std::string& part : parts) {
        std::uint32_t value;
        if (!ParseNumber(part, value)) {
            error = "'" + text + "' is not a port-address";
            return false;
        }
        fields.push_back(value);
    }
    if (fields.size() == 1) {
        if (fields[0] > kArtnetLastAddress) {
            error = "port-address " + text + " is outside 0..32767";
            return false;
        }
        return true;
    }
    if (fields.size() != 3 || fields[0] > 127 || fields[1] > 15 || fields[2] > 15) {
        error = "'" + text + "': net is 0..127, sub-net and universe 0..15";
        return false;
    }
    return true;
}

std::uint32_t AddressOf(const std::vector<std::uint32_t>& fields) {
    return fields.size() == 1 ? fields[0] : fields[0] << 8 | fields[1] << 4 | fields[2];
}

// One item of a list: N or N-M. Appends the universes it names, at most
// `limit` of them (a longer range is cut and reported by the caller).
bool ParseItem(Protocol protocol, const std::string& item, std::size_t limit,
               std::vector<std::uint32_t>& universes, std::string& error) {
    const std::size_t dash = item.find('-');
    const std::string first = item.substr(0, dash);
    const std::string last = dash == std::string::npos ? first : item.substr(dash + 1);
    std::uint32_t from;
    std::uint32_t to;
    if (protocol == Protocol::kSacn) {
        if (!ParseNumber(first, from) || !ParseNumber(last, to)) {
            error = "'" + item + "' is not a universe or a range of universes";
            return false;
        }
        if (from < kSacnFirstUniverse || to < kSacnFirstUniverse || from > kSacnLastUniverse ||
            to > kSacnLastUniverse) {
            error = "universe '" + item + "' is outside 1..63999";
            return false;
        }
    } else {
        std::vector<std::uint32_t> start;
        std::vector<std::uint32_t> end;
        if (!ParseArtnetAddress(first, nullptr, start, error) ||
            !ParseArtnetAddress(last, &start, end, error)) {
            return false;
        }
        from = AddressOf(start);
        to = AddressOf(end);
    }
    if (to < from) {
        error = "range '" + item + "' runs backwards";
        return false;
    }
    for (std::uint32_t u = from; u <= to && universes.size() < limit; ++u) {
        universes.push_back(u);
    }
    return true;
}

bool InRange(std::uint32_t value, std::uint32_t low, std::uint32_t high) {
    return value >= low && value <= high;
}

const char* ProtocolOption(Protocol protocol) {
    return protocol == Protocol::kSacn ? "--sacn" : "--artnet";
}

}  // namespace

bool ParseInput(const std::string& text, PortSource& input, std::string& error) {
    const std::size_t space = text.find(' ');
    const std::string protocol = text.substr(0, space);
    const std::string universe = space == std::string::npos ? "" : text.substr(space + 1);
    if (protocol != "sacn" && protocol != "artnet") {
        error = "'" + text + "': expected \"sacn N\" or \"artnet N\" (or \"artnet NET:SUB:UNI\")";
        return false;
    }
    std::vector<std::uint32_t> universes;
    const Protocol p = protocol == "sacn" ? Protocol::kSacn : Protocol::kArtnet;
    if (universe.empty() || universe.find_first_of(",-") != std::string::npos ||
        !ParseItem(p, universe, 1, universes, error)) {
        error = "'" + text + "': " + (error.empty() ? "expected one universe" : error);
        return false;
    }
    input = {p, static_cast<std::uint16_t>(universes[0])};
    return true;
}

bool ParseChannels(const std::string& text, std::uint16_t& first, std::uint16_t& count,
                   std::string& error) {
    const std::size_t dash = text.find('-');
    std::uint32_t from = 0;
    std::uint32_t to = 0;
    if (!ParseNumber(text.substr(0, dash), from) ||
        !ParseNumber(dash == std::string::npos ? text.substr(0, dash) : text.substr(dash + 1),
                     to) ||
        !InRange(from, 1, kChannelsPerPort) || !InRange(to, from, kChannelsPerPort)) {
        error = "'" + text + "': expected channels as FIRST-LAST within 1-512";
        return false;
    }
    first = static_cast<std::uint16_t>(from);
    count = static_cast<std::uint16_t>(to - from + 1);
    return true;
}

bool Route::operator==(const Route& other) const {
    return from.protocol == other.from.protocol && from.universe == other.from.universe &&
           first == other.first && count == other.count && port == other.port && at == other.at &&
           priority == other.priority;
}

std::string ArtnetAddressText(std::uint16_t address) {
    return std::to_string(address >> 8) + ":" + std::to_string(address >> 4 & 0xF) + ":" +
           std::to_string(address & 0xF);
}

std::string DescribeSource(const PortSource& source) {
    if (source.protocol == Protocol::kSacn) {
        return "sACN universe " + std::to_string(source.universe);
    }
    return "Art-Net port-address " + ArtnetAddressText(source.universe) + " (" +
           std::to_string(source.universe) + ")";
}

bool Mapping::Add(Protocol protocol, const std::string& list, std::string& error,
                  const std::string& origin) {
    const std::string prefix =
        (origin.empty() ? std::string(ProtocolOption(protocol)) + " " + list : origin) + ": ";
    const std::size_t at = list.find('@');
    std::uint32_t first = 0;
    if (at != std::string::npos && !ParseNumber(list.substr(at + 1), first)) {
        error = prefix + "expected @PORT with a driver port 0..35 after the list";
        return false;
    }
    if (first >= kNumPorts) {
        error = prefix + "port " + std::to_string(first) + " is outside 0..35";
        return false;
    }
    const std::string items = list.substr(0, at);
    if (items.empty()) {
        error = prefix + "no universes before '@'";
        return false;
    }
    // One more than the ports left, so that a list running past port 35 shows.
    const std::size_t limit = kNumPorts - first + 1;
    std::vector<std::uint32_t> universes;
    for (const std::string& item : Split(items, ',')) {
        if (!ParseItem(protocol, item, limit, universes, error)) {
            error = prefix + error;
            return false;
        }
    }
    if (universes.size() == limit) {
        error = prefix + "the list runs past port 35 (it starts at port " + std::to_string(first) +
                "; the driver has 36 ports, 0..35)";
        return false;
    }
    PortSource next[kNumPorts];
    for (int p = 0; p < kNumPorts; ++p) {
        next[p] = ports_[p];
    }
    for (std::size_t i = 0; i < universes.size(); ++i) {
        const PortSource source{protocol, static_cast<std::uint16_t>(universes[i])};
        const int port = static_cast<int>(first + i);
        if (next[port].protocol != Protocol::kNone) {
            error = prefix + "port " + std::to_string(port) + " is already fed by " +
                    DescribeSource(next[port]);
            return false;
        }
        for (int p = 0; p < kNumPorts; ++p) {
            if (next[p].protocol == protocol && next[p].universe == source.universe) {
                error = prefix + DescribeSource(source) + " is listed twice (ports " +
                        std::to_string(p) + " and " + std::to_string(port) + ")";
                return false;
            }
        }
        next[port] = source;
    }
    for (int p = 0; p < kNumPorts; ++p) {
        ports_[p] = next[p];
    }
    return true;
}

bool Mapping::AddRoute(const Route& route, std::string& error) {
    if (route.port >= kNumPorts) {
        error = "port " + std::to_string(route.port) + " is outside 0..35";
    } else if (!InRange(route.at, 1, kChannelsPerPort) ||
               route.at + route.count - 1 > kChannelsPerPort) {
        error = "channels " + std::to_string(route.first) + "-" +
                std::to_string(route.first + route.count - 1) + " at " + std::to_string(route.at) +
                " run past channel 512";
    } else if (route.priority != kPriorityNotGiven &&
               !InRange(route.priority, 0, kSacnMaxPriority)) {
        error = "priority " + std::to_string(route.priority) + " is outside 0..200";
    } else if (std::count_if(routes_.begin(), routes_.end(),
                             [&](const Route& r) { return r.port == route.port; }) +
                   (ports_[route.port].protocol != Protocol::kNone ? 1 : 0) >=
               kMaxRoutesPerPort) {
        error = "port " + std::to_string(route.port) + " has " + std::to_string(kMaxRoutesPerPort) +
                " routes already";
    } else {
        routes_.push_back(route);
        return true;
    }
    return false;
}

bool Mapping::SetRules(int port, const PortRules& rules, std::string& error) {
    if (ruled_[port]) {
        error = "port " + std::to_string(port) + " has a [[port]] table already";
        return false;
    }
    ruled_[port] = true;
    rules_[port] = rules;
    return true;
}

std::vector<Route> Mapping::Routes() const {
    std::vector<Route> all;
    for (int p = 0; p < kNumPorts; ++p) {
        if (ports_[p].protocol != Protocol::kNone) {
            all.push_back({ports_[p], 1, kChannelsPerPort, static_cast<std::uint8_t>(p), 1,
                           kPriorityNotGiven});
        }
    }
    all.insert(all.end(), routes_.begin(), routes_.end());
    return all;
}

bool Mapping::Mapped(int port) const {
    return ports_[port].protocol != Protocol::kNone ||
           std::any_of(routes_.begin(), routes_.end(),
                       [port](const Route& r) { return r.port == port; });
}

std::vector<PortSource> Mapping::Inputs() const {
    std::vector<PortSource> inputs;
    for (const Route& r : Routes()) {
        if (std::none_of(inputs.begin(), inputs.end(), [&](const PortSource& i) {
                return i.protocol == r.from.protocol && i.universe == r.from.universe;
            })) {
            inputs.push_back(r.from);
        }
    }
    return inputs;
}

int Mapping::Count(Protocol protocol) const {
    int n = 0;
    for (const PortSource& input : Inputs()) {
        n += input.protocol == protocol ? 1 : 0;
    }
    return n;
}

bool Mapping::operator==(const Mapping& other) const {
    for (int p = 0; p < kNumPorts; ++p) {
        if (!(rules_[p] == other.rules_[p])) {
            return false;
        }
    }
    return Routes() == other.Routes();
}

}  // namespace lxd::bridge
