#pragma once

#include <atomic>
#include <cstdint>

namespace tolvarin {

// The cursory test's options: which scans run, the limited range in whole
// gigabytes of 1,000,000,000 bytes, and whether failed sectors are
// repaired. The checks of the options window's OK raise their messages.
class CursoryOptions {
  public:
    // What the options window (or the terminal's options) chose.
    struct Choice {
        bool surface = true;
        bool seek = true;
        bool repair = false;
        bool limit = false;
        int startGB = 0;
        int endGB = 1;
        int queueDepth = 1;
    };

    static constexpr int64_t kGigabyte = 1000000000;
    // The range granularity of limited scans: 1000 * 2^20 bytes.
    static constexpr int64_t kRangeGranularity = 1048576000;

    // The checks of the window's OK on a unit of targetSize bytes: each
    // failing one raises its message and answers false (the window stays
    // open); on success the choice is taken.
    bool confirm(const Choice& choice, int64_t targetSize);
    // The options window opened: repair is off until chosen again.
    void opened();
    // The choice on the console.
    void print() const;

    bool doSurfaceScan() const { return doSurfaceScan_.load(); }
    void setDoSurfaceScan(bool value) { doSurfaceScan_.store(value); }
    bool doSeekScan() const { return doSeekScan_.load(); }
    void setDoSeekScan(bool value) { doSeekScan_.store(value); }
    bool attemptToRepairBadSectors() const { return attemptToRepairBadSectors_.load(); }
    void setAttemptToRepairBadSectors(bool value) { attemptToRepairBadSectors_.store(value); }
    bool cursoryLimitedScanSelected() const { return cursoryLimitedScanSelected_.load(); }
    void setCursoryLimitedScanSelected(bool value) { cursoryLimitedScanSelected_.store(value); }
    int limitedCursoryScanStartByte() const { return limitedCursoryScanStartByte_.load(); }
    void setLimitedCursoryScanStartByte(int value) { limitedCursoryScanStartByte_.store(value); }
    int limitedCursoryScanEndByte() const { return limitedCursoryScanEndByte_.load(); }
    void setLimitedCursoryScanEndByte(int value) { limitedCursoryScanEndByte_.store(value); }
    bool cursoryOptionsSelected() const { return cursoryOptionsSelected_.load(); }
    // Reads in flight during the surface scan, kMinQueueDepth to
    // kMaxQueueDepth; a value outside is brought to the nearest one.
    static constexpr int kMinQueueDepth = 1;
    static constexpr int kMaxQueueDepth = 32;
    int queueDepth() const { return queueDepth_.load(); }
    void setQueueDepth(int value) {
        queueDepth_.store(value < kMinQueueDepth   ? kMinQueueDepth
                          : value > kMaxQueueDepth ? kMaxQueueDepth
                                                   : value);
    }

  private:
    std::atomic<bool> doSurfaceScan_{true};
    std::atomic<bool> doSeekScan_{true};
    std::atomic<bool> cursoryOptionsSelected_{false};
    std::atomic<bool> attemptToRepairBadSectors_{false};
    std::atomic<bool> cursoryLimitedScanSelected_{false};
    std::atomic<int> limitedCursoryScanStartByte_{0};
    std::atomic<int> limitedCursoryScanEndByte_{1};
    std::atomic<int> queueDepth_{1};
};

} // namespace tolvarin
