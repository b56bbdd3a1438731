#include "tools/bridge/console/view.h"

#include <cstdarg>
#include <cstdio>

#include <thread>

#include "tools/bridge/console/terminal.h"
#include "tools/bridge/status/display_text.h"

namespace lxd::bridge {
namespace {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char line[160];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    return line;
}

unsigned long long U(std::uint64_t n) {
    return static_cast<unsigned long long>(n);
}

std::string InterfaceText(const InterfaceStatus& i) {
    std::string text = i.name + " " + i.address;
    if (!i.joined.empty() || !i.failed.empty()) {
        text += " (" + std::to_string(i.joined.size()) + " groups";
        if (!i.failed.empty()) {
            text += ", " + std::to_string(i.failed.size()) + " joins failed: " + i.error;
        }
        text += ")";
    }
    return text;
}

// "100", "100L" (locked), "Art" or "all", and "/N" syncs that stopped.
std::string SyncText(const PortStatus& p) {
    std::string text = "-";
    switch (p.sync.kind) {
        case SyncKind::kSacn:
            text = std::to_string(p.sync.address) + (p.sync.locked ? "L" : "");
            break;
        case SyncKind::kArtSync:
            text = "Art";
            break;
        case SyncKind::kAll:
            text = "all";
            break;
        case SyncKind::kNone:
            break;
    }
    return p.counts.syncFallbacks > 0 ? text + "/" + std::to_string(p.counts.syncFallbacks) : text;
}

}  // namespace

std::string RenderStatus(const Snapshot& s, int columns) {
    std::string out;
    auto line = [&](const std::string& text) { out += CutToWidth(text, columns) + "\n"; };
    line(Format(" lxdravik-bridge  to %s  %.0f s  %llu datagrams sent", s.to.c_str(), s.seconds,
                U(s.datagramsSent)));
    if (s.sacn) {
        std::size_t announced = 0;
        for (const DiscoveredStatus& d : s.discovered) {
            announced += d.universes.size();
        }
        line(
            Format(" sACN UDP %u: %llu datagrams, %llu malformed, %llu sources announce %llu "
                   "universes",
                   kSacnPort, U(s.sacnDatagrams), U(s.sacnMalformed), U(s.discovered.size()),
                   U(announced)));
    }
    if (s.artnet) {
        line(Format(" Art-Net UDP %u: %llu datagrams, %llu malformed, %llu polls answered",
                    kArtnetPort, U(s.artnetDatagrams), U(s.artnetMalformed), U(s.pollsAnswered)));
    }
    std::string interfaces;
    for (const InterfaceStatus& i : s.network.interfaces) {
        interfaces += (interfaces.empty() ? "" : ", ") + InterfaceText(i);
    }
    for (const std::string& name : s.network.missing) {
        interfaces += (interfaces.empty() ? "" : ", ") + name + " (not present)";
    }
    line(" interfaces: " + (interfaces.empty() ? std::string("none up yet") : interfaces));
    line(Format(" receive buffer: %d KiB granted of %d KiB asked",
                s.network.receiveBufferGranted / 1024, s.network.receiveBufferAsked / 1024));
    if (!s.page.address.empty()) {
        line(s.page.listening ? " status page on http://" + s.page.address + "/"
                              : " " + s.page.error + " (" + std::to_string(s.page.attempts) +
                                    " tries; trying again)");
    }
    out += "\n";
    line(" port  universe         pkt/s  prio   drops  sync      sources");
    for (const PortStatus& p : s.ports) {
        std::string priority = "-";
        if (p.sampling) {
            priority = "smp";
        } else if (p.priority >= 0) {
            priority = std::to_string(p.priority) + (p.perAddress ? "+" : "");
        }
        std::string sources;
        for (const SourceStatus& source : p.sources) {
            const bool sacn = !source.cid.empty();
            std::string text = sacn ? "\"" + source.name + "\"" : source.name;
            if (source.state != SourceState::kLive) {
                text += std::string(" (") + SourceStateName(source.state) + ")";
            }
            sources += (sources.empty() ? "" : ", ") + text;
        }
        line(Format(" %4d  %-15s %6.0f  %4s  %6llu  %-8s  ", p.port, p.label.c_str(),
                    p.packetsPerSecond, priority.c_str(), U(p.drops), SyncText(p).c_str()) +
             (sources.empty() ? "(none)" : sources));
        const bool plain = p.routes.size() == 1 && p.routes[0].first == 1 &&
                           p.routes[0].last == 512 && p.routes[0].at == 1 &&
                           p.routes[0].priority < 0 && !p.ltp;
        for (std::size_t r = 0; !plain && r < p.routes.size(); ++r) {
            const RouteStatus& route = p.routes[r];
            line(Format("       %s %-13s ch %d-%d at %d", r == 0 && p.ltp ? "ltp" : "   ",
                        route.input.c_str(), route.first, route.last, route.at) +
                 (route.priority >= 0 ? " prio " + std::to_string(route.priority) : ""));
        }
    }
    out += "\n";
    line(" prio: winning priority, + where sources send per-address priorities, smp sampling.");
    line(
        " sync: by universe N (L: kept since its sync stopped), Art: ArtSync, all: any; "
        "/N: syncs that stopped.  Ctrl-C ends.");
    return out;
}

StatusWriter::StatusWriter(std::FILE* terminal) : shared_(std::make_shared<Shared>()) {
    std::thread([shared = shared_, terminal] {
        std::unique_lock<std::mutex> lock(shared->mutex);
        for (;;) {
            shared->idle = true;
            shared->wake.notify_all();
            shared->wake.wait(lock, [&] { return shared->pending || shared->stop; });
            if (shared->stop) {
                return;
            }
            const Snapshot snapshot = std::move(shared->next);
            shared->pending = false;
            shared->idle = false;
            lock.unlock();
            Redraw(terminal, RenderStatus(snapshot, TerminalColumns(terminal)));
            lock.lock();
        }
    }).detach();
}

StatusWriter::~StatusWriter() {
    std::unique_lock<std::mutex> lock(shared_->mutex);
    shared_->stop = true;
    shared_->wake.notify_all();
    shared_->wake.wait_for(lock, std::chrono::milliseconds(300), [&] { return shared_->idle; });
}

void StatusWriter::Post(Snapshot snapshot) {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->next = std::move(snapshot);
    shared_->pending = true;
    shared_->wake.notify_all();
}

}  // namespace lxd::bridge
