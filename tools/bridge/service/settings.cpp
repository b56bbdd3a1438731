#include "tools/bridge/service/settings.h"

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

}  // namespace

void SettingsText::OverrideWith(const SettingsText& over) {
    if (!over.sacn.empty() || !over.artnet.empty()) {
        sacn = over.sacn;
        artnet = over.artnet;
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
        } else if (name == "sync") {
            ok = One(node, where, read.sync, error);
        } else {
            error =
                where +
                ": unknown key (known: sacn, artnet, to, interfaces, on_loss, name, http, sync)";
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
