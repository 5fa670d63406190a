#pragma once

#include "app/ButtonTable.h"
#include "app/GUIView.h"
#include "base/Media.h"
#include "app/Preferences.h"
#include "app/StallSpinner.h"
#include "base/NotificationCenter.h"
#include "engine/ScanHost.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace tolvarin {

class DriveProcessor;
class Quarrykit;
class RawDevice;
class ScanController;

// The hub of the application: holds the selection, the scan mode flags, the
// cursory options, the settings, the progress the scan engine reports and
// the button states, and runs the operations behind the buttons (start,
// pause, stop, the service switches around a test). It never draws: a face
// (the Qt main window, the terminal) implements GUIView and reads the
// hub's fields when told they changed.
//
// Threads: the buttons and selection run on the face's main thread; the scan
// thread sets progress, reads options and resets the buttons; each stall
// spinner has its own watcher thread. Flags are atomic, texts sit behind a
// lock and are handed out as copies.
class GUIController : public ScanHost {
  public:
    // What the cursory options window (or the terminal's options) chose.
    struct CursoryChoice {
        bool surface = true;
        bool seek = true;
        bool repair = false;
        bool limit = false;
        int startGB = 0; // whole gigabytes of 1,000,000,000 bytes
        int endGB = 1;
    };

    // How a test went, gathered while it ran; a face reports it at the end.
    struct TestSummary {
        struct Section {
            int index = 0;
            int64_t start = 0;
            int64_t end = 0;
            int errors = 0;
            int irregularities = 0;
        };
        bool started = false; // prepared and handed to the scan thread
        bool ended = false;   // the scan thread finished its test
        bool stopped = false; // ended by a stop (the user's or the error limit's)
        bool normal = false;
        int sizingResult = 0;
        int sizingErrors = 0;
        int64_t detectedSize = 0;
        int sectionCount = 0;
        int surfaceErrors = 0;
        int surfaceIrregularities = 0;
        int seekErrors = 0;
        int seekIrregularities = 0;
        int totalErrors = 0;
        int totalIrregularities = 0;
        bool surfaceCompleted = false;
        bool seekCompleted = false;
        // Present only when the scan that computes them ran to its end.
        std::optional<double> surfaceLinearRPI;
        std::optional<double> surfaceRatioRPI;
        std::optional<double> seekLinearRPI;
        std::optional<double> seekRatioRPI;
        std::vector<Section> failedSections;
        // Engine clock readings (microseconds); 0 when not reached.
        int64_t startMicros = 0;
        int64_t surfaceStartMicros = 0;
        int64_t seekStartMicros = 0;
        int64_t endMicros = 0;
        std::string startStamp;
        std::string endStamp;
        // A normal test that ran every phase, and the report it wrote.
        bool completed = false;
        std::string reportPath;
    };

    // The switches for the services that disturb timed reads; tests replace
    // them. Each takes "ON" or "OFF"; drive sleep also the raw device path.
    struct ServiceSwitches {
        std::function<bool(const std::string&)> spotlight;
        std::function<bool(const std::string&)> timeMachine;
        std::function<bool(const std::string&, const std::string&)> driveSleep;
    };

    static constexpr int64_t kGigabyte = 1000000000;
    // The range granularity of limited scans: 1000 * 2^20 bytes.
    static constexpr int64_t kRangeGranularity = 1048576000;
    // The pause after each service switch.
    static constexpr int64_t kServiceSettleMicros = 1000000;

    // init: the defaults, the preferences from the user's settings file,
    // the scan controller (with the cursory test as its cursory body) and
    // the two notifications observed.
    explicit GUIController(GUIView& view);
    GUIController(GUIView& view, const Preferences& preferences);
    // Waits for a running scan thread, then stops the spinner watchers.
    ~GUIController() override;
    GUIController(const GUIController&) = delete;
    GUIController& operator=(const GUIController&) = delete;

    // The start-up share a test needs: user and home, the logger, all
    // buttons disabled until a unit is selected.
    void awakeFromNib();

    // --- drive table and selection -----------------------------------------
    void setCurrentMediaArray(std::vector<Media> media);
    std::vector<Media> currentMediaArray() const;
    // tableViewSelectionDidChange: selects a disk or volume of the media
    // array (or one made up for an image file).
    void selectUnit(const Media& media);
    // The target drive description of a unit among media.
    static std::vector<std::string> targetDriveInfoFor(const Media& unit,
                                                       const std::vector<Media>& media);
    // The row title of a record: "Primary Drive ID" or the volume name.
    static std::string rowTitleFor(const Media& media);
    // The size text ("500.1 GB") read with decimal multipliers; other texts
    // leave targetSize as it is.
    void setTargetSize(const std::string& sizeText);
    // The size a size text gives, if its unit is known.
    static std::optional<int64_t> sizeFromText(const std::string& sizeText);

    // --- cursory options ---------------------------------------------------
    // cursoryOptionsButtonSelected: the options window opens.
    void cursoryOptionsButtonSelected();
    // The checks of the options window's OK: each failing one raises its
    // message and answers false (the window stays open). On success the
    // choice is the hub's and the cursory start button is enabled.
    bool confirmCursoryOptions(const CursoryChoice& choice);
    void cursoryOptionsCancelled();
    void printCursoryOptionsSettings() const;

    // --- buttons ---------------------------------------------------------
    // Start answers whether a test is now under way (prepared, or resumed).
    bool normalStartButtonSelected();
    void normalPauseButtonSelected();
    void normalStopButtonSelected();
    bool cursoryStartButtonSelected();
    void cursoryPauseButtonSelected();
    void cursoryStopButtonSelected();

    bool startInitialScan();
    bool saveLogFileDialog();
    // The unit's file prefix: the first of the drive processor's current
    // data files whose header the target drive description matches; empty
    // when none does.
    void setFileNamePrefix();
    void zeroResults();
    void disableSystemItems();
    void enableSystemItems();
    void updatePreferences(const std::map<std::string, int>& values);

    // Why the last start did not begin a test (for a face to show); empty
    // when it did.
    std::string startProblem() const;
    // Waits until the scan thread of the last test has ended.
    void waitForTestEnd();
    TestSummary testSummary() const;

    bool buttonEnabled(GUIButton button) const;
    std::array<bool, kGUIButtonCount> buttonStates() const;

    ScanController& scanController() { return *scanController_; }
    void setServiceSwitches(ServiceSwitches switches);
    // Opens the unit of a test (forWriting when repair is chosen). Without
    // one the sizing sweep opens the raw device path itself; tests install
    // simulated devices here. An opener answering nullptr fails the open.
    using DeviceOpener =
        std::function<std::unique_ptr<RawDevice>(const std::string& path, bool forWriting)>;
    void setDeviceOpener(DeviceOpener opener);
    // The file utility component of the normal test (loaded from the
    // resources folder when the first normal test starts); tests install
    // their own.
    void setQuarrykit(std::shared_ptr<Quarrykit> quarrykit);
    // The catalogue made at the last normal start.
    std::shared_ptr<DriveProcessor> driveProcessor() const;

    // --- ScanHost ------------------------------------------------------------
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
    bool normalScan() const override { return normalScan_.load(); }
    bool probeInto() const override { return probeInto_.load(); }
    bool attemptToRepairBadSectors() const override { return attemptToRepairBadSectors_.load(); }
    void startNormalSurfaceScanSpinnerThread() override;
    void stopNormalSurfaceScanSpinnerThread() override;
    void setNormalSurfaceScanSpinnerLocation(int64_t location) override;
    void startCursorySurfaceScanSpinnerThread() override;
    void stopCursorySurfaceScanSpinnerThread() override;
    void setCursorySurfaceScanSpinnerLocation(int64_t location) override;
    void resumeFormalTest() override;
    void resumeCursoryTest() override;
    void enableSystemItemsFromScanController() override;
    bool doSurfaceScan() const override { return doSurfaceScan_.load(); }
    bool doSeekScan() const override { return doSeekScan_.load(); }
    bool cursoryLimitedScanSelected() const override { return cursoryLimitedScanSelected_.load(); }
    int limitedCursoryScanStartByte() const override { return limitedCursoryScanStartByte_.load(); }
    int limitedCursoryScanEndByte() const override { return limitedCursoryScanEndByte_.load(); }
    void setUnderTest(bool value) override { underTest_.store(value); }
    void startNormalSeekScanSpinnerThread() override;
    void stopNormalSeekScanSpinnerThread() override;
    void setNormalSeekScanSpinnerLocation(int64_t location) override;
    void startCursorySeekScanSpinnerThread() override;
    void stopCursorySeekScanSpinnerThread() override;
    void setCursorySeekScanSpinnerLocation(int64_t location) override;

    // Diagnostics spinners (the diagnostics run reaches them later).
    void startDiagnosticsSurfaceScanSpinnerThread();
    void stopDiagnosticsSurfaceScanSpinnerThread();
    void setDiagnosticsSurfaceScanSpinnerLocation(int64_t location);
    void startDiagnosticsSeekScanSpinnerThread();
    void stopDiagnosticsSeekScanSpinnerThread();
    void setDiagnosticsSeekScanSpinnerLocation(int64_t location);

    // The six spinners, for faces and tests.
    enum class Spinner {
        normalSurface,
        normalSeek,
        cursorySurface,
        cursorySeek,
        diagnosticsSurface,
        diagnosticsSeek
    };
    int64_t spinnerLocation(Spinner spinner) const;
    bool spinnerActive(Spinner spinner) const;

    // --- fields --------------------------------------------------------------
    bool underTest() const { return underTest_.load(); }
    void setNormalScan(bool value) { normalScan_.store(value); }
    void setDoSurfaceScan(bool value) { doSurfaceScan_.store(value); }
    void setDoSeekScan(bool value) { doSeekScan_.store(value); }
    void setAttemptToRepairBadSectors(bool value) { attemptToRepairBadSectors_.store(value); }
    void setCursoryLimitedScanSelected(bool value) { cursoryLimitedScanSelected_.store(value); }
    void setLimitedCursoryScanStartByte(int value) { limitedCursoryScanStartByte_.store(value); }
    void setLimitedCursoryScanEndByte(int value) { limitedCursoryScanEndByte_.store(value); }
    bool cursoryOptionsSelected() const { return cursoryOptionsSelected_.load(); }
    bool usingUSB() const { return usingUSB_.load(); }

    int errorLimit() const { return errorLimit_.load(); }
    void setErrorLimit(int value) { errorLimit_.store(value); }
    void setProbeInto(bool value) { probeInto_.store(value); }
    bool unloadMDS() const { return unloadMDS_.load(); }
    bool disableTM() const { return disableTM_.load(); }
    bool disableDriveSleep() const { return disableDriveSleep_.load(); }
    bool systemItemsLoaded() const { return systemItemsLoaded_.load(); }

    int64_t targetSize() const { return targetSize_.load(); }
    std::string rawTargetDevice() const;
    std::vector<std::string> targetDriveInfo() const;
    std::string fileNamePrefix() const;
    std::string selectedItem() const;
    // data: the selected record.
    Media data() const;

    std::string userName() const;
    std::string userHomeDir() const;
    std::string CUserID() const;
    std::string CGroupID() const;
    uid_t uid() const { return uid_; }
    gid_t gid() const { return gid_; }

    std::string deviceBeingTestedString() const;
    std::string typeOfTestString() const;
    std::string currentTestRangeString() const;
    std::string totalSurfaceScanErrorsString() const;
    std::string totalSurfaceScanIrregularitiesString() const;
    std::string totalSeekScanErrorString() const;
    std::string totalSeekScanIrregularitiesString() const;
    std::string totalErrorsString() const;
    std::string totalIrregularitiesString() const;
    double surfacePercentage() const { return surfacePercentage_.load(); }
    double seekPercentage() const { return seekPercentage_.load(); }

    // Diagnostics settings, kept for the diagnostics run.
    int interfaceTestIterations() const { return interfaceTestIterations_.load(); }
    int memoryTestIterations() const { return memoryTestIterations_.load(); }
    bool diagnosticsRunning() const { return diagnosticsRunning_.load(); }

  private:
    bool startButtonSelected(bool normal);
    void pauseButtonSelected(bool normal);
    void applyButtons(ButtonTable::Event event);
    void setProblem(const std::string& text);
    bool refuseStart(const std::string& problem);
    // False (with the reason) while a stopped test's thread has not ended.
    bool refuseWhileATestEnds();
    // The cursory share of the preparation of a unit: the device context,
    // the log of the test and the sizing sweep.
    bool initializeCursoryScanOnDrive();
    void runCursoryTest(ScanController& controller);
    // The normal share (GUIControllerNormalStart.cpp): the drive processor,
    // the file prefix and the scan controller's initializeScanOnDrive.
    bool initializeNormalScanOnDrive();
    void runNormalTest(ScanController& controller);
    // The end of a test in the summary: the counts the last progress update
    // showed, the time, and what outcome adds; then the face is told.
    void recordTestEnd(const std::function<void(TestSummary&)>& outcome);
    void takeDiskSnapshot();
    void switchServices(const std::string& onOrOff);
    void setText(std::string GUIController::*field, const std::string& text);
    std::string text(std::string GUIController::*field) const;
    StallSpinner& spinner(Spinner which);
    const StallSpinner& spinner(Spinner which) const;

    GUIView& view_;
    NotificationCenter note_;
    std::vector<NotificationCenter::Token> observers_;
    // One service switch sequence at a time (main and scan thread may both
    // turn the services back on).
    std::mutex serviceMutex_;
    ServiceSwitches switches_;
    DeviceOpener deviceOpener_;
    std::shared_ptr<Quarrykit> quarrykit_;
    std::shared_ptr<DriveProcessor> driveProcessor_; // under textMutex_
    // The device drive sleep was turned off for; it is turned back on for the
    // same one even if the selection changed meanwhile.
    std::string driveSleepDevice_;

    // Settings, from the preferences.
    std::atomic<int> errorLimit_{10};
    std::atomic<bool> probeInto_{false};
    std::atomic<bool> unloadMDS_{true};
    std::atomic<bool> disableTM_{false};
    std::atomic<bool> disableDriveSleep_{false};
    std::atomic<bool> systemItemsLoaded_{true};

    // Scan mode.
    std::atomic<bool> normalScan_{true};
    std::atomic<bool> underTest_{false};
    std::atomic<bool> doSurfaceScan_{true};
    std::atomic<bool> doSeekScan_{true};
    std::atomic<bool> cursoryOptionsSelected_{false};
    std::atomic<bool> attemptToRepairBadSectors_{false};
    std::atomic<bool> cursoryLimitedScanSelected_{false};
    std::atomic<int> limitedCursoryScanStartByte_{0};
    std::atomic<int> limitedCursoryScanEndByte_{1};
    std::atomic<bool> usingUSB_{false};

    // Diagnostics.
    std::atomic<int> interfaceTestIterations_{10};
    std::atomic<int> memoryTestIterations_{10};
    std::atomic<bool> diagnosticsRunning_{false};

    // Target, user and progress texts.
    mutable std::mutex textMutex_;
    std::vector<Media> currentMediaArray_;
    Media data_;
    std::string selectedItem_;
    std::string rawTargetDevice_;
    std::vector<std::string> targetDriveInfo_;
    std::string fileNamePrefix_;
    std::string userName_;
    std::string fullUserName_;
    std::string userHomeDir_;
    std::string OSString_;
    std::string CUserID_;
    std::string CGroupID_;
    std::string deviceBeingTestedString_;
    std::string typeOfTestString_;
    std::string currentTestRangeString_;
    std::string totalSurfaceScanErrorsString_;
    std::string totalSurfaceScanIrregularitiesString_;
    std::string totalSeekScanErrorString_;
    std::string totalSeekScanIrregularitiesString_;
    std::string totalErrorsString_;
    std::string totalIrregularitiesString_;
    std::string startProblem_;
    std::atomic<int64_t> targetSize_{0};
    std::atomic<double> surfacePercentage_{0.0};
    std::atomic<double> seekPercentage_{0.0};
    uid_t uid_ = 0;
    gid_t gid_ = 0;

    mutable std::mutex buttonMutex_;
    std::array<bool, kGUIButtonCount> buttons_{};

    mutable std::mutex summaryMutex_;
    TestSummary summary_;
    std::atomic<std::thread::id> scanThreadId_{};

    std::array<std::unique_ptr<StallSpinner>, 6> spinners_;
    std::unique_ptr<ScanController> scanController_;
};

} // namespace tolvarin
