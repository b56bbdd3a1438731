#include "tools/bridge/status/events.h"

namespace lxd::bridge {

void EventWatch::Source(std::vector<std::string>& lines, const std::string& line, int& untold) {
    if (told_ < kSourceLines) {
        lines.push_back(line);
        ++told_;
    } else {
        ++untold;
    }
}

std::vector<std::string> EventWatch::Changes(const Snapshot& s) {
    std::vector<std::string> lines;
    if (s.seconds - windowStart_ >= kEventWindow) {
        const std::string seconds = std::to_string(static_cast<int>(kEventWindow));
        const std::string more = " more source" + std::string(appeared_ == 1 ? "" : "s");
        if (appeared_ > 0) {
            lines.push_back(std::to_string(appeared_) + more + " appeared" +
                            (lost_ > 0 ? " and " + std::to_string(lost_) + " were lost" : "") +
                            " in the last " + seconds + " s (not listed one by one)");
        } else if (lost_ > 0) {
            lines.push_back(std::to_string(lost_) + " more source" +
                            (lost_ == 1 ? " was" : "s were") + " lost in the last " + seconds +
                            " s (not listed one by one)");
        }
        windowStart_ = s.seconds;
        told_ = appeared_ = lost_ = 0;
    }
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
            Source(lines, what + " appeared", appeared_);
        }
    }
    for (const auto& [key, what] : sources_) {
        if (live.count(key) == 0) {
            Source(lines, what + " lost", lost_);
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
