// Small helpers shared by the tests.
#pragma once

#include <string>

namespace lxd::test {

// A fresh, empty directory for one test's files.
std::string MakeTempDirectory();

}  // namespace lxd::test
