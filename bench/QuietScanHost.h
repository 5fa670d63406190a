#pragma once

#include "base/NotificationCenter.h"
#include "engine/ScanHost.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace tolvarin {

// The owner of a benchmarked scan: keeps what the engine hands it the way the
// hub does (texts behind a lock, fractions and spinner locations in atomics),
// runs no spinner threads and draws nothing, so that a measured scan pays
// for the engine's own work and the hub's bookkeeping, not for a face.
// Options: a cursory scan of the whole unit, no probing, no repair.
class QuietScanHost : public ScanHost {
  public:
    NotificationCenter& note() override { return note_; }
    void setDeviceBeingTestedString(const std::string& text) override { keep(deviceText_, text); }
    void setTypeOfTestString(const std::string& text) override { keep(typeText_, text); }
    void setCurrentTestRangeString(const std::string& text) override { keep(rangeText_, text); }
    void setTotalSurfaceScanErrorsString(const std::string& text) override {
        keep(countTexts_[0], text);
    }
    void setTotalSurfaceScanIrregularitiesString(const std::string& text) override {
        keep(countTexts_[1], text);
    }
    void setTotalSeekScanErrorString(const std::string& text) override {
        keep(countTexts_[2], text);
    }
    void setTotalSeekScanIrregularitiesString(const std::string& text) override {
        keep(countTexts_[3], text);
    }
    void setTotalErrorsString(const std::string& text) override { keep(countTexts_[4], text); }
    void setTotalIrregularitiesString(const std::string& text) override {
        keep(countTexts_[5], text);
    }
    void setSurfacePercentage(double fraction) override { surfaceFraction_.store(fraction); }
    void setSeekPercentage(double fraction) override { seekFraction_.store(fraction); }
    void resetButtons() override { resets_.fetch_add(1); }

    bool normalScan() const override { return false; }
    bool probeInto() const override { return false; }
    bool attemptToRepairBadSectors() const override { return false; }
    void startNormalSurfaceScanSpinnerThread() override {}
    void stopNormalSurfaceScanSpinnerThread() override {}
    void setNormalSurfaceScanSpinnerLocation(int64_t location) override {
        surfaceLocation_.store(location);
    }
    void startCursorySurfaceScanSpinnerThread() override {}
    void stopCursorySurfaceScanSpinnerThread() override {}
    void setCursorySurfaceScanSpinnerLocation(int64_t location) override {
        surfaceLocation_.store(location);
    }
    void resumeFormalTest() override {}
    void resumeCursoryTest() override {}
    void enableSystemItemsFromScanController() override {}

    bool doSurfaceScan() const override { return true; }
    bool doSeekScan() const override { return true; }
    bool cursoryLimitedScanSelected() const override { return false; }
    int limitedCursoryScanStartByte() const override { return 0; }
    int limitedCursoryScanEndByte() const override { return 0; }
    void setUnderTest(bool value) override { underTest_.store(value); }
    void startNormalSeekScanSpinnerThread() override {}
    void stopNormalSeekScanSpinnerThread() override {}
    void setNormalSeekScanSpinnerLocation(int64_t location) override {
        seekLocation_.store(location);
    }
    void startCursorySeekScanSpinnerThread() override {}
    void stopCursorySeekScanSpinnerThread() override {}
    void setCursorySeekScanSpinnerLocation(int64_t location) override {
        seekLocation_.store(location);
    }

  private:
    void keep(std::string& field, const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        field = text;
    }

    NotificationCenter note_;
    std::mutex mutex_;
    std::string deviceText_;
    std::string typeText_;
    std::string rangeText_;
    std::string countTexts_[6];
    std::atomic<double> surfaceFraction_{0.0};
    std::atomic<double> seekFraction_{0.0};
    std::atomic<int64_t> surfaceLocation_{0};
    std::atomic<int64_t> seekLocation_{0};
    std::atomic<bool> underTest_{false};
    std::atomic<int> resets_{0};
};

} // namespace tolvarin
