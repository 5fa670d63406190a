#pragma once

#include "base/NotificationCenter.h"
#include "engine/ScanHost.h"

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
    NotificationCenter& note() override { return note_; }
    void setDeviceBeingTestedString(const std::string& text) override;
    void setTypeOfTestString(const std::string& text) override;
    void setCurrentTestRangeString(const std::string& text) override;
    void setTotalSurfaceScanErrorsString(const std::string& text) override;
    void setTotalSurfaceScanIrregularitiesString(const std::string& text) override;
    void setTotalSeekScanErrorString(const std::string& text) override;
    void setTotalSeekScanIrregularitiesString(const std::string& text) override;
    void setTotalErrorsString(const std::string& text) override;
    void setTotalIrregularitiesString(const std::string& text) override;
    void setSurfacePercentage(double fraction) override;
    void setSeekPercentage(double fraction) override;
    void resetButtons() override;
    bool normalScan() const override { return normalScanValue.load(); }

    bool probeInto() const override { return probeIntoValue.load(); }
    bool attemptToRepairBadSectors() const override {
        return attemptToRepairBadSectorsValue.load();
    }
    void startNormalSurfaceScanSpinnerThread() override;
    void stopNormalSurfaceScanSpinnerThread() override;
    void setNormalSurfaceScanSpinnerLocation(int64_t location) override;
    void startCursorySurfaceScanSpinnerThread() override;
    void stopCursorySurfaceScanSpinnerThread() override;
    void setCursorySurfaceScanSpinnerLocation(int64_t location) override;
    void resumeFormalTest() override;
    void resumeCursoryTest() override;
    void enableSystemItemsFromScanController() override;

    bool doSurfaceScan() const override { return doSurfaceScanValue.load(); }
    bool doSeekScan() const override { return doSeekScanValue.load(); }
    bool cursoryLimitedScanSelected() const override {
        return cursoryLimitedScanSelectedValue.load();
    }
    int limitedCursoryScanStartByte() const override {
        return limitedCursoryScanStartByteValue.load();
    }
    int limitedCursoryScanEndByte() const override { return limitedCursoryScanEndByteValue.load(); }
    // Recorded with number 1 (YES) or 0 (NO).
    void setUnderTest(bool value) override;
    void startNormalSeekScanSpinnerThread() override;
    void stopNormalSeekScanSpinnerThread() override;
    void setNormalSeekScanSpinnerLocation(int64_t location) override;
    void startCursorySeekScanSpinnerThread() override;
    void stopCursorySeekScanSpinnerThread() override;
    void setCursorySeekScanSpinnerLocation(int64_t location) override;

  protected:
    void record(const std::string& name, const std::string& text = "", double number = 0);

  private:
    NotificationCenter note_;
    mutable std::mutex mutex_;
    std::vector<Call> calls_;
    // Shared so that a hook with state of its own (a mutable lambda) keeps
    // it from one call to the next although it runs outside the lock.
    std::shared_ptr<std::function<void(const Call&)>> onCall_;
};

} // namespace tolvarin
