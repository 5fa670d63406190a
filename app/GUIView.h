#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tolvarin {

// The ten buttons of the main window, by the names the hub uses for them.
enum class GUIButton {
    normalPauseScan,
    normalStartScan,
    normalStopScan,
    cursoryPauseScan,
    cursoryStartScan,
    cursoryStopScan,
    cursoryOptionsButton,
    configureDiagnosticsButton,
    startDiagnosticsButton,
    stopDiagnosticsButton,
};
constexpr int kGUIButtonCount = 10;

// The stall spinners, one per pane.
enum class GUISpinner { normal, cursory, diagnostics };

// What the hub asks of a face (the Qt main window, the terminal). The hub
// never draws; a face never decides.
class GUIView {
  public:
    virtual ~GUIView() = default;

    virtual void setButtonEnabled(GUIButton button, bool enabled) = 0;
    // The progress fields changed (after "UpdateTestStatusWindow", or cleared
    // by zeroResults); the face reads them from the hub. May be called from a
    // worker thread: a face with a main thread hops there and waits.
    virtual void testStatsChanged() = 0;
    // May be called from a stall-spinner watcher thread.
    virtual void setSpinnerAnimating(GUISpinner spinner, bool animating) = 0;

    // The save panel for the log file: answers the chosen path, or nullopt
    // when the user cancelled.
    virtual std::optional<std::string> askLogFileName(const std::string& directory,
                                                      const std::string& proposedName) = 0;

    // A short modal notice while a service is switched (the progress sheet).
    virtual void startPullDownSheetWithMessage(const std::string& message) = 0;
    virtual void endPullDownSheet() = 0;

    // Work for the main thread is waiting in the hub: a face with an event
    // loop calls GUIController::runMainThreadWork() from it soon. May be
    // called from any thread; must not block.
    virtual void wakeMainThread() {}

    // The six caption/value pairs describing the selected unit.
    virtual void showUnitInfo(const std::vector<std::pair<std::string, std::string>>& /*info*/) {}
    // The unit-under-test fields of the panes: its name and identifier.
    virtual void showUnitUnderTest(const std::string& /*name*/, const std::string& /*identifier*/) {
    }
    // The diagnostics pane's fields changed (GUIController::diagnostics()
    // .pane()); called on the main thread.
    virtual void diagnosticsStatsChanged() {}
    // The diagnostics thread finished a run; called on that thread.
    virtual void diagnosticsEnded() {}
    // The scan thread finished a test (ended, stopped or refused on the
    // thread); called on that thread after the post-test reset.
    virtual void testEnded() {}
};

} // namespace tolvarin
