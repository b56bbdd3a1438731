// The live status on a terminal, drawn from a snapshot: the interfaces in
// use, then one line per mapped universe, each cut to the terminal's width.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "tools/bridge/status/snapshot.h"

namespace lxd::bridge {

// The view's text, no line wider than `columns` display columns.
std::string RenderStatus(const Snapshot& snapshot, int columns);

// Draws the status view on a thread of its own, so that a terminal that stops
// reading (Ctrl-S, a selection on Windows) never stops the forwarding: Post
// only hands over the latest snapshot, and a frame the thread has not drawn
// yet is replaced by the next one.
class StatusWriter {
  public:
    explicit StatusWriter(std::FILE* terminal);
    // Waits a moment for a frame being drawn, never for a terminal that
    // holds up its writes.
    ~StatusWriter();
    StatusWriter(const StatusWriter&) = delete;
    StatusWriter& operator=(const StatusWriter&) = delete;

    void Post(Snapshot snapshot);

  private:
    struct Shared {
        std::mutex mutex;
        std::condition_variable wake;
        Snapshot next;
        bool pending = false;
        bool stop = false;
        bool idle = true;
    };
    std::shared_ptr<Shared> shared_;
};

}  // namespace lxd::bridge
