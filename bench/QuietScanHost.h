#pragma once

#include "base/NotificationCenter.h"
#include "engine/ScanHost.h"
#include "platform/Env.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace tolvarin {

// The owner of a benchmarked scan: keeps what the engine hands it the way the
// hub does (progress behind a lock, spinner locations in atomics), runs no
// spinner threads and draws nothing, so that a measured scan pays for the
// engine's own work and the hub's bookkeeping, not for a face. Options: a
// cursory scan of the whole unit, no probing, no repair.
class QuietScanHost : public ScanHost {
  public:
    Env& env() override { return Env::standard(); }
    NotificationCenter& note() override { return note_; }
    void showProgress(const ScanProgress& progress) override {
        std::lock_guard<std::mutex> lock(mutex_);
        progress_ = progress;
    }
    ScanOptions scanOptions() const override {
        ScanOptions o;
        o.normalScan = false;
        return o;
    }
    void setUnderTest(bool value) override { underTest_.store(value); }
    void resetButtons() override { resets_.fetch_add(1); }
    void resumeTest(bool /*normal*/) override {}
    void spinner(SpinnerPane /*pane*/, SpinnerScan scan, SpinnerAction action,
                 int64_t location) override {
        if (action == SpinnerAction::locate) {
            (scan == SpinnerScan::surface ? surfaceLocation_ : seekLocation_)
                .store(location, std::memory_order_relaxed);
        }
    }
    void enableSystemItemsFromScanController() override {}
    void endProgram(int /*status*/) override {}

  private:
    NotificationCenter note_;
    std::mutex mutex_;
    ScanProgress progress_;
    std::atomic<int64_t> surfaceLocation_{0};
    std::atomic<int64_t> seekLocation_{0};
    std::atomic<bool> underTest_{false};
    std::atomic<int> resets_{0};
};

} // namespace tolvarin
