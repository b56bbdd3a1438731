#include "tools/bridge/service/log.h"

#include <cerrno>
#include <cstring>
#include <ctime>

namespace lxd::bridge {

Log::~Log() {
    if (file_ != nullptr) {
        std::fclose(file_);
    }
}

bool Log::ToFile(const std::string& path, std::uint64_t maxBytes) {
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (file == nullptr) {
        return false;
    }
    if (file_ != nullptr) {
        std::fclose(file_);
    }
    file_ = file;
    path_ = path;
    max_ = maxBytes;
    std::fseek(file_, 0, SEEK_END);
    const long at = std::ftell(file_);
    size_ = at > 0 ? static_cast<std::uint64_t>(at) : 0;
    return true;
}

void Log::Line(const std::string& text) {
    if (file_ == nullptr && !path_.empty()) {
        // Starting afresh failed (the file held open elsewhere): tried again
        // with each line.
        file_ = std::fopen(path_.c_str(), "ab");
        const long at = file_ != nullptr ? std::ftell(file_) : 0;
        size_ = at > 0 ? static_cast<std::uint64_t>(at) : 0;
    }
    if (file_ == nullptr) {
        std::fprintf(stderr, "lxdravik-bridge: %s\n", text.c_str());
        return;
    }
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#if defined(_WIN32)
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S ", &local);
    std::string line = stamp + text + "\r\n";
    if (size_ > 0 && size_ + line.size() > max_) {
        std::fclose(file_);
        const std::string old = path_ + ".old";
        std::remove(old.c_str());
        const bool kept = std::rename(path_.c_str(), old.c_str()) == 0;
        const std::string why = kept ? "" : std::strerror(errno);
        // Where the old file cannot be replaced (a folder or an open viewer in
        // the way) this one starts again empty: the bound holds either way.
        file_ = std::fopen(path_.c_str(), kept ? "ab" : "wb");
        size_ = 0;
        if (file_ == nullptr) {
            return;
        }
        if (!kept) {
            line = stamp +
                   ("cannot replace " + old + " (" + why + "): the log starts again here\r\n") +
                   line;
        }
    }
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fflush(file_);
    size_ += line.size();
}

}  // namespace lxd::bridge
