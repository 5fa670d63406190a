#pragma once

#include "diagnostics/DiagResults.h"
#include "diagnostics/DiagnosticsHistory.h"
#include "diagnostics/DiagnosticsHost.h"
#include "diagnostics/DiagnosticsOptions.h"
#include "diagnostics/PossibleTimeouts.h"
#include "diagnostics/Verdicts.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tolvarin {

class TimedReread;

// The unit a run works on.
struct DiagnosticsUnit {
    std::string rawDevice; // where the findings are re-read
    bool primaryDisk = true;
    std::string volumeIdentifier;
    std::string volumeName;
};

// One re-tested finding and what its re-reads showed.
struct ReevaluatedFinding {
    DiagResults finding;
    Verdict verdict = Verdict::notTested;
    int passesRead = 0;                   // re-reads that read (a failed one ends the finding)
    Verdicts::Times times;                // of those re-reads
    std::vector<double> possibleTimeouts; // measured times inside a timeout cluster
};

// How a run ended and what it found.
struct DiagnosticsOutcome {
    enum class End {
        notStarted,
        completed,          // message 31
        stopped,            // message 32
        noFindings,         // message 28
        findingsDeclined,   // message 27, Terminate
        noReferenceSector,  // message 29
        volumeNotWritable,  // message 30
        memoryNotAllocated, // the allocation failure text
        failed,             // an unexpected error ended the thread
    };
    End end = End::notStarted;
    DiagnosticsCounters counters;
    std::vector<ReevaluatedFinding> findings;
    std::vector<double> possibleTimeouts;
    int64_t referenceOffset = 0;
    int interfaceIterationsRun = 0;
    int memoryPassesRun = 0;
    uint64_t memoryBytesTested = 0;
    // Why the run ended early, in words; empty otherwise.
    std::string problem;

    bool ranToItsEnd() const { return end == End::completed || end == End::noFindings; }
    // A bad block, an interface error, a memory error or a seek error.
    bool foundProblems() const {
        return counters.badBlocks > 0 || counters.interfaceErrors > 0 ||
               counters.memoryErrors > 0 || counters.seekErrors > 0;
    }
};

const char* endName(DiagnosticsOutcome::End end);

// doDiagnosticsTests: one diagnostics run, on its own thread. In this fixed
// order it builds the list of findings to re-test from the history, looks
// for timeout clusters among them, writes the plan, obtains a reference
// sector, re-evaluates the irregularities and then the errors, runs the
// interface test and the memory and system bus test, and reports the end.
// Everything it finds goes to the run's log; the pane is fed through the
// host. It stops at each stop check once the host's flag is cleared.
class DiagnosticsRun {
  public:
    static constexpr int kNoFindingsMessage = 28;
    static constexpr int kNoFindingsOtherTestsMessage = 27;
    static constexpr int kNoReferenceSectorMessage = 29;
    static constexpr int kVolumeNotWritableMessage = 30;
    static constexpr int kCompletedMessage = 31;
    static constexpr int kStoppedMessage = 32;
    static constexpr int kReadsPerInterfaceIteration = 20;
    static constexpr int64_t kIrregularityPassPauseMicros = 250000;
    static constexpr double kAbnormalTransferSeconds = 5.0;

    DiagnosticsRun(DiagnosticsHost& host, const DiagnosticsOptions& options,
                   std::vector<DiagnosticsHistory::ScanSet> diagnosticsData, DiagnosticsUnit unit,
                   std::string logFile);
    ~DiagnosticsRun();
    DiagnosticsRun(const DiagnosticsRun&) = delete;
    DiagnosticsRun& operator=(const DiagnosticsRun&) = delete;

    // The thread body.
    void doDiagnosticsTests();

    // The findings list a history gives: the chosen scan sets' records in
    // order, each location kept once per class (the first occurrence).
    static std::vector<DiagResults>
    findingsList(const std::vector<DiagnosticsHistory::ScanSet>& diagnosticsData,
                 bool historicalAnalysis);

    // A copy, safe while the run goes on.
    DiagnosticsOutcome outcome() const;

  private:
    enum class Flow { goOn, ended };

    Flow buildFindings();
    void writePlan();
    Flow obtainReference();
    Flow irregularityPhase();
    Flow errorPhase();
    Flow interfacePhase();
    Flow memoryPhase();
    void completeRun();

    // diagnosticsStoppedByUser: false while the run may go on; otherwise
    // writes the stop record, turns the services on, shows message 32 and
    // answers true.
    bool diagnosticsStoppedByUser();
    void diagnosticsStopped();
    // An early end: the buttons, the services, the state.
    void endEarly(DiagnosticsOutcome::End end, const std::string& problem);

    void show();
    void step(double currentStep);
    void setCurrentTest(const std::string& text);
    void log(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void noteFinding(std::size_t index, const ReevaluatedFinding& result);
    // One re-read's result taken into the finding: false (the verdict set)
    // when it failed and ends the finding.
    static bool takeReread(ReevaluatedFinding& result, double seconds, Verdict onFailedRead);
    // The counters, the finding's record and the bars after a verdict.
    void countVerdict(std::size_t index, const ReevaluatedFinding& result, double currentStep);
    void setEnd(DiagnosticsOutcome::End end, const std::string& problem = std::string());

    DiagnosticsHost& host_;
    const DiagnosticsOptions options_;
    const std::vector<DiagnosticsHistory::ScanSet> diagnosticsData_;
    const DiagnosticsUnit unit_;
    const std::string logFile_;

    std::vector<DiagResults> findings_;
    bool surfaceErrorsPresent_ = false;
    bool surfaceIrregularitiesPresent_ = false;
    bool seekRecordsPresent_ = false;
    int errorCount_ = 0;
    int irregularityCount_ = 0;
    PossibleTimeouts timeouts_;
    int64_t referenceOffset_ = 0;
    double overallStep_ = 0;
    DiagnosticsProgress progress_;
    std::unique_ptr<TimedReread> reread_;

    mutable std::mutex outcomeMutex_;
    DiagnosticsOutcome outcome_;
};

} // namespace tolvarin
