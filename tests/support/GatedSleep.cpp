#include "tests/support/GatedSleep.h"

#include "base/Clock.h"
#include "tests/support/FakeClock.h"

#include <chrono>

namespace tolvarin {

namespace {
// Only a guard against a test that would otherwise hang: nothing waits this
// long when the code under test works.
constexpr auto kDeadlockGuard = std::chrono::seconds(30);
} // namespace

GatedSleep::GatedSleep(FakeClock& clock) : clock_(clock) {
    clock_.setSleep([this](int64_t micros) { sleep(micros); });
}

GatedSleep::~GatedSleep() {
    open();
    // Back to the fake clock's own sleep: it advances time, never blocks.
    clock_.setSleep(nullptr);
}

void GatedSleep::sleep(int64_t micros) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (open_) {
        lock.unlock();
        clock_.advance(micros > 0 ? micros : 0);
        return;
    }
    uint64_t ticket = arrived_++;
    waiting_.push_back(micros);
    changed_.notify_all();
    changed_.wait(lock, [&] { return open_ || released_ > ticket; });
    if (released_ <= ticket) {
        // Let go by open(): this sleep is no longer counted as waiting.
        ++released_;
        if (!waiting_.empty()) {
            waiting_.pop_front();
        }
    }
    lock.unlock();
    clock_.advance(micros > 0 ? micros : 0);
}

int64_t GatedSleep::waitForSleeper() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!changed_.wait_for(lock, kDeadlockGuard, [&] { return !waiting_.empty(); })) {
        return -1;
    }
    return waiting_.front();
}

void GatedSleep::release() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!waiting_.empty()) {
        waiting_.pop_front();
        ++released_;
        changed_.notify_all();
    }
}

void GatedSleep::open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    changed_.notify_all();
}

} // namespace tolvarin
