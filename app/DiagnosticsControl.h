#pragma once

#include "diagnostics/DiagnosticsHistory.h"
#include "diagnostics/DiagnosticsHost.h"
#include "diagnostics/DiagnosticsOptions.h"
#include "diagnostics/DiagnosticsRun.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace tolvarin {

class GUIController;
class MemorySource;
class RawDevice;

// What the diagnostics pane shows, as the hub last handed it to the face:
// the current step, the two bars (percent) and the six counters as text.
struct DiagnosticsPaneValues {
    std::string currentDiagnosticsTest = "None";
    double diagnosticsCurrentProgress = 0;
    double diagnosticsOverallProgress = 0;
    std::string diagnosticsWeakBlockCount = "0";
    std::string diagnosticsBadBlockCount = "0";
    std::string diagnosticsProbableSystemFaults = "0";
    std::string diagnosticsMemoryErrors = "0";
    std::string diagnosticsInterfaceErrors = "0";
    std::string diagnosticsSeekErrors = "0";

    bool operator==(const DiagnosticsPaneValues&) const = default;
};

// The hub's share of diagnostics: the options (kept for the life of the
// program, never stored), the three diagnostics buttons and the options
// window's confirmation, the first half of a run (checks, log, history) on
// the main thread, and the run's thread, which reaches the hub only through
// this object's DiagnosticsHost side. One run at a time.
class DiagnosticsControl : public DiagnosticsHost {
  public:
    // The history lines refused by the reader that the log names one by one.
    static constexpr std::size_t kRefusalsLogged = 20;
    static constexpr int kTestUnderwayMessage = 20;
    static constexpr int kDiagnosticsRunningMessage = 22;
    static constexpr int kPrimaryDiskInterfaceMessage = 23;
    static constexpr int kNothingSelectedMessage = 24;
    static constexpr int kNoHistoryOtherTestsMessage = 25;
    static constexpr int kNoHistoryMessage = 26;

    explicit DiagnosticsControl(GUIController& hub);
    // Stops a run under way; the hub waits for its thread before this goes.
    ~DiagnosticsControl() override;
    DiagnosticsControl(const DiagnosticsControl&) = delete;
    DiagnosticsControl& operator=(const DiagnosticsControl&) = delete;

    // --- the options -----------------------------------------------------------
    DiagnosticsOptions options() const;
    void setOptions(const DiagnosticsOptions& options);
    bool analyzeErrorsAndIrregularities() const { return options().analyzeErrorsAndIrregularities; }
    bool historicalAnalysis() const { return options().historicalAnalysis; }
    bool performInterfaceTests() const { return options().performInterfaceTests; }
    bool performMemoryTests() const { return options().performMemoryTests; }
    int interfaceTestIterations() const { return options().interfaceTestIterations; }
    int memoryTestIterations() const { return options().memoryTestIterations; }
    void setAnalyzeErrorsAndIrregularities(bool value);
    void setHistoricalAnalysis(bool value);
    void setPerformInterfaceTests(bool value);
    void setPerformMemoryTests(bool value);
    void setInterfaceTestIterations(int value);
    void setMemoryTestIterations(int value);
    // printDiagnosticsSettings: the six options on the system console.
    void printDiagnosticsSettings() const;

    // --- the buttons and the options window -----------------------------------
    // configureDiagnosticsButtonPressed: false (after message 20) while a
    // test is under way; otherwise the window may open (the button is
    // disabled while it is).
    bool configureDiagnosticsButtonPressed();
    // The window's OK: false, applying nothing, when an iteration count is
    // above the largest allowed (the window shows it cut and stays open).
    bool confirmDiagnosticsOptions(const DiagnosticsOptions& choice);
    void diagnosticsOptionsCancelled();
    // Starts a run; answers whether one is now under way.
    bool startDiagnosticsButtonPressed();
    void stopDiagnosticsButtonPressed();
    // The hub is going away: a run under way stops at its next check.
    void stopForQuit();

    // --- the run -----------------------------------------------------------------
    // startDiagnosticsScan: the first half, on the main thread.
    bool startDiagnosticsScan();
    bool diagnosticsRunning() const override { return diagnosticsRunning_.load(); }
    void setDiagnosticsRunning(bool value) override { diagnosticsRunning_.store(value); }
    // Whether the run's thread is still going (it may be asking a question).
    bool threadRunning() const { return threadRunning_.load(); }
    // Collects a thread that has ended (never call while it may wait for the
    // caller).
    void joinThread();
    // Why the last start did not begin a run; empty when it did.
    std::string startProblem() const;
    // What the last run found (notStarted before any, or when refused).
    DiagnosticsOutcome lastOutcome() const;
    // The history the last start loaded.
    DiagnosticsHistory history() const;
    std::string historyFile() const;
    std::string logFile() const;
    // What the face shows.
    DiagnosticsPaneValues pane() const;
    // zeroResults' share: "None", bars at 0, counters "0".
    void zeroResults();

    // --- collaborators, replaceable by tests ------------------------------------
    using DeviceOpener = std::function<std::unique_ptr<RawDevice>(const std::string& path)>;
    void setDeviceOpener(DeviceOpener opener);
    void setMemorySource(std::shared_ptr<MemorySource> source);
    using MountPointFinder = std::function<std::optional<std::string>(std::string* problem)>;
    void setMountPointFinder(MountPointFinder finder);

    // --- DiagnosticsHost ----------------------------------------------------------
    Env& env() override;
    void updateDiagnosticStats(const DiagnosticsProgress& progress) override;
    void setUnderTest(bool value) override;
    void resetButtons() override;
    void enableSystemItemsFromDiagnosticsThread() override;
    void spinner(SpinnerAction action, int64_t location = 0) override;
    std::mutex& timedReadLock() override { return timedReadLock_; }
    std::unique_ptr<RawDevice> openDevice(const std::string& path) override;
    MemorySource& memorySource() override;
    std::optional<std::string> volumeMountPoint(std::string* problem) override;

  private:
    // processDiagnosticStats: on the main thread, the fields into the pane.
    void processDiagnosticStats();
    bool refuse(const std::string& problem);
    bool saveLogFileDialog();
    // The unit's file prefix from the data directory's catalogue; nullopt
    // when the catalogue cannot be used.
    std::optional<std::string> matchUnitFiles(std::string* dataDirectory);
    bool loadHistory(const std::string& path);
    bool startThread(const DiagnosticsOptions& options);

    GUIController& hub_;
    std::atomic<bool> diagnosticsRunning_{false};
    std::atomic<bool> threadRunning_{false};
    std::mutex timedReadLock_;

    mutable std::mutex mutex_;
    DiagnosticsOptions options_;
    DiagnosticsPaneValues fields_; // what the run last reported
    DiagnosticsPaneValues pane_;   // what the face was told to show
    DiagnosticsHistory history_;
    std::string historyFile_;
    std::string logFile_;
    std::string startProblem_;
    DeviceOpener opener_;
    std::shared_ptr<MemorySource> memorySource_;
    MountPointFinder mountPointFinder_;
    std::shared_ptr<DiagnosticsRun> run_;

    std::mutex threadMutex_;
    std::thread thread_;
};

} // namespace tolvarin
