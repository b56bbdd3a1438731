// The bridge's configuration file under its command line: files that give
// the settings they say, and files refused with one line that names the
// file, the line and the key.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "tests/support/test_support.h"
#include "tools/bridge/service/options.h"

namespace lxd::test {
namespace {

std::string Join(const std::vector<std::string>& list) {
    std::string out;
    for (const std::string& item : list) {
        out += (out.empty() ? "" : ",") + item;
    }
    return out;
}

std::string Describe(const bridge::Options& o) {
    std::string out;
    for (int p = 0; p < kNumPorts; ++p) {
        if (o.mapping.Port(p).protocol != bridge::Protocol::kNone) {
            out += std::to_string(p) + ":" +
                   (o.mapping.Port(p).protocol == bridge::Protocol::kSacn ? "S" : "A") +
                   std::to_string(o.mapping.Port(p).universe) + " ";
        }
    }
    const std::vector<bridge::Route> routes = o.mapping.Routes();
    for (const bridge::Route& r : routes) {
        const bridge::PortSource& listed = o.mapping.Port(r.port);
        if (r.first != 1 || r.count != 512 || r.at != 1 || r.priority >= 0 ||
            listed.protocol != r.from.protocol || listed.universe != r.from.universe) {
            out += "R" + std::to_string(r.from.universe) + ":" + std::to_string(r.first) + "+" +
                   std::to_string(r.count) + ">" + std::to_string(r.port) + "@" +
                   std::to_string(r.at) + "p" + std::to_string(r.priority) + " ";
        }
    }
    for (int p = 0; p < kNumPorts; ++p) {
        const bridge::PortRules& rules = o.mapping.Rules(p);
        if (!(rules == bridge::PortRules{})) {
            out += "P" + std::to_string(p) + (rules.merge == bridge::Merge::kLtp ? "ltp" : "htp") +
                   std::to_string(rules.hold) + " ";
        }
    }
    return out + "to " + o.network.toHost + ":" + std::to_string(o.network.toPort) +
           (o.network.interfaces.empty() ? "" : " on " + Join(o.network.interfaces)) +
           (o.holdOnLoss ? " hold" : " zero") + (o.http.empty() ? "" : " http " + o.http) +
           (o.name.empty() ? "" : " name " + o.name) +
           (o.sync == bridge::SyncMode::kAuto
                ? ""
                : std::string(" sync ") + bridge::SyncModeName(o.sync));
}

struct ConfigCase {
    std::string file;  // the configuration's text; "-": no such file
    std::vector<std::string> arguments;
    std::string result;  // Describe() of the options, or the error after "F"
};

TEST(BridgeConfig, FilesGiveTheirSettingsUnderTheCommandLineOrOneLineWhy) {
    const std::vector<ConfigCase> cases = {
        {"sacn = [\"1-2\"]\nhttp = \"127.0.0.1:8250\"\n",
         {},
         "0:S1 1:S2 to 127.0.0.1:2501 hold "
         "http 127.0.0.1:8250"},
        {"# a comment\r\nsacn = \"5@3\"\r\nartnet = [\"0:0:1-2@10\"]\r\nto = \"127.0.0.2:2600\"\r\n"
         "on_loss = \"zero\"\r\nname = \"Left\"\r\ninterfaces = [\"127.0.0.1\"]\r\n",
         {},
         "3:S5 10:A1 11:A2 to 127.0.0.2:2600 on 127.0.0.1 zero name Left"},
        // The command line wins; its mapping replaces both of the file's lists.
        {"sacn = [\"1-2\"]\nartnet = \"7@9\"\non_loss = \"zero\"\nhttp = \"127.0.0.1:1\"\n",
         {"--sacn", "4", "--on-loss", "hold", "--http", "0.0.0.0:8080"},
         "0:S4 to 127.0.0.1:2501 hold http 0.0.0.0:8080"},
        {"sacn = [\"1-2\"]\ninterfaces = [\"eth1\", \"10.0.0.1\"]\n",
         {},
         "0:S1 1:S2 to 127.0.0.1:2501 on eth1,10.0.0.1 hold"},
        {"sacn = [\"1-2\"]\ninterfaces = [\"10.0.0.1\"]\n",
         {"--bind", "127.0.0.1", "--interface", "lo", "--to", "127.0.0.3:9"},
         "0:S1 1:S2 to 127.0.0.3:9 on 127.0.0.1,lo hold"},
        {"sacn = \"1\"\nsync = \"all\"\n", {}, "0:S1 to 127.0.0.1:2501 hold sync all"},
        {"sacn = \"1\"\nsync = \"all\"\n",
         {"--sync", "off"},
         "0:S1 to 127.0.0.1:2501 hold sync off"},
        {"sacn = \"1\"\nsync = \"often\"\n",
         {},
         "F:2: sync: expected auto, all or off, got 'often'"},
        {"sacn = [\"1-4\"]\nbogus = 3\n", {}, "F:2: bogus: unknown key"},
        {"sacn = [\"1-4\"]\nto = \n", {}, "F:2: "},
        {"sacn = \"1\"\nsacn = \"2\"\n", {}, "F:2: "},
        {"sacn = [\"0-4\"]\n", {}, "F:1: sacn: universe '0-4' is outside 1..63999"},
        {"\n\nsacn = 5\n", {}, "F:3: sacn: expected a string or an array of strings"},
        {"[sacn]\nfirst = 1\n", {}, "F:1: sacn: expected a string or an array of strings"},
        {"sacn = [\"1\", 2]\n", {}, "F:1: sacn: expected strings in the array"},
        {"sacn = [\"1-30\"]\nartnet = [\"1-10@25\"]\n",
         {},
         "F:2: artnet: port 25 is already fed by sACN universe 26"},
        {"sacn = [\"1\"]\non_loss = \"keep\"\n",
         {},
         "F:2: on_loss: expected hold or zero, got 'keep'"},
        {"sacn = [\"1\"]\nto = \"localhost\"\n", {}, "F:2: to: expected HOST:PORT"},
        {"sacn = [\"1\"]\nhttp = \"127.0.0.1:99999\"\n",
         {},
         "F:2: http: expected an IP address and a port"},
        {"sacn = [\"1\"]\nhttp = \"localhost:8250\"\n",
         {},
         "F:2: http: expected an IP address and a port"},
        {"sacn = [\"1\"]\nname = \"\"\n", {}, "F:2: name: expected a name of 1 to 63 characters"},
        {"sacn = [\"1\"]\ninterfaces = [\"eth1\", \"10.0.0\"]\n",
         {},
         "F:2: interfaces: '10.0.0' is neither an IPv4 address nor an interface name"},
        {"[[route]]\nfrom = \"sacn 2\"\nchannels = \"1-100\"\nport = 0\nat = 101\npriority = 120\n"
         "[[route]]\nfrom = \"artnet 0:1:2\"\nport = 0\n[[port]]\nport = 0\nmerge = \"ltp\"\n"
         "on_loss = \"zero\"\n",
         {},
         "R2:1+100>0@101p120 R18:1+512>0@1p-1 P0ltp0 to 127.0.0.1:2501 hold"},
        {"sacn = [\"1\"]\n[[route]]\nfrom = \"artnet 3\"\nchannels = \"5\"\nport = 0\n",
         {"--sacn", "7"},
         "0:S7 to 127.0.0.1:2501 hold"},
        {"[[route]]\nfrom = \"sacn 1\"\nchannels = \"1-100\"\nport = 0\nat = 450\n",
         {},
         "F:5: route.at: channels 1-100 at 450 run past channel 512"},
        {"[[route]]\nfrom = \"sacn 0\"\nport = 0\n", {}, "F:2: route.from: 'sacn 0': universe"},
        {"[[route]]\nfrom = \"dmx 1\"\nport = 0\n", {}, "F:2: route.from: 'dmx 1': expected"},
        {"[[route]]\nfrom = \"sacn 1\"\nport = 36\n",
         {},
         "F:3: route.port: expected a number from 0 to 35, got '36'"},
        {"[[route]]\nfrom = \"sacn 1\"\nport = 1\npriority = 201\n", {}, "F:4: route.priority: "},
        {"[[route]]\nfrom = \"sacn 1\"\nport = 1\nchannels = \"9-3\"\n",
         {},
         "F:4: route.channels: '9-3': expected channels"},
        {"[[route]]\nfrom = \"sacn 1\"\nlevel = 3\n", {}, "F:3: route.level: unknown key"},
        {"[[route]]\nfrom = \"sacn 1\"\n", {}, "F:1: route: a route needs from and port"},
        {"sacn = [\"1\"]\n[[port]]\nport = 0\nmerge = \"lowest\"\n",
         {},
         "F:4: port.merge: expected htp or ltp, got 'lowest'"},
        {"sacn = [\"1\"]\n[[port]]\nport = 3\n[[port]]\nport = 3\n",
         {},
         "F:5: port.port: port 3 has a [[port]] table already"},
        {"# nothing\n", {}, "nothing to receive: map universes with --sacn and/or --artnet"},
        {"sacn = [\"1\"]\nbad = \"\xff\"\n", {}, "F:2: "},  // not UTF-8
        {"-", {}, "F: cannot read the configuration file"},
        {std::string(70000, '#'), {}, "F: longer than 64 KiB"},
    };
    const std::string dir = MakeTempDirectory();
    const std::string path = dir + "/bridge.toml";
    for (const ConfigCase& c : cases) {
        std::remove(path.c_str());
        if (c.file != "-") {
            std::ofstream(path, std::ios::binary) << c.file;
        }
        std::vector<std::string> arguments = {"lxdravik-bridge", "--config", path};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        std::vector<char*> argv;
        for (std::string& a : arguments) {
            argv.push_back(a.data());
        }
        bridge::Options options;
        std::string error;
        const int code =
            bridge::ParseOptions(static_cast<int>(argv.size()), argv.data(), options, &error);
        std::string expected = c.result;
        if (expected.rfind("F", 0) == 0) {
            expected = path + expected.substr(1);
        }
        const std::string got = code == -1 ? Describe(options) : error;
        const bool refused = c.result[0] == 'F' || c.result.rfind("nothing", 0) == 0;
        EXPECT_EQ(code, refused ? 2 : -1) << c.file;
        EXPECT_EQ(got.substr(0, expected.size()), expected) << c.file;
        EXPECT_EQ(got.find('\n'), std::string::npos) << got;
    }
    std::remove(path.c_str());
    std::remove(dir.c_str());
}

}  // namespace
}  // namespace lxd::test
