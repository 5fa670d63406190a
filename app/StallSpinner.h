#pragma once

#include "base/Clock.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace tolvarin {

// One stall spinner: the location a scan last reached and a watcher thread
// that animates the pane's spinner while that location stands still for
// 0.6 s or more. Sleeps go through the clock handed in, so tests drive the
// watcher without waiting.
class StallSpinner {
  public:
    static constexpr int64_t kIdleMicros = 2000000; // no test under way
    static constexpr int64_t kStallMicros = 600000; // between two looks
    static constexpr int64_t kPollMicros = 100000;  // while stalled

    // underTest: whether a test is under way (the watcher idles otherwise).
    // animate: starts (true) or stops (false) the spinner's animation.
    StallSpinner(const Clock& clock, std::function<bool()> underTest,
                 std::function<void(bool)> animate);
    // Stops the watcher.
    ~StallSpinner();
    StallSpinner(const StallSpinner&) = delete;
    StallSpinner& operator=(const StallSpinner&) = delete;

    // Starts the watcher thread; nothing happens while one is active.
    void start();
    // Ends the watcher, waits for its thread and stops the animation.
    void stop();

    int64_t location() const { return location_.load(); }
    // Relaxed: the watcher only asks whether the location moved (and the
    // scan sets it before every read, where a fence would cost it time).
    void setLocation(int64_t value) { location_.store(value, std::memory_order_relaxed); }
    bool active() const { return active_.load(); }
    bool animating() const { return animating_.load(); }

  private:
    void watch();
    // Sleeps micros on the clock; a stop ends the sleep at once.
    void pause(int64_t micros);
    void setAnimating(bool value);

    const Clock& clock_;
    std::function<bool()> underTest_;
    std::function<void(bool)> animate_;
    std::atomic<int64_t> location_{0};
    std::atomic<bool> active_{false};
    std::atomic<bool> animating_{false};
    std::mutex threadMutex_;
    std::mutex wakeMutex_;
    std::condition_variable wake_;
    std::thread thread_;
};

} // namespace tolvarin
