// /status.json and /healthz's answer, written from each status snapshot
// once, on a thread of its own: a reader gets the text written last and
// never waits for it, and the event loop that forwards never writes JSON
// for a reader, however many there are.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "tools/bridge/status/snapshot.h"
#include "tools/bridge/web/server.h"

namespace lxd::bridge {

class StatusCache {
  public:
    StatusCache();
    ~StatusCache();
    StatusCache(const StatusCache&) = delete;
    StatusCache& operator=(const StatusCache&) = delete;

    // Hands over the newest snapshot; one not written yet is replaced. The
    // first is written before this returns, so that there is always a text.
    void Post(Snapshot snapshot);
    // What the newest snapshot written says.
    std::shared_ptr<const std::string> Json() const;
    WebReply Health() const;

  private:
    void Write(const Snapshot& snapshot);

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::unique_ptr<Snapshot> next_;
    bool stop_ = false;
    std::shared_ptr<const std::string> json_;
    WebReply health_;
    std::thread writer_;
};

}  // namespace lxd::bridge
