#include "tools/monitor/report.h"

#include <cstring>
#include <string>

namespace lxd::monitor {
namespace {

constexpr int kRowLength = 16;

bool Listed(const DriverSession& session, const ReportInfo& info, int port) {
    return info.allPorts || session.Changes(port) > 0;
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (u < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", u);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace

void WriteTextReport(std::FILE* out, const DriverSession& session, const ReportInfo& info) {
    std::fprintf(out, "driver    %s (version %d.%d, \"%s\")\n", session.Path().c_str(),
                 session.VersionMajor(), session.VersionMinor(), session.Branding().c_str());
    std::fprintf(out, "listened  %.1f s, %llu ServiceDevices calls (%.0f per second asked)\n",
                 info.seconds, static_cast<unsigned long long>(session.ServiceCalls()), info.rate);
    int listed = 0;
    for (int port = 0; port < kNumPorts; ++port) {
        listed += Listed(session, info, port) ? 1 : 0;
    }
    if (listed == 0) {
        std::fprintf(out, "no port changed\n");
        return;
    }
    for (int port = 0; port < kNumPorts; ++port) {
        if (!Listed(session, info, port)) {
            continue;
        }
        std::fprintf(out, "\nport %d: levels changed in %u of %llu calls\n", port,
                     session.Changes(port),
                     static_cast<unsigned long long>(session.ServiceCalls()));
        const std::uint8_t* levels = session.Levels(port);
        // Rows like the one above are folded into one '*' line, as hexdump does.
        bool folded = false;
        for (int row = 0; row < kChannelsPerPort; row += kRowLength) {
            if (row > 0 && std::memcmp(levels + row, levels + row - kRowLength, kRowLength) == 0) {
                if (!folded) {
                    std::fprintf(out, "  *\n");
                    folded = true;
                }
                continue;
            }
            folded = false;
            std::fprintf(out, "  %3d:", row);
            for (int i = 0; i < kRowLength; ++i) {
                std::fprintf(out, " %3u", levels[row + i]);
            }
            std::fprintf(out, "\n");
        }
    }
}

void WriteJsonReport(std::FILE* out, const DriverSession& session, const ReportInfo& info) {
    std::fprintf(out, "{\n");
    std::fprintf(out, "  \"driver\": %s,\n", JsonString(session.Path()).c_str());
    std::fprintf(out, "  \"version\": [%d, %d],\n", session.VersionMajor(), session.VersionMinor());
    std::fprintf(out, "  \"branding\": %s,\n", JsonString(session.Branding()).c_str());
    std::fprintf(out, "  \"device\": %s,\n", JsonString(session.DeviceName()).c_str());
    std::fprintf(out, "  \"seconds\": %.3f,\n", info.seconds);
    std::fprintf(out, "  \"service_calls\": %llu,\n",
                 static_cast<unsigned long long>(session.ServiceCalls()));
    std::fprintf(out, "  \"changed_ports\": [");
    const char* separator = "";
    for (int port = 0; port < kNumPorts; ++port) {
        if (session.Changes(port) > 0) {
            std::fprintf(out, "%s%d", separator, port);
            separator = ", ";
        }
    }
    std::fprintf(out, "],\n  \"ports\": [");
    separator = "\n";
    for (int port = 0; port < kNumPorts; ++port) {
        if (!Listed(session, info, port)) {
            continue;
        }
        std::fprintf(out, "%s    {\"port\": %d, \"changes\": %u, \"levels\": [", separator, port,
                     session.Changes(port));
        const std::uint8_t* levels = session.Levels(port);
        for (int i = 0; i < kChannelsPerPort; ++i) {
            std::fprintf(out, i == 0 ? "%u" : ", %u", levels[i]);
        }
        std::fprintf(out, "]}");
        separator = ",\n";
    }
    std::fprintf(out, "%s]\n}\n", std::strcmp(separator, "\n") == 0 ? "" : "\n  ");
}

}  // namespace lxd::monitor
