#include "tests/tools/snapshot.h"

namespace lxd::test {

::testing::AssertionResult Holds(const std::string& text, const std::string& part) {
    if (text.find(part) != std::string::npos) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "\"" << part << "\" not in:\n" << text;
}

Levels ArrayAfter(const std::string& json, std::size_t from) {
    Levels values;
    std::size_t at = json.find('[', from);
    const std::size_t end = json.find(']', at);
    if (at == std::string::npos || end == std::string::npos) {
        return values;
    }
    for (++at; at < end;) {
        std::size_t used = 0;
        values.push_back(std::stoi(json.substr(at, end - at), &used));
        at += used;
        while (at < end && (json[at] == ',' || json[at] == ' ')) {
            ++at;
        }
    }
    return values;
}

std::map<int, Levels> PortsInSnapshot(const std::string& json) {
    std::map<int, Levels> ports;
    const std::string key = "{\"port\": ";
    for (std::size_t at = json.find(key); at != std::string::npos; at = json.find(key, at + 1)) {
        const int port = std::stoi(json.substr(at + key.size()));
        ports[port] = ArrayAfter(json, json.find("\"levels\":", at));
    }
    return ports;
}

}  // namespace lxd::test
