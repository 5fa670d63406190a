#pragma once

#include "platform/AlignedBuffer.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace tolvarin {

class Clock;
class RawDevice;

// The timed re-read of a recorded finding: an untimed read of a fast
// reference sector first (so that every timed read starts from the same
// head position and a cold cache), then one timed 262,144-byte read at the
// finding, made while holding the hub's timed-read lock. Also the search
// for that reference sector.
class TimedReread {
  public:
    static constexpr int64_t kReadSize = 262144;
    // Results besides a time in seconds.
    static constexpr double kSeekFailed = -1.0;
    static constexpr double kReadFailed = 999999999.99;
    static constexpr double kShortRead = 0.0;
    // Above this a result is a failed read; below 0 a failed seek.
    static constexpr double kFailedReadAbove = 99999999.99;
    // The reference search: candidates every 128 MiB, a failed read makes
    // the stride 512 MiB longer, a candidate that reads in under 0.05 s is
    // taken.
    static constexpr int64_t kReferenceStride = 134217728;
    static constexpr int64_t kReferenceStrideGrowth = 536870912;
    static constexpr double kReferenceFastEnough = 0.05;
    static constexpr int64_t kClockBackPauseMicros = 100000;

    using Opener = std::function<std::unique_ptr<RawDevice>()>;
    // Where the stall spinner should look (the reference, then reference + 1).
    using SpinnerLocation = std::function<void(int64_t)>;

    TimedReread(const Clock& clock, std::mutex& lock, Opener opener,
                SpinnerLocation spinner = nullptr);
    ~TimedReread();
    TimedReread(const TimedReread&) = delete;
    TimedReread& operator=(const TimedReread&) = delete;

    static bool failedSeek(double result) { return result < 0; }
    static bool failedRead(double result) { return result > kFailedReadAbove; }

    // surfaceScanDiagnosticsAtByte:usingReferenceSector: the seconds the
    // read at location took, or one of the results above. A reference of 0
    // or less is not read.
    double surfaceScanDiagnosticsAtByte(int64_t location, int64_t reference);
    // obtainReferenceSector: the first candidate that reads fast, or -1
    // when a seek fails or the search passes the end of the unit (its
    // reported size, or a read that finds the end).
    int64_t obtainReferenceSector();

    // Device reads made so far (timed and reference reads).
    int64_t readsMade() const { return readsMade_; }

  private:
    RawDevice* device();
    // Reads kReadSize bytes at the device's position: the bytes read, or -1.
    int64_t readOnce();

    const Clock& clock_;
    std::mutex& lock_;
    Opener opener_;
    SpinnerLocation spinner_;
    std::unique_ptr<RawDevice> device_;
    AlignedBuffer buffer_;
    int64_t readsMade_ = 0;
};

} // namespace tolvarin
