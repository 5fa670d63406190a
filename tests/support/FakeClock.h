#pragma once

#include "base/Clock.h"

#include <cstdint>
#include <functional>
#include <mutex>

namespace tolvarin {

// A clock for tests: a 0.7 s read or a 500 ms pause costs no wall time.
// Time moves only when a test (or a simulated device) advances it. The wall
// clock can be stepped on its own, as NTP or a user does, while the
// monotonic clock keeps its course.
class FakeClock : public Clock {
  public:
    // Starts at startMicros; the default is a fixed moment
    // (2026-12-06 18:35:54 UTC) so stamps are reproducible.
    explicit FakeClock(int64_t startMicros = kDefaultStart) : now_(startMicros) {}
    FakeClock(const FakeClock&) = delete;
    FakeClock& operator=(const FakeClock&) = delete;

    static constexpr int64_t kDefaultStart = 1796582154LL * 1000000;

    int64_t wallMicros() const override;
    int64_t monotonicMicros() const override;
    void sleepMicros(int64_t micros) const override;
    void waitFor(int64_t micros, std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                 const std::function<bool()>& done) const override;

    // The current fake (monotonic) time, without counting as a reading.
    int64_t now() const;
    void advance(int64_t micros);
    void set(int64_t micros);
    // Seconds as a convenience for set().
    void setSeconds(int64_t seconds) { set(seconds * 1000000); }

    // The wall clock jumps by micros (back when negative) and stays there;
    // durations do not see it.
    void stepWall(int64_t micros);
    // Every reading advances the clock by micros after answering (0: off).
    void setAdvancePerReading(int64_t micros);

    // Readings taken (wall and monotonic).
    int64_t readings() const;
    // Total fake time spent asleep.
    int64_t sleptMicros() const;
    int64_t sleepCalls() const;

    // Replaces the sleep (GatedSleep holds sleeps until a test lets them
    // go); nullptr restores the clock's own, which advances time.
    void setSleep(std::function<void(int64_t)> sleep);
    // The clock's own sleep.
    void sleepOwn(int64_t micros) const;

  private:
    int64_t read(int64_t offset) const;

    mutable std::mutex mutex_;
    mutable int64_t now_;
    int64_t wallOffset_ = 0;
    int64_t advancePerReading_ = 0;
    mutable int64_t readings_ = 0;
    mutable int64_t slept_ = 0;
    mutable int64_t sleepCalls_ = 0;
    std::function<void(int64_t)> sleep_;
};

} // namespace tolvarin
