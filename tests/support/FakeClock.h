#pragma once

#include <cstdint>
#include <mutex>

namespace tolvarin {

// A clock for tests: while it lives it is the engine's time source and its
// pause sleep, so a 0.7 s read or a 500 ms pause costs no wall time. Time
// moves only when a test (or a simulated device) advances it. Only one
// FakeClock may exist at a time; the destructor restores the real clock.
class FakeClock {
  public:
    // Starts at startMicros; the default is a fixed moment
    // (2026-12-06 18:35:54 UTC) so stamps are reproducible.
    explicit FakeClock(int64_t startMicros = kDefaultStart);
    ~FakeClock();
    FakeClock(const FakeClock&) = delete;
    FakeClock& operator=(const FakeClock&) = delete;

    static constexpr int64_t kDefaultStart = 1796582154LL * 1000000;

    // The current fake time, without counting as a reading.
    int64_t now() const;
    void advance(int64_t micros);
    void set(int64_t micros);
    // Seconds as a convenience for set().
    void setSeconds(int64_t seconds) { set(seconds * 1000000); }

    // The next reading steps the clock back by micros first, as when the
    // system clock is corrected while a read is in progress. Happens once.
    void stepBackOnce(int64_t micros);
    // Every reading advances the clock by micros after answering (0: off).
    void setAdvancePerReading(int64_t micros);

    // Readings taken through the engine's time source.
    int64_t readings() const;
    // Total fake time spent in clockSleepMicroseconds.
    int64_t sleptMicros() const;
    int64_t sleepCalls() const;

  private:
    int64_t read();
    void sleep(int64_t micros);

    mutable std::mutex mutex_;
    int64_t now_;
    int64_t pendingStepBack_ = 0;
    int64_t advancePerReading_ = 0;
    int64_t readings_ = 0;
    int64_t slept_ = 0;
    int64_t sleepCalls_ = 0;
};

} // namespace tolvarin
