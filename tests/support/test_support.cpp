#include "tests/support/test_support.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace lxd::test {
namespace {

namespace fs = std::filesystem;

// Every folder a test program makes lives below one folder of its own, which
// goes when the program ends: normally, on a failed assertion, or on Ctrl-C or
// termination. Only the process that made it removes it (a forked child that
// exits must not take it away from its parent).
class ScratchRoot {
  public:
    ~ScratchRoot() { Remove(); }

    const fs::path& Path() {
        if (path_.empty()) {
            const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
            path_ = fs::temp_directory_path() /
                    ("lxdravik-test-" + std::to_string(getpid()) + "-" + std::to_string(stamp));
            fs::create_directories(path_);
            owner_ = getpid();
            for (int signal : {SIGINT, SIGTERM}) {
                std::signal(signal, OnSignal);
            }
        }
        return path_;
    }

    void Remove() {
        if (!path_.empty() && owner_ == getpid()) {
            std::error_code ignored;
            fs::remove_all(path_, ignored);
            path_.clear();
        }
    }

  private:
    static void OnSignal(int signal);

    fs::path path_;
    int owner_ = 0;
};

// Made on first use: other files' static objects may ask for a folder.
ScratchRoot& Root() {
    static ScratchRoot root;
    return root;
}

void ScratchRoot::OnSignal(int signal) {
    Root().Remove();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

}  // namespace

std::string MakeTempDirectory() {
    static std::atomic<int> counter{0};
    const fs::path dir = Root().Path() / std::to_string(counter++);
    fs::create_directories(dir);
    return dir.string();
}

}  // namespace lxd::test
