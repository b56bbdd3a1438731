// The bridge's settings as written, on the command line or in a TOML file,
// before they are checked: each value remembers where it came from, so that
// a message names the option, or the file, line and key.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace lxd::bridge {

struct Setting {
    std::string value;
    std::string where;  // "--sacn" or "bridge.toml:3: sacn"
};

// One table of an array of tables ([[route]], [[port]]): its values by key.
struct TableText {
    std::string where;  // "bridge.toml:12: route"
    std::map<std::string, Setting> values;
    const Setting* Find(const std::string& key) const {
        const auto it = values.find(key);
        return it == values.end() ? nullptr : &it->second;
    }
};

struct SettingsText {
    std::vector<Setting> sacn;  // in the order given
    std::vector<Setting> artnet;
    std::vector<TableText> routes;  // [[route]]
    std::vector<TableText> ports;   // [[port]]
    std::vector<Setting> interfaces;
    std::optional<Setting> to;
    std::optional<Setting> onLoss;
    std::optional<Setting> name;
    std::optional<Setting> http;
    std::optional<Setting> sync;

    // Takes what `over` sets. Mappings go as a whole: a command line with
    // --sacn or --artnet replaces both lists and the routes of the file (its
    // [[port]] tables stay).
    void OverrideWith(const SettingsText& over);
};

// Reads a TOML configuration file. On failure returns false with one line
// naming the file, the line and the key.
bool ReadConfig(const std::string& path, SettingsText& settings, std::string& error);

}  // namespace lxd::bridge
