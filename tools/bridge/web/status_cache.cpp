#include "tools/bridge/web/status_cache.h"

#include "tools/bridge/status/health.h"
#include "tools/bridge/status/json.h"

namespace lxd::bridge {

StatusCache::StatusCache() {
    writer_ = std::thread([this] {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return next_ != nullptr || stop_; });
            if (stop_) {
                return;
            }
            const std::unique_ptr<Snapshot> snapshot = std::move(next_);
            lock.unlock();
            Write(*snapshot);
            lock.lock();
        }
    });
}

StatusCache::~StatusCache() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    writer_.join();
}

void StatusCache::Post(Snapshot snapshot) {
    if (Json() == nullptr) {
        Write(snapshot);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        next_ = std::make_unique<Snapshot>(std::move(snapshot));
    }
    wake_.notify_all();
}

void StatusCache::Write(const Snapshot& snapshot) {
    auto json = std::make_shared<const std::string>(StatusJson(snapshot));
    const lxd::bridge::Health health = HealthOf(snapshot);
    std::lock_guard<std::mutex> lock(mutex_);
    json_ = std::move(json);
    health_ = {health.ok ? 200 : 503, "text/plain", health.reason + "\n"};
}

std::shared_ptr<const std::string> StatusCache::Json() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return json_;
}

WebReply StatusCache::Health() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return health_;
}

}  // namespace lxd::bridge
