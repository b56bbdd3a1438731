#include "tests/tools/output.h"

#include <sstream>

namespace lxd::test {

::testing::AssertionResult Holds(const std::string& text, const std::string& part) {
    if (text.find(part) != std::string::npos) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "\"" << part << "\" not in:\n" << text;
}

Levels ArrayAfter(const std::string& json, std::size_t from) {
    Levels values;
    const std::size_t at = json.find('[', from);
    if (at != std::string::npos) {
        std::istringstream in(json.substr(at + 1, json.find(']', at) - at - 1));
        for (std::string value; std::getline(in, value, ',');) {
            values.push_back(std::stoi(value));
        }
    }
    return values;
}

std::map<int, Levels> PortsInReport(const std::string& json) {
    std::map<int, Levels> ports;
    const std::string key = "{\"port\": ";
    for (std::size_t at = json.find(key); at != std::string::npos; at = json.find(key, at + 1)) {
        const int port = std::stoi(json.substr(at + key.size()));
        ports[port] = ArrayAfter(json, json.find("\"levels\":", at));
    }
    return ports;
}

}  // namespace lxd::test
