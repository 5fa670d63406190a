#include "app/MainThreadQueue.h"

#include <chrono>
#include <utility>

namespace tolvarin {

namespace {
// How often a waiting main thread looks at what it waits for even without a
// notification (a worker that ended between two looks). This is a wait for
// another thread, not a timing, so it uses the steady clock itself.
constexpr auto kServiceLook = std::chrono::milliseconds(20);
} // namespace

MainThreadQueue::MainThreadQueue(std::function<void()> wake)
    : wake_(std::move(wake)), mainThread_(std::this_thread::get_id()) {}

void MainThreadQueue::performAndWait(const std::function<void()>& work) {
    if (onMainThread()) {
        work();
        return;
    }
    auto item = std::make_shared<Item>();
    item->work = work;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_.push_back(item);
    }
    changed_.notify_all();
    if (wake_) {
        wake_();
    }
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return item->done; });
}

void MainThreadQueue::runPending() {
    for (;;) {
        std::shared_ptr<Item> item;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (pending_.empty()) {
                return;
            }
            item = pending_.front();
            pending_.pop_front();
        }
        item->work();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            item->done = true;
        }
        changed_.notify_all();
    }
}

void MainThreadQueue::serviceUntil(const std::function<bool()>& done) {
    for (;;) {
        runPending();
        if (done()) {
            return;
        }
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, kServiceLook, [&] { return !pending_.empty(); });
    }
}

void MainThreadQueue::notify() {
    { std::lock_guard<std::mutex> lock(mutex_); }
    changed_.notify_all();
}

} // namespace tolvarin
