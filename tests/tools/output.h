// Reading what the tools print: the monitor's JSON report, and a check that
// shows the whole text when a part is missing.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace lxd::test {

using Levels = std::vector<int>;

// Passes when `text` holds `part`, and shows both otherwise.
::testing::AssertionResult Holds(const std::string& text, const std::string& part);

// Reads the integers of the JSON array that starts at or after `from`.
Levels ArrayAfter(const std::string& json, std::size_t from);

// The "ports" entries of the monitor's JSON report: port -> its 512 levels.
std::map<int, Levels> PortsInReport(const std::string& json);

}  // namespace lxd::test
