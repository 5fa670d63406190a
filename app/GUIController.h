#pragma once

#include "app/ButtonPanel.h"
#include "app/CursoryOptions.h"
#include "app/DiagnosticsControl.h"
#include "app/GUIView.h"
#include "app/MainThreadQueue.h"
#include "app/Preferences.h"
#include "app/ProgressBoard.h"
#include "app/ServiceGuard.h"
#include "app/UnitHistory.h"
#include "app/UnitSelection.h"
#include "base/Media.h"
#include "base/TestResults.h"
#include "engine/ScanController.h"
#include "platform/Env.h"

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tolvarin {

class AlertAnswerer;
class DriveProcessor;
class Env;
class Quarrykit;
class RawDevice;
class ReportWriter;
class SystemServices;
class TestControl;

// The hub of the application and the one thing the faces call: it holds
// the selection, the scan mode and options, the settings, the progress the
// scan engine reports and the button states, and runs the operations behind
// the buttons. It never draws: a face (the Qt main window, the terminal)
// implements GUIView and reads the hub when told it changed. Its concerns
// live in parts: the unit selection, the cursory options, the test control
// (start, pause, stop, preparation, the record of the test), the progress
// board (progress and stall spinners, the engine's ScanHost), the service
// guard and the buttons.
//
// Threads: the buttons and selection run on the face's main thread (the
// thread that built the hub); the scan thread sets progress, reads options
// and resets the buttons; each stall spinner has its own watcher thread.
// The main thread never simply joins the scan thread: it waits while doing
// the work the scan thread hands it (performOnMainThreadAndWait).
class GUIController : private ProgressBoard::Owner {
  public:
    using CursoryChoice = CursoryOptions::Choice;

    // The face, the surroundings (clock, tools, exit) and the system
    // services; without services those of this system are used. The
    // preferences come from the user's settings file unless given.
    explicit GUIController(GUIView& view, Env& env = Env::standard(),
                           std::unique_ptr<SystemServices> services = nullptr);
    GUIController(GUIView& view, const Preferences& preferences, Env& env = Env::standard(),
                  std::unique_ptr<SystemServices> services = nullptr);
    // A test under way is stopped (its questions take their safe answers)
    // and waited for while the main thread keeps doing the work the scan
    // thread hands it; then the watchers end.
    ~GUIController();
    GUIController(const GUIController&) = delete;
    GUIController& operator=(const GUIController&) = delete;

    // The start-up share a test needs: user and home, the logger, all
    // buttons disabled until a unit is selected.
    void awakeFromNib();

    // --- the parts -----------------------------------------------------------
    UnitSelection& selection() { return selection_; }
    const UnitSelection& selection() const { return selection_; }
    CursoryOptions& cursoryOptions() { return cursory_; }
    const CursoryOptions& cursoryOptions() const { return cursory_; }
    ProgressBoard& progress() { return *progress_; }
    DiagnosticsControl& diagnostics() { return *diagnostics_; }
    const DiagnosticsControl& diagnostics() const { return *diagnostics_; }
    const ProgressBoard& progress() const { return *progress_; }
    ServiceGuard& services() { return *services_; }
    ButtonPanel& buttons() { return buttons_; }
    ScanController& scanController() { return *scanController_; }
    Env& env() { return env_; }
    const Env& env() const { return env_; }
    GUIView& view() { return view_; }

    // --- drive table and selection -------------------------------------------
    void setCurrentMediaArray(std::vector<Media> media) {
        selection_.setCurrentMediaArray(std::move(media));
    }
    // tableViewSelectionDidChange: selects a disk or volume of the media
    // array (or one made up for an image file).
    void selectUnit(const Media& media);
    std::string rawTargetDevice() const { return selection_.rawTargetDevice(); }
    std::string fileNamePrefix() const { return selection_.fileNamePrefix(); }

    // --- cursory options -----------------------------------------------------
    void cursoryOptionsButtonSelected();
    // The options window's OK: false (the window stays open) when a check
    // failed; on success the cursory start button is enabled.
    bool confirmCursoryOptions(const CursoryChoice& choice);
    void cursoryOptionsCancelled();

    // --- buttons -------------------------------------------------------------
    // Start answers whether a test is now under way (prepared, or resumed).
    bool normalStartButtonSelected();
    void normalPauseButtonSelected();
    void normalStopButtonSelected();
    bool cursoryStartButtonSelected();
    void cursoryPauseButtonSelected();
    void cursoryStopButtonSelected();
    bool configureDiagnosticsButtonPressed() {
        return diagnostics_->configureDiagnosticsButtonPressed();
    }
    bool startDiagnosticsButtonPressed() { return diagnostics_->startDiagnosticsButtonPressed(); }
    void stopDiagnosticsButtonPressed() { diagnostics_->stopDiagnosticsButtonPressed(); }
    bool diagnosticsRunning() const { return diagnostics_->diagnosticsRunning(); }
    bool buttonEnabled(GUIButton button) const { return buttons_.enabled(button); }
    std::array<bool, kGUIButtonCount> buttonStates() const { return buttons_.states(); }

    // --- the test ------------------------------------------------------------
    bool underTest() const { return progress_->underTest(); }
    // Whether a scan thread is still running (a stopped test may still ask
    // its stop question).
    bool testRunning() const;
    // Why the last start did not begin a test; empty when it did.
    std::string startProblem() const;
    // Waits until the scan thread of the last test (and the thread of the
    // last diagnostics run) has ended, doing the work it hands to this (the
    // main) thread meanwhile.
    void waitForTestEnd();
    // The results of the last test as they stand.
    TestResults testResults() const;
    // The log of the last test.
    std::string logFile() const;

    // --- measurements and pictures ---------------------------------------------
    // The stored history of the selected unit, oldest test first.
    UnitHistory unitHistory() const;
    // The four indices of the selected unit over its stored tests, for a
    // face's trend chart.
    TrendPicture unitTrend() const;
    // The surface map of the last test as a PNG file at path; false, with
    // the reason in why, when the test measured no map or the pictures are
    // unavailable.
    bool writeSurfaceMapPicture(const std::string& path, std::string* why) const;

    // --- settings and services -----------------------------------------------
    bool normalScan() const { return normalScan_.load(); }
    void setNormalScan(bool value) { normalScan_.store(value); }
    int errorLimit() const { return errorLimit_.load(); }
    void setErrorLimit(int value) { errorLimit_.store(value); }
    bool probeInto() const { return probeInto_.load(); }
    void setProbeInto(bool value) { probeInto_.store(value); }
    void updatePreferences(const std::map<std::string, int>& values);
    void disableSystemItems();
    void enableSystemItems();

    // --- main thread and the end of the program --------------------------------
    // Who answers the numbered messages: the face's dialogs or terminal;
    // nullptr takes each message's safe answer.
    void setAnswerer(std::shared_ptr<AlertAnswerer> answerer);
    // Runs work on the main thread and waits (at once when called there).
    void performOnMainThreadAndWait(const std::function<void()>& work);
    // The face's event loop calls this when woken (GUIView::wakeMainThread).
    void runMainThreadWork() { mainThread_.runPending(); }
    // The hub is being taken down: a face answers questions without asking.
    bool closing() const { return closing_.load(); }
    // Ends the program with status: the services back on first. When the
    // surroundings' exit returns (tests), the caller leaves what it does.
    void endProgram(int status);

    // --- collaborators, replaceable by tests -------------------------------------
    using DeviceOpener = ScanController::DeviceOpener;
    void setDeviceOpener(DeviceOpener opener);
    // The file utility component of the normal test (loaded from the
    // resources folder when the first normal test starts).
    void setQuarrykit(std::shared_ptr<Quarrykit> quarrykit);
    std::shared_ptr<Quarrykit> quarrykit() const;
    // The catalogue made at the last normal start.
    std::shared_ptr<DriveProcessor> driveProcessor() const;
    void setDriveProcessor(std::shared_ptr<DriveProcessor> drives);
    // What writes the report of a normal test.
    ReportWriter& reportWriter() { return *reportWriter_; }

    // --- the user ------------------------------------------------------------
    std::string userName() const;
    std::string userHomeDir() const;
    std::string CUserID() const;
    std::string CGroupID() const;
    uid_t uid() const { return uid_; }
    gid_t gid() const { return gid_; }

  private:
    friend class TestControl;
    friend class DiagnosticsControl;

    // A normal or cursory start while a diagnostics run is under way: message
    // 22 and no start.
    bool refuseWhileDiagnosticsRun();

    // ProgressBoard::Owner
    ScanOptions scanOptions() const override;
    void resetButtons() override;
    void resumeTest(bool normal) override;
    void enableSystemItemsFromScanController() override;

    GUIView& view_;
    Env& env_;
    MainThreadQueue mainThread_;
    std::unique_ptr<SystemServices> systemServices_;
    std::unique_ptr<ServiceGuard> services_;
    ButtonPanel buttons_;
    UnitSelection selection_;
    CursoryOptions cursory_;
    std::unique_ptr<ProgressBoard> progress_;
    std::unique_ptr<ReportWriter> reportWriter_;
    std::vector<NotificationCenter::Token> observers_;

    std::atomic<bool> normalScan_{true};
    std::atomic<int> errorLimit_{10};
    std::atomic<bool> probeInto_{false};
    std::atomic<bool> closing_{false};

    mutable std::mutex userMutex_;
    std::string userName_;
    std::string userHomeDir_;
    std::string OSString_;
    std::string CUserID_;
    std::string CGroupID_;
    uid_t uid_ = 0;
    gid_t gid_ = 0;

    mutable std::mutex collaboratorsMutex_;
    std::shared_ptr<Quarrykit> quarrykit_;
    std::shared_ptr<DriveProcessor> driveProcessor_;

    std::unique_ptr<ScanController> scanController_;
    std::unique_ptr<TestControl> control_;
    std::unique_ptr<DiagnosticsControl> diagnostics_;
};

} // namespace tolvarin
