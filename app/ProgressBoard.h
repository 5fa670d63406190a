#pragma once

#include "app/GUIView.h"
#include "app/StallSpinner.h"
#include "base/NotificationCenter.h"
#include "base/PictureData.h"
#include "engine/ScanHost.h"

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>

namespace tolvarin {

class LiveSurfaceMap;

// The progress of the test under way as the scan engine reports it, and the
// six stall spinners; the hub's side of the engine's ScanHost. What is not
// progress (options, buttons, services, the end of the program) it passes
// to its owner.
class ProgressBoard : public ScanHost {
  public:
    class Owner {
      public:
        virtual ScanOptions scanOptions() const = 0;
        virtual void resetButtons() = 0;
        virtual void resumeTest(bool normal) = 0;
        virtual void enableSystemItemsFromScanController() = 0;
        virtual void endProgram(int status) = 0;

      protected:
        ~Owner() = default;
    };

    ProgressBoard(GUIView& view, Env& env, Owner& owner);
    ~ProgressBoard() override;

    // --- ScanHost ------------------------------------------------------------
    Env& env() override { return env_; }
    NotificationCenter& note() override { return note_; }
    void showProgress(const ScanProgress& progress) override;
    ScanOptions scanOptions() const override { return owner_.scanOptions(); }
    void setUnderTest(bool value) override { underTest_.store(value); }
    void resetButtons() override { owner_.resetButtons(); }
    void resumeTest(bool normal) override { owner_.resumeTest(normal); }
    void spinner(SpinnerPane pane, SpinnerScan scan, SpinnerAction action,
                 int64_t location = 0) override;
    void enableSystemItemsFromScanController() override {
        owner_.enableSystemItemsFromScanController();
    }
    void endProgram(int status) override { owner_.endProgram(status); }

    // --- what the faces read -------------------------------------------------
    bool underTest() const { return underTest_.load(); }
    ScanProgress progress() const;
    // Clears the range, counts and bars of the last test and tells the face.
    void zeroResults();
    int64_t spinnerLocation(SpinnerPane pane, SpinnerScan scan) const;
    bool spinnerActive(SpinnerPane pane, SpinnerScan scan) const;
    // Ends every watcher (at the end of the program).
    void stopSpinners();

    // The surface map of the test under way (or of the last one), as the
    // scan thread last published it, with the reading position as it is
    // now; never waits for the scan. A face redraws when the generation
    // changed. Empty before the first surface scan.
    SurfaceMapPicture liveSurfaceMap() const;
    uint64_t liveSurfaceMapGeneration() const;
    // Where the live map comes from (the scan controller's recorder).
    void setLiveSurfaceMap(std::shared_ptr<const LiveSurfaceMap> map);

  private:
    StallSpinner& watcher(SpinnerPane pane, SpinnerScan scan) const;

    GUIView& view_;
    Env& env_;
    Owner& owner_;
    NotificationCenter note_;
    std::atomic<bool> underTest_{false};
    mutable std::mutex mutex_;
    ScanProgress progress_;
    std::array<std::unique_ptr<StallSpinner>, 6> spinners_;
    std::shared_ptr<const LiveSurfaceMap> liveMap_;
};

} // namespace tolvarin
