// Small helpers shared by the tests.
#pragma once

#include <string>

namespace lxd::test {

// A fresh, empty directory for one test's files, removed with the rest of
// the test program's folders when the program ends.
std::string MakeTempDirectory();

}  // namespace lxd::test
