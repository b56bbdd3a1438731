#include "tests/wireshark/tshark.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <sstream>

#include "host/capture.h"
#include "protocol/pack.h"

#include "tests/support/test_support.h"
#include "tests/tools/child_process.h"

namespace lxd::test {
namespace {

std::string Executable(const char* path) {
    return path[0] != '\0' && access(path, X_OK) == 0 ? path : "";
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, separator);) {
        parts.push_back(part);
    }
    return parts;
}

}  // namespace

std::string TsharkPath() {
    return Executable(LXD_TSHARK);
}
std::string EditcapPath() {
    return Executable(LXD_EDITCAP);
}
std::string DissectorPath() {
    return LXD_DISSECTOR;
}

TsharkFields RunTshark(const std::string& capture, const std::vector<std::string>& fields,
                       const std::vector<std::string>& options) {
    // An empty home leaves out a copy in the personal plugins folder. A copy
    // in the global Lua plugins folder (the package puts one there) would
    // register the protocol first: tshark runs with an empty folder over it,
    // in a mount namespace of its own as root, and through the variable that
    // names the folder otherwise (tshark ignores the variable as root). Where
    // neither works, a copy there fails the test with its Lua error.
    static const std::string home = MakeTempDirectory();
    static const std::string empty = MakeTempDirectory();
    static const bool mask =
        geteuid() == 0 && RunProcess({"/usr/bin/env", "unshare", "-m", "true"}).exitCode == 0;
    std::vector<std::string> arguments{"/usr/bin/env", "HOME=" + home,
                                       "WIRESHARK_PLUGIN_DIR=" + empty};
    if (mask) {
        arguments.insert(arguments.end(),
                         {"unshare", "-m", "sh", "-c",
                          "mount --bind \"$0\" \"$(\"$1\" -G folders | sed -n "
                          "'s/^Global Lua Plugins:[[:space:]]*//p')\" 2>/dev/null; exec \"$@\"",
                          empty});
    }
    arguments.insert(arguments.end(),
                     {TsharkPath(), "-n", "-r", capture, "-X", "lua_script:" + DissectorPath()});
    arguments.insert(arguments.end(), options.begin(), options.end());
    arguments.insert(arguments.end(),
                     {"-T", "fields", "-E", "separator=/t", "-E", "occurrence=a", "-E",
                      "aggregator=|", "-e", "frame.number", "-e", "_ws.lua.error"});
    for (const std::string& field : fields) {
        arguments.push_back("-e");
        arguments.push_back(field);
    }
    const ProcessResult run = RunProcess(arguments, std::chrono::seconds(120));
    TsharkFields result;
    result.exitCode = run.exitCode;
    result.error = run.err;
    if (run.err.find("Lua") != std::string::npos) {
        ADD_FAILURE() << "tshark reports a Lua error: " << run.err;
    }
    for (const std::string& line : Split(run.out, '\n')) {
        if (line.empty()) {
            continue;
        }
        // The frame number first keeps a frame without our fields on its line.
        const std::vector<std::string> values = Split(line, '\t');
        if (values.size() > 1 && !values[1].empty()) {
            ADD_FAILURE() << "Lua error in frame " << values[0] << ": " << values[1];
        }
        std::vector<std::vector<std::string>> frame(fields.size());
        for (std::size_t i = 0; i < fields.size() && i + 2 < values.size(); ++i) {
            if (!values[i + 2].empty()) {
                frame[i] = Split(values[i + 2], '|');
            }
        }
        result.frames.push_back(frame);
    }
    return result;
}

std::string CaptureOf(const std::vector<std::vector<std::uint8_t>>& datagrams) {
    const std::string capture = MakeTempDirectory() + "/datagrams.pcap";
    host::CaptureWriter writer;
    std::string error;
    EXPECT_TRUE(writer.Open(capture, host::Link::kEthernet, error)) << error;
    for (const std::vector<std::uint8_t>& d : datagrams) {
        EXPECT_TRUE(writer.Write(0, {host::kLoopbackAddress, 50000}, {host::kLoopbackAddress, 2501},
                                 d.data(), d.size()));
    }
    EXPECT_TRUE(writer.Close(error)) << error;
    return capture;
}

namespace {

using Bytes = std::vector<std::uint8_t>;

}  // namespace

Bytes Ipv4Frame(const Bytes& payload, std::uint16_t from, std::uint16_t to) {
    Bytes frame(host::kMaxFrameHeader + payload.size());
    frame.resize(host::BuildUdpFrame(host::Link::kEthernet, {host::kLoopbackAddress, from},
                                     {host::kLoopbackAddress, to}, 7, payload.data(),
                                     payload.size(), frame.data(), frame.size()));
    return frame;
}

Bytes Ipv6Frame(const Bytes& payload) {
    Bytes frame(14 + 40 + 8 + payload.size());
    WriteBig16(&frame[12], 0x86DD);
    frame[14] = 0x60;
    WriteBig16(&frame[14 + 4], static_cast<std::uint32_t>(8 + payload.size()));
    frame[14 + 6] = 17;  // UDP
    frame[14 + 7] = 64;
    frame[14 + 23] = 1;  // ::1
    frame[14 + 39] = 1;
    WriteBig16(&frame[54], 50000);
    WriteBig16(&frame[56], 2501);
    WriteBig16(&frame[58], static_cast<std::uint32_t>(8 + payload.size()));
    std::copy(payload.begin(), payload.end(), frame.begin() + 14 + 40 + 8);
    return frame;
}

Bytes IcmpQuoteFrame(const Bytes& payload) {
    const Bytes quoted = Ipv4Frame(payload);
    Bytes icmp(8 + quoted.size() - 14);
    icmp[0] = 3;  // destination unreachable: port unreachable
    icmp[1] = 3;
    std::copy(quoted.begin() + 14, quoted.end(), icmp.begin() + 8);
    Bytes frame = Ipv4Frame(icmp);
    frame.erase(frame.begin() + 14 + 20, frame.begin() + 14 + 28);  // no UDP header
    WriteBig16(&frame[14 + 2], static_cast<std::uint32_t>(20 + icmp.size()));
    frame[14 + 9] = 1;  // ICMP
    return frame;
}

std::vector<Bytes> FragmentFrames(const Bytes& payload, std::size_t split, host::Link link) {
    Bytes whole(host::kMaxFrameHeader + payload.size());
    whole.resize(host::BuildUdpFrame(link, {host::kLoopbackAddress, 50000},
                                     {host::kLoopbackAddress, 2501}, 7, payload.data(),
                                     payload.size(), whole.data(), whole.size()));
    const std::size_t ip = whole.size() - 28 - payload.size();  // the link header's size
    const std::size_t datagram = 8 + payload.size();
    std::vector<Bytes> frames;
    for (std::size_t at = 0; at < datagram; at += split) {
        const std::size_t n = std::min(split, datagram - at);
        Bytes frame(whole.begin(), whole.begin() + ip + 20);
        frame.insert(frame.end(), whole.begin() + ip + 20 + at, whole.begin() + ip + 20 + at + n);
        WriteBig16(&frame[ip + 2], static_cast<std::uint32_t>(20 + n));
        WriteBig16(&frame[ip + 6],
                   static_cast<std::uint32_t>((at + n < datagram ? 0x2000 : 0) | at / 8));
        frames.push_back(frame);
    }
    return frames;
}

std::vector<std::uint8_t> HexBytes(const std::string& text) {
    std::vector<std::uint8_t> bytes;
    if (text == "<MISSING>") {
        return bytes;
    }
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

}  // namespace lxd::test
