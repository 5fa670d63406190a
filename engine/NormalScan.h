#pragma once

#include "engine/SeekScan.h"
#include "engine/SurfaceScan.h"
#include "store/DataFileSet.h"

#include <functional>
#include <memory>
#include <string>

namespace tolvarin {

class RawDevice;
class ReportWriter;
class RunJournal;
class ScanController;
class ScanHost;
class Quarrykit;
struct DiskContext;

// The normal test: the test whose results are stored. The first one of a
// unit scans its baseline (".iss", ".isk") and starts the running averages
// (".ssa", ".ska"); every later one scans into the current files (".css",
// ".csk"), folds them into the averages and compares its performance indices
// with the baseline's in the report.
//
// What happens next is decided by the device state, the bit mask of the
// unit's data files: every phase leaves a recognisable set of files, so a
// test stopped with "Save" resumes at the right phase next time (after the
// integrity check and the resume question). A test that ends without a
// decision (killed, power lost) is undone from the backup taken at its start
// (RunJournal), because the states between some of its steps cannot be told
// from others: a surface fold made while the seek scan was lost, or a current
// file that had already become the previous one.
//
// initializeScanOnDrive runs on the main thread before the scan thread
// starts; doFormalScanTest is the scan thread's body.
class NormalScan {
  public:
    // How the last doFormalScanTest ended.
    enum class Outcome {
        NotRun,    // nothing was prepared
        Completed, // every phase ran; report written (or attempted)
        Stopped,   // the user stopped a scan (files saved, rolled back or deleted)
        Refused,   // the integrity check asked for a reset, or a scan refused to run
        Failed,    // a data file could not be written: the test was undone (or the
                   // results' restoreProblem says how the files stand)
        NoPhase,   // the unit's files are in no state the sequence continues from
    };

    // Message numbers the sequence raises.
    static constexpr int kTestCompleteMessage = 8;
    static constexpr int kResumeInitialSurfaceMessage = 15;
    static constexpr int kResumeInitialSeekMessage = 16;
    static constexpr int kResumeSurfaceMessage = 17;
    static constexpr int kResumeSeekMessage = 18;

    // Device states of the sequence; 1536 and 6144 are working values that
    // name the phase to start, not a set of files.
    static constexpr int kHeaderOnly = DataFileSet::State::headerOnly;
    static constexpr int kBaseFiles = DataFileSet::State::baseFiles;
    static constexpr int kInitialSurfaceUnderWay = DataFileSet::State::initialSurfaceUnderWay;
    static constexpr int kInitialSurfaceDone = DataFileSet::State::initialSurfaceDone;
    static constexpr int kInitialSeekUnderWay = DataFileSet::State::initialSeekUnderWay;
    static constexpr int kInitialScansDone = DataFileSet::State::initialScansDone;
    static constexpr int kAtRest = DataFileSet::State::atRest;
    static constexpr int kNewSurfaceScan = DataFileSet::State::newSurfaceScan;
    static constexpr int kSurfaceUnderWay = DataFileSet::State::surfaceUnderWay;
    static constexpr int kNewSeekScan = DataFileSet::State::newSeekScan;
    static constexpr int kSurfaceFolded = DataFileSet::State::surfaceFolded;
    static constexpr int kSeekUnderWay = DataFileSet::State::seekUnderWay;
    static constexpr int kSeekFolded = DataFileSet::State::seekFolded;

    // The 69 bytes every data file starts with.
    static const char* const kDataFileHeader;
    // The line that closes a complete normal test in the log.
    static const char* const kAllTestsCompleteLine;

    NormalScan(ScanController& controller, ScanHost& host);
    ~NormalScan();
    NormalScan(const NormalScan&) = delete;
    NormalScan& operator=(const NormalScan&) = delete;

    // Makes doFormalScanTest the controller's normal thread body; report,
    // when given, hears how each test ended (on the scan thread).
    static void installOn(ScanController& controller,
                          std::function<void(Outcome)> report = nullptr);

    // The normal share of a test's preparation, after the sizing sweep:
    // the undoing of an interrupted test, the device state, the index files
    // of a new unit and the file paths. Answers false when the test must not
    // start (the controller's preparationProblem() says why; buttons reset).
    bool prepareUnitFiles(DiskContext& disk);

    // What writes the report at the end (not owned); without one no report
    // is written.
    void setReportWriter(ReportWriter* writer) { reportWriter_ = writer; }

    // doFormalScanTest: the scan thread's body for a normal test.
    void doFormalScanTest();
    Outcome outcome() const { return outcome_; }

    // Writes the 69-byte warning that starts a data file, replacing any old
    // content, and hands the file to the launching user.
    static bool startDataFile(const std::string& path);
    // Whether a device state is one the phases start from.
    static bool isPhaseState(int state);

  private:
    int askResumeQuestion(int state);
    Outcome runPhases(int state);
    bool surfaceScan(const std::string& dataFile);
    bool seekScan(const std::string& seekFile, const std::string& surfaceFile);
    SeekScan::StoreHooks seekStoreHooks();
    void loadStoredFindings(bool initial);
    Outcome scanEnded();
    Outcome fileFailure(const std::string& what);
    // Undoes the test from its backup; what a roll-back that did not finish
    // left goes into the results.
    void rollBack();
    bool derive(const char* from, const char* to, const std::string& source);
    SurfaceScan::StoreHooks storeHooks();
    bool remove(const std::string& path);
    void readInitialRPIs();
    void readCurrentRPIs();
    Outcome finish(bool initial);
    void endOfSequence();
    void log(const char* format, ...) __attribute__((format(printf, 2, 3)));

    ScanController& controller_;
    ScanHost& host_;
    std::unique_ptr<RunJournal> journal_;
    ReportWriter* reportWriter_ = nullptr;
    std::string logFile_;
    Outcome outcome_ = Outcome::NotRun;
    // Whether this run started a seek scan (which loads the surface scan's
    // findings too); a run that only folds reads them from the files.
    bool seekScanned_ = false;
    // The scan file a record could not be written to (the scan ended there).
    std::string recordWriteFailed_;
};

} // namespace tolvarin
