#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

namespace tolvarin {

class FakeClock;

// The engine's sleep for tests of watcher threads: every sleep blocks until
// the test lets it go, one at a time, so a test decides exactly what a
// watcher sees between two looks. A released sleep advances the fake clock
// by its length. open() lets every sleep through at once (for the end of a
// test, before the watchers are stopped). Replaces the FakeClock's sleep
// while it lives; declare it after the FakeClock.
class GatedSleep {
  public:
    explicit GatedSleep(FakeClock& clock);
    ~GatedSleep();
    GatedSleep(const GatedSleep&) = delete;
    GatedSleep& operator=(const GatedSleep&) = delete;

    // Waits until some thread is blocked in a sleep and answers its length
    // in microseconds; -1 when none arrives (a watcher that ended or hangs:
    // the test fails instead of hanging).
    int64_t waitForSleeper();
    // Lets the oldest blocked sleep return.
    void release();
    // From now on no sleep blocks; blocked ones return.
    void open();

  private:
    void sleep(int64_t micros);

    FakeClock& clock_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<int64_t> waiting_; // lengths of the blocked sleeps, oldest first
    uint64_t released_ = 0;       // sleeps let go so far
    uint64_t arrived_ = 0;        // sleeps begun so far
    bool open_ = false;
};

} // namespace tolvarin
