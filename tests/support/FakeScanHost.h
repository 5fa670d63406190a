#pragma once

#include "base/NotificationCenter.h"
#include "engine/ScanHost.h"
#include "tests/support/FakeClock.h"
#include "tests/support/FakeEnv.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tolvarin {

// A scan host for engine tests: every call the engine makes is recorded in
// order (name, and the text or number it carried), and every option the
// engine reads is a plain field the test sets. Safe to use from the scan
// thread while the test thread reads it.
class FakeScanHost : public ScanHost {
  public:
    // Surroundings on the given fake clock, or on a clock of its own.
    explicit FakeScanHost(FakeClock& clock) : clock_(clock), env_(clock) {}
    FakeScanHost() : clock_(ownClock_), env_(ownClock_) {}

    struct Call {
        std::string name;
        std::string text;  // the string argument, if any
        double number = 0; // the numeric argument, if any
    };

    // --- options the engine reads ---
    std::atomic<bool> normalScanValue{false};
    std::atomic<bool> probeIntoValue{false};
    std::atomic<bool> attemptToRepairBadSectorsValue{false};
    std::atomic<bool> doSurfaceScanValue{true};
    std::atomic<bool> doSeekScanValue{true};
    std::atomic<bool> cursoryLimitedScanSelectedValue{false};
    std::atomic<int> limitedCursoryScanStartByteValue{0};
    std::atomic<int> limitedCursoryScanEndByteValue{0};
    std::atomic<int> queueDepthValue{1};

    // Called after each recorded call (on the caller's thread, outside the
    // record lock): lets a test press Stop or Pause at a chosen moment.
    void setOnCall(std::function<void(const Call&)> hook);

    // --- what happened ---
    std::vector<Call> calls() const;
    std::vector<std::string> callNames() const;
    int count(const std::string& name) const;
    // The last text or number recorded for name ("" / 0 when never called).
    std::string lastText(const std::string& name) const;
    double lastNumber(const std::string& name) const;
    // Every number recorded for name, in order.
    std::vector<double> numbers(const std::string& name) const;
    void clear();

    // --- ScanHost ---
    // The engine's calls are recorded by the names of the window's old
    // setters and spinner calls, one per piece of progress, in the order
    // the progress carries them.
    Env& env() override { return env_; }
    NotificationCenter& note() override { return note_; }
    void showProgress(const ScanProgress& progress) override;
    ScanOptions scanOptions() const override;
    // Recorded with number 1 (YES) or 0 (NO).
    void setUnderTest(bool value) override;
    void resetButtons() override;
    void resumeTest(bool normal) override;
    void spinner(SpinnerPane pane, SpinnerScan scan, SpinnerAction action,
                 int64_t location = 0) override;
    void enableSystemItemsFromScanController() override;
    // Recorded with the status.
    void endProgram(int status) override;

    FakeClock& clock() { return clock_; }
    FakeEnv& fakeEnv() { return env_; }

  protected:
    void record(const std::string& name, const std::string& text = "", double number = 0);

  private:
    FakeClock ownClock_;
    FakeClock& clock_;
    FakeEnv env_;
    NotificationCenter note_;
    mutable std::mutex mutex_;
    std::vector<Call> calls_;
    // Shared so that a hook with state of its own (a mutable lambda) keeps
    // it from one call to the next although it runs outside the lock.
    std::shared_ptr<std::function<void(const Call&)>> onCall_;
};

} // namespace tolvarin
