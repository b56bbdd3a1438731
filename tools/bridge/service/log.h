// What the bridge tells whoever looks after it: one line per event (a source
// appears or is lost, a join fails, the configuration is reloaded), never one
// per packet. Lines go to stderr (the journal, under systemd) or, for the
// Windows service, to a file whose size is bounded.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace lxd::bridge {

class Log {
  public:
    Log() = default;
    ~Log();
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    // From now on lines go to `path`, each with the date and time. When the
    // file would grow past `maxBytes` it becomes `path`.old (replacing the
    // one before) and a new file starts; where that cannot be done, the file
    // starts again empty with a line that says so. False when it cannot be
    // opened.
    bool ToFile(const std::string& path, std::uint64_t maxBytes);
    void Line(const std::string& text);

  private:
    std::FILE* file_ = nullptr;
    std::string path_;
    std::uint64_t size_ = 0;
    std::uint64_t max_ = 0;
};

}  // namespace lxd::bridge
