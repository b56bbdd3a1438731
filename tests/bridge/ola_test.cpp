// Debian's OLA as a console that nobody here wrote: olad in one network
// namespace sends sACN (multicast) and Art-Net (to the nodes its ArtPoll
// found) over a veth pair to a second namespace, where the bridge feeds the
// driver loaded by the monitor. Both namespaces are the test's own, so
// nothing reaches a real interface. Needs root, olad and ip; skips otherwise.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "tests/support/netns.h"
#include "tests/support/test_support.h"
#include "tests/tools/child_process.h"
#include "tests/tools/output.h"

namespace lxd::test {
namespace {

const std::string kIp = "/usr/sbin/ip";
const std::string kOlad = "/usr/bin/olad";

// Network namespaces named after this process, made by the test's shell
// lines and deleted again at the end.
struct Namespaces {
    const std::string prefix = NamespaceName("ola");
    ~Namespaces() {
        RunProcess({"/bin/sh", "-c", "ip netns del " + prefix + "0; ip netns del " + prefix + "1"});
    }
    // `arguments` run inside namespace i.
    std::vector<std::string> In(int i, std::vector<std::string> arguments) const {
        arguments.insert(arguments.begin(), {kIp, "netns", "exec", prefix + std::to_string(i)});
        return arguments;
    }
    // Runs `script` with $N set to the prefix; true when it succeeds.
    bool Make(const std::string& script) const {
        const ProcessResult run = RunProcess({"/bin/sh", "-c", "N=" + prefix + "; " + script});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        return run.exitCode == 0;
    }
};

std::string SkipReason() {
    if (geteuid() != 0) {
        return "network namespaces need root";
    }
    if (access(kOlad.c_str(), X_OK) != 0 || getpwnam("olad") == nullptr) {
        return "olad (Debian package ola) is not installed";
    }
    return access(kIp.c_str(), X_OK) == 0 ? "" : "ip (iproute2) is not installed";
}

// An olad configuration folder: Art-Net and E1.31 on 198.18.0.1, every other
// plugin off.
std::string OlaConfiguration() {
    const std::string dir = MakeTempDirectory();
    for (const char* plugin :
         {"dummy", "espnet", "ftdidmx", "gpio", "karate", "kinet", "milinst", "opendmx",
          "openpixelcontrol", "osc", "pathport", "renard", "sandnet", "shownet", "spi",
          "stageprofi", "uartdmx", "usbdmx", "usbserial"}) {
        std::ofstream(dir + "/ola-" + plugin + ".conf") << "enabled = false\n";
    }
    std::ofstream(dir + "/ola-artnet.conf")
        << "enabled = true\nip = 198.18.0.1\noutput_ports = 1\nuse_limited_broadcast = false\n"
           "always_broadcast = false\nnet = 0\nsubnet = 0\n";
    std::ofstream(dir + "/ola-e131.conf")
        << "enabled = true\nip = 198.18.0.1\ninput_ports = 0\noutput_ports = 1\n"
           "draft_discovery = false\nprepend_hostname = false\n";
    const passwd* olad = getpwnam("olad");
    if (chown(dir.c_str(), olad->pw_uid, olad->pw_gid) != 0) {
        return "";
    }
    return dir;
}

// The number of the OLA device whose description starts with `name`.
std::string Device(const std::string& devices, const std::string& name) {
    const std::size_t at = devices.find(": " + name);
    const std::size_t start = devices.rfind("Device ", at);
    return at == std::string::npos ? "?" : devices.substr(start + 7, at - start - 7);
}

TEST(BridgeWithOla, OlaFindsTheBridgeAndDrivesTheHostOverArtnetAndSacn) {
    if (const std::string reason = SkipReason(); !reason.empty()) {
        GTEST_SKIP() << reason;
    }
    const std::string bin = ProgramDirectory();
    Namespaces ns;  // 0: olad at 198.18.0.1; 1: bridge and monitor at 198.18.0.2
    ASSERT_TRUE(ns.Make(
        "ip netns add ${N}0 && ip netns add ${N}1 && "
        "ip link add v0 netns ${N}0 type veth peer name v1 netns ${N}1 && for i in 0 1; do "
        "ip -n $N$i link set lo up && ip -n $N$i addr add 198.18.0.$((i + 1))/24 brd + dev v$i "
        "&& ip -n $N$i link set v$i up || exit 1; done"));
    const std::string configuration = OlaConfiguration();
    ASSERT_FALSE(configuration.empty()) << "cannot hand a folder to the olad user";
    ChildProcess olad;
    ASSERT_TRUE(olad.Start(
        ns.In(0, {"/usr/bin/setpriv", "--reuid=olad", "--regid=nogroup", "--init-groups", kOlad,
                  "-c", configuration, "-l", "3", "--no-http", "--no-register-with-dns-sd"})));
    // The ola_* tools start an olad of their own when none answers: wait for RPC first.
    bool ready = false;
    for (int i = 0; i < 50 && !ready; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ready =
            RunProcess(ns.In(0, {"/bin/bash", "-c", "exec 3<>/dev/tcp/127.0.0.1/9010"})).exitCode ==
            0;
    }
    ASSERT_TRUE(ready) << "olad did not start";

    ChildProcess monitor;
    ASSERT_TRUE(monitor.Start(
        ns.In(1, {bin + "lxdravik-monitor", "--duration", "6", "--json", "--rate", "100"})));
    ASSERT_TRUE(monitor.WaitForError("listening", std::chrono::seconds(10)));
    ChildProcess bridge;
    ASSERT_TRUE(
        bridge.Start(ns.In(1, {bin + "lxdravik-bridge", "--sacn", "2", "--artnet", "0:0:1@1",
                               "--bind", "198.18.0.2", "--duration", "4.5", "--json"})));
    ASSERT_TRUE(bridge.WaitForError("listening", std::chrono::seconds(10)));

    // Patching polls the network; the bridge answers, and OLA sends it ArtDmx.
    // OLA sends once, without per-address priorities: the bridge merges its
    // sACN after sampling (1.5 s) or after waiting 1.5 s for priorities.
    const std::string devices = RunProcess(ns.In(0, {"/usr/bin/ola_dev_info"})).out;
    for (const auto& [device, universe] :
         {std::pair{Device(devices, "ArtNet"), "1"}, std::pair{Device(devices, "E1.31"), "2"}}) {
        ASSERT_EQ(
            RunProcess(ns.In(0, {"/usr/bin/ola_patch", "-d", device, "-p", "0", "-u", universe}))
                .exitCode,
            0)
            << devices;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    for (const auto& [universe, levels] : {std::pair{"1", "10,20,30"}, std::pair{"2", "40,0,60"}}) {
        EXPECT_EQ(
            RunProcess(ns.In(0, {"/usr/bin/ola_set_dmx", "-u", universe, "-d", levels})).exitCode,
            0);
    }

    const ProcessResult bridged = bridge.Finish(std::chrono::seconds(10));
    EXPECT_EQ(bridged.exitCode, 0) << bridged.err;
    const nlohmann::json summary = nlohmann::json::parse(bridged.out, nullptr, false);
    EXPECT_GT(summary["artnet"]["replies"], 0) << bridged.out;
    const ProcessResult snapshot = monitor.Finish(std::chrono::seconds(10));
    ASSERT_EQ(snapshot.exitCode, 0) << snapshot.err;
    const std::map<int, Levels> ports = PortsInReport(snapshot.out);
    ASSERT_EQ(ports.size(), 2u) << snapshot.out << bridged.out;
    EXPECT_EQ(Levels(ports.at(0).begin(), ports.at(0).begin() + 4), (Levels{40, 0, 60, 0}));
    EXPECT_EQ(Levels(ports.at(1).begin(), ports.at(1).begin() + 4), (Levels{10, 20, 30, 0}));
}

TEST(BridgeWithOla, StartedBeforeTheNetworkItWaitsForIt) {
    if (geteuid() != 0 || access(kIp.c_str(), X_OK) != 0) {
        GTEST_SKIP() << "network namespaces need root and ip";
    }
    Namespaces ns;
    ASSERT_TRUE(ns.Make("ip netns add ${N}0"));  // no interface up: nowhere to join yet
    const ProcessResult run = RunProcess(
        ns.In(0, {ProgramDirectory() + "lxdravik-bridge", "--sacn", "7", "--duration", "0.5"}));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(Holds(run.out, "  interfaces: none; receive buffer "));
}

}  // namespace
}  // namespace lxd::test
