#include "tools/bridge/service/settings.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#define TOML_ENABLE_FORMATTERS 0
#include <toml++/toml.h>

namespace lxd::bridge {
namespace {

// A configuration is a few lines; anything this long is not one.
constexpr std::size_t kMaxConfigBytes = 64 * 1024;

std::string Where(const std::string& path, const toml::source_region& at, const std::string& key) {
    return path + ":" + std::to_string(at.begin.line) + (key.empty() ? "" : ": " + key);
}

// A string, or (with `list`) an array of strings, into `out`.
bool Strings(const toml::node& node, const std::string& where, bool list, std::vector<Setting>& out,
             std::string& error) {
    if (const auto* text = node.as_string()) {
        out.push_back({text->get(), where});
        return true;
    }
    if (const auto* array = node.as_array(); array != nullptr && list) {
        for (const toml::node& item : *array) {
            const auto* text = item.as_string();
            if (text == nullptr) {
                error = where + ": expected strings in the array";
                return false;
            }
            out.push_back({text->get(), where});
        }
        return true;
    }
    error = where + (list ? ": expected a string or an array of strings" : ": expected a string");
    return false;
}

bool One(const toml::node& node, const std::string& where, std::optional<Setting>& out,
         std::string& error) {
    std::vector<Setting> value;
    if (!Strings(node, where, false, value, error)) {
        return false;
    }
    out = value.front();
    return true;
}

// An array of tables with the keys `known`, each value a string or an integer
// (kept as written).
bool Tables(const std::string& path, const toml::node& node, const std::string& where,
            const std::string& name, const std::vector<std::string>& known,
            std::vector<TableText>& out, std::string& error) {
    std::string knownText;
    for (const std::string& k : known) {
        knownText += (knownText.empty() ? "" : ", ") + k;
    }
    const auto* array = node.as_array();
    if (array == nullptr || !array->is_array_of_tables()) {
        error = where + ": expected tables written [[" + name + "]]";
        return false;
    }
    for (const toml::node& item : *array) {
        TableText table;
        table.where = Where(path, item.source(), name);
        for (auto&& [key, value] : *item.as_table()) {
            const std::string k(key.str());
            const std::string at = Where(path, key.source(), name + "." + k);
            if (std::find(known.begin(), known.end(), k) == known.end()) {
                error = at + ": unknown key (known: " + knownText + ")";
                return false;
            }
            if (const auto* text = value.as_string()) {
                table.values[k] = {text->get(), at};
            } else if (const auto* number = value.as_integer()) {
                table.values[k] = {std::to_string(number->get()), at};
            } else {
                error = at + ": expected a string or a whole number";
                return false;
            }
        }
        out.push_back(std::move(table));
    }
    return true;
}

}  // namespace

void SettingsText::OverrideWith(const SettingsText& over) {
    if (!over.sacn.empty() || !over.artnet.empty()) {
        sacn = over.sacn;
        artnet = over.artnet;
        routes = over.routes;
    }
    if (!over.interfaces.empty()) {
        interfaces = over.interfaces;
    }
    for (auto [mine, theirs] :
         {std::pair{&to, &over.to}, std::pair{&onLoss, &over.onLoss}, std::pair{&name, &over.name},
          std::pair{&http, &over.http}, std::pair{&sync, &over.sync}}) {
        if (theirs->has_value()) {
            *mine = *theirs;
        }
    }
}

bool ReadConfig(const std::string& path, SettingsText& settings, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = path + ": cannot read the configuration file";
        return false;
    }
    std::string text;
    text.resize(kMaxConfigBytes + 1);
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(file.gcount()));
    if (text.size() > kMaxConfigBytes) {
        error = path + ": longer than " + std::to_string(kMaxConfigBytes / 1024) +
                " KiB, not a configuration file";
        return false;
    }
    toml::table table;
    try {
        table = toml::parse(text, path);
    } catch (const toml::parse_error& e) {
        error = Where(path, e.source(), "") + ": " + std::string(e.description());
        return false;
    }
    SettingsText read;
    for (auto&& [key, node] : table) {
        const std::string name(key.str());
        const std::string where = Where(path, key.source(), name);
        bool ok = true;
        if (name == "sacn") {
            ok = Strings(node, where, true, read.sacn, error);
        } else if (name == "artnet") {
            ok = Strings(node, where, true, read.artnet, error);
        } else if (name == "interfaces") {
            ok = Strings(node, where, true, read.interfaces, error);
        } else if (name == "to") {
            ok = One(node, where, read.to, error);
        } else if (name == "on_loss") {
            ok = One(node, where, read.onLoss, error);
        } else if (name == "name") {
            ok = One(node, where, read.name, error);
        } else if (name == "http") {
            ok = One(node, where, read.http, error);
        } else if (name == "route") {
            ok = Tables(path, node, where, name, {"from", "channels", "port", "at", "priority"},
                        read.routes, error);
        } else if (name == "port") {
            ok = Tables(path, node, where, name, {"port", "merge", "on_loss"}, read.ports, error);
        } else if (name == "sync") {
            ok = One(node, where, read.sync, error);
        } else {
            error = where +
                    ": unknown key (known: sacn, artnet, route, port, to, interfaces, on_loss, "
                    "name, http, sync)";
            ok = false;
        }
        if (!ok) {
            return false;
        }
    }
    settings = std::move(read);
    return true;
}

}  // namespace lxd::bridge
