#include "tests/wireshark/tshark.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <sstream>

#include "host/capture.h"

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
    return LXD_SOURCE_DIR "/tools/wireshark/lxdravik.lua";
}

TsharkFields RunTshark(const std::string& capture, const std::vector<std::string>& fields) {
    // An empty home: a copy of the dissector in the personal plugins folder
    // would register the protocol twice.
    static const std::string home = MakeTempDirectory();
    std::vector<std::string> arguments{
        "/usr/bin/env", "HOME=" + home, TsharkPath(), "-n",
        "-r",           capture,        "-X",         "lua_script:" + DissectorPath(),
        "-T",           "fields",       "-E",         "separator=/t",
        "-E",           "occurrence=a", "-E",         "aggregator=|",
        "-e",           "frame.number"};
    for (const std::string& field : fields) {
        arguments.push_back("-e");
        arguments.push_back(field);
    }
    const ProcessResult run = RunProcess(arguments, std::chrono::seconds(120));
    TsharkFields result;
    result.exitCode = run.exitCode;
    result.error = run.err;
    for (const std::string& line : Split(run.out, '\n')) {
        if (line.empty()) {
            continue;
        }
        // The frame number first keeps a frame without our fields on its line.
        const std::vector<std::string> values = Split(line, '\t');
        std::vector<std::vector<std::string>> frame(fields.size());
        for (std::size_t i = 0; i < fields.size() && i + 1 < values.size(); ++i) {
            if (!values[i + 1].empty()) {
                frame[i] = Split(values[i + 1], '|');
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
