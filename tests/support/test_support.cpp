#include "tests/support/test_support.h"

#include <atomic>
#include <chrono>
#include <filesystem>

namespace lxd::test {

std::string MakeTempDirectory() {
    static std::atomic<int> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() /
        ("lxdravik-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(dir);
    return dir.string();
}

}  // namespace lxd::test
