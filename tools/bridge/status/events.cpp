#include "tools/bridge/status/events.h"

namespace lxd::bridge {

std::vector<std::string> EventWatch::Changes(const Snapshot& s) {
    std::vector<std::string> lines;
    std::map<std::string, std::string> live;  // key -> its description
    for (const PortStatus& port : s.ports) {
        for (const SourceStatus& src : port.sources) {
            if (src.state != SourceState::kLive) {
                continue;
            }
            const std::string key =
                std::to_string(port.port) + " " + (src.cid.empty() ? src.address : src.cid);
            std::string what = "port " + std::to_string(port.port) + " (" + port.label +
                               "): source \"" + src.name + "\"";
            if (!src.cid.empty()) {
                what += " from " + src.address + ", CID " + src.cid;
            }
            live.emplace(key, what);
        }
    }
    for (const auto& [key, what] : live) {
        if (sources_.count(key) == 0) {
            lines.push_back(what + " appeared");
        }
    }
    for (const auto& [key, what] : sources_) {
        if (live.count(key) == 0) {
            lines.push_back(what + " lost");
        }
    }
    sources_ = std::move(live);

    std::set<std::string> failures;
    for (const InterfaceStatus& i : s.network.interfaces) {
        for (const std::uint16_t u : i.failed) {
            const std::string key = i.name + " " + i.address + " " + std::to_string(u);
            failures.insert(key);
            if (failures_.count(key) == 0) {
                lines.push_back("cannot join the group of sACN universe " + std::to_string(u) +
                                " on " + i.name + " (" + i.address + "): " + i.error);
            }
        }
    }
    failures_ = std::move(failures);

    for (const PortStatus& port : s.ports) {
        const PortSync& y = port.sync;
        std::string how = "applied as it comes";
        if (y.kind == SyncKind::kSacn) {
            how = "synchronised by universe " + std::to_string(y.address) +
                  (y.locked ? ", whose sync stopped: the look stays until it returns" : "");
        } else if (y.kind == SyncKind::kArtSync) {
            how = "synchronised by ArtSync";
        } else if (y.kind == SyncKind::kAll) {
            how = "held for any synchronisation (sync = all)";
        }
        std::string& before = syncs_[port.port];
        if (how != before && !(before.empty() && y.kind == SyncKind::kNone)) {
            lines.push_back("port " + std::to_string(port.port) + " (" + port.label + "): " + how);
        }
        before = how;
    }
    return lines;
}

}  // namespace lxd::bridge
