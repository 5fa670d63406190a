#pragma once

#include "base/Media.h"
#include "base/TestResults.h"
#include "engine/DiskContext.h"
#include "engine/ScanRecorder.h"
#include "store/DataFileSet.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tolvarin {

class ScanHost;
class RawDevice;
class NotificationCenter;
class Quarrykit;
class DriveProcessor;
class FileProcessor;
class IntegrityChecker;
class CurrentDriveInfo;

// Runs one test of one unit: holds the test's device context and file paths,
// runs the scan thread, feeds progress to its owner, keeps the error count
// against the limit, watches the unit's SMART status and appends findings to
// the unit's diagnostics file. The scans themselves (surface, seek, the normal
// and cursory sequences) live in their own files and work on this object.
class ScanController {
  public:
    // Process exit status after a SMART failure. Non-zero: the test did not
    // run to its end, and a script must not read the end as a success.
    static constexpr int kSMARTFailureExitStatus = 3;
    // Seconds between two SMART checks.
    static constexpr int64_t kSMARTCheckInterval = 300;
    // Message numbers this class raises.
    static constexpr int kErrorLimitMessage = 2;
    static constexpr int kSMARTFailureMessage = 5000;

    // initWithGUIController: the owner, whose notification centre updateGUI
    // posts to. Counts and fractions start at zero, both flags clear.
    explicit ScanController(ScanHost& guiController);
    // Joins a scan thread that is still running.
    virtual ~ScanController();
    ScanController(const ScanController&) = delete;
    ScanController& operator=(const ScanController&) = delete;

    // --- the scan thread ---------------------------------------------------
    // Clears the stop flag and starts the scan thread, which runs
    // doFormalScanTest() for a normal scan, else doCursoryScanTest(), and ends
    // when that returns. Answers false, starting nothing, while an earlier
    // scan thread is still running.
    bool startScanThread();
    // Waits for the scan thread to end (no-op without one, or when called on
    // the scan thread itself).
    void joinScanThread();
    bool scanThreadRunning() const { return running_.load(); }
    // Sets the stop flag; the running scan asks the stop question.
    void stopThread() { stopFlag_.store(true); }

    // The two thread bodies. By default each runs the body installed with
    // the setter below (the normal and the cursory sequence install theirs);
    // with none installed it returns at once.
    using ScanBody = std::function<void(ScanController&)>;
    void setFormalScanBody(ScanBody body);
    void setCursoryScanBody(ScanBody body);
    virtual void doFormalScanTest();
    virtual void doCursoryScanTest();

    // --- flags, shared with the main thread --------------------------------
    bool stopFlag() const { return stopFlag_.load(); }
    // The unit went away during this test (a read failed with ENODEV or
    // ENXIO, or its node vanished): the scan stops and is saved without a
    // question, to resume when the unit is back.
    bool unitGone() const { return unitGone_.load(); }
    void markUnitGone();
    static constexpr const char* kUnitGoneText = "The unit is no longer attached";
    void setStopFlag(bool value) { stopFlag_.store(value); }
    bool pauseFlag() const { return pauseFlag_.load(); }
    void setPauseFlag(bool value) { pauseFlag_.store(value); }
    bool hasSMART() const { return hasSMART_.load(); }
    void setHasSMART(bool value) { hasSMART_.store(value); }
    // hasSMART from a media record's SMART status: every status but one that
    // begins "Not Supported".
    void setHasSMARTFromStatus(const std::string& SMARTStatus);

    // The lock the scans hold around every timed device access. Nothing
    // takes it while holding it, so a plain mutex: a recursive one costs
    // more at every read.
    std::mutex& scanLock() { return scanLock_; }

    // --- what the test measures beyond the designed files ---------------------
    ScanRecorder& recorder() { return recorder_; }
    // Where the surface scan reports each read (the recorder).
    SurfaceReadSink& readSink() { return recorder_; }
    // The stored unit a cursory test's measurements are kept with (a normal
    // test keeps them with its own file prefix); empty: not kept.
    std::string measurementPrefix() const;
    void setMeasurementPrefix(const std::string& value);
    // Ends the recording of the test (once; later calls answer the same
    // record): outcome completed, stopped or saved; keep writes it beside
    // the unit's files. The record goes into the results.
    std::shared_ptr<const TestMeasurements> endMeasurements(const std::string& outcome, bool keep);

    // --- the test's device context -----------------------------------------
    // Null before a test is prepared and after the post-test reset.
    DiskContext* disk() { return disk_.get(); }
    const DiskContext* disk() const { return disk_.get(); }
    // The test's log: the logger's, or the one the context was prepared with.
    std::string testLogFile() const;
    // Replaces the context with a new, initialised one and answers it.
    DiskContext& prepareDiskContext();
    void setDisk(std::unique_ptr<DiskContext> disk) { disk_ = std::move(disk); }
    // Releases the context (and closes its device).
    void releaseDiskContext();

    // --- preparing a test ---------------------------------------------------
    // initializeScanOnDrive:withFilePrefix: builds the test's device context
    // for device, starts its log, sizes the unit and, for a normal test,
    // brings the unit's data files to a state the normal sequence can start
    // from (NormalScan holds the steps). Answers false when the test must not
    // start; the reason is in preparationProblem().
    bool initializeScanOnDrive(const std::string& device, const std::string& filePrefix);
    // A refused preparation: the reason kept, the context released, the
    // owner's buttons reset. Answers false.
    bool refusePreparation(const std::string& problem);
    // How the unit is opened (forWriting for a repair): by default the
    // sizing sweep opens the raw device path itself; tests hand in simulated
    // units. An opener answering nullptr fails the open.
    using DeviceOpener =
        std::function<std::unique_ptr<RawDevice>(const std::string& path, bool forWriting)>;
    void setDeviceOpener(DeviceOpener opener);

    // --- the results of the test ---------------------------------------------
    // A copy of the results as they stand.
    TestResults results() const;
    void updateResults(const std::function<void(TestResults&)>& change);
    // Starts the results of a new test.
    void resetResults(bool normal);
    std::string preparationProblem() const;
    void setPreparationProblem(const std::string& value);
    // The media record of the unit under test (the owner's selection): its
    // S.M.A.R.T. status and the description the log starts with.
    Media mediaRecord() const;
    void setMediaRecord(const Media& value);

    // --- the owner and collaborators ---------------------------------------
    ScanHost& guiController() { return host_; }
    NotificationCenter& notificationCenter() { return notificationCenter_; }
    std::shared_ptr<DriveProcessor> driveProcessor() const;
    void setDriveProcessor(std::shared_ptr<DriveProcessor> value);
    // Not owned: the hub keeps the one Quarrykit object.
    Quarrykit* quarrykit() const { return quarrykit_.load(); }
    void setQuarrykit(Quarrykit* value) { quarrykit_.store(value); }
    std::shared_ptr<FileProcessor> fileProcessor() const;
    void setFileProcessor(std::shared_ptr<FileProcessor> value);
    std::shared_ptr<IntegrityChecker> fileChecker() const;
    void setFileChecker(std::shared_ptr<IntegrityChecker> value);
    using DataFileList = std::vector<std::shared_ptr<CurrentDriveInfo>>;
    DataFileList dataFileList() const;
    void setDataFileList(DataFileList value);

    // --- unit and file paths -----------------------------------------------
    std::string rawTargetDrive() const;
    void setRawTargetDrive(const std::string& value);
    std::string tolvarinDir() const;
    void setTolvarinDir(const std::string& value);
    std::string filePrefix() const;
    void setFilePrefix(const std::string& value);

    // The unit's data files (named by the data directory and the prefix
    // when a normal test is prepared); the diagnostics records go to its
    // ".dia" file.
    DataFileSet unitFiles() const;
    void setUnitFiles(const DataFileSet& files);

    // --- progress ----------------------------------------------------------
    double surfacePercentDone() const { return surfacePercentDone_.load(); }
    void setSurfacePercentDone(double value) { surfacePercentDone_.store(value); }
    double seekPercentDone() const { return seekPercentDone_.load(); }
    void setSeekPercentDone(double value) { seekPercentDone_.store(value); }
    std::string typeOfTest() const;
    void setTypeOfTest(const std::string& value);
    std::string currentTestRange() const;
    void setCurrentTestRange(const std::string& value);

    // --- counts ------------------------------------------------------------
    int deviceState() const { return deviceState_.load(); }
    void setDeviceState(int value) { deviceState_.store(value); }
    int errorCount() const { return errorCount_.load(); }
    void setErrorCount(int value) { errorCount_.store(value); }
    int errorLimit() const { return errorLimit_.load(); }
    void setErrorLimit(int value) { errorLimit_.store(value); }

    // --- performance indices, read from the data files for the report -----
    double initialRPISSLIN() const { return initialRPISSLIN_; }
    void setInitialRPISSLIN(double value) { initialRPISSLIN_ = value; }
    double initialRPISSRAT() const { return initialRPISSRAT_; }
    void setInitialRPISSRAT(double value) { initialRPISSRAT_ = value; }
    double initialRPISKLIN() const { return initialRPISKLIN_; }
    void setInitialRPISKLIN(double value) { initialRPISKLIN_ = value; }
    double initialRPISKRAT() const { return initialRPISKRAT_; }
    void setInitialRPISKRAT(double value) { initialRPISKRAT_ = value; }
    double currentRPISSLIN() const { return currentRPISSLIN_; }
    void setCurrentRPISSLIN(double value) { currentRPISSLIN_ = value; }
    double currentRPISSRAT() const { return currentRPISSRAT_; }
    void setCurrentRPISSRAT(double value) { currentRPISSRAT_ = value; }
    double currentRPISKLIN() const { return currentRPISKLIN_; }
    void setCurrentRPISKLIN(double value) { currentRPISKLIN_ = value; }
    double currentRPISKRAT() const { return currentRPISKRAT_; }
    void setCurrentRPISKRAT(double value) { currentRPISKRAT_ = value; }

    // --- services used by the scans ----------------------------------------
    // Copies the progress into the owner, then posts "UpdateTestStatusWindow".
    void updateGUI();
    // Counts one error; above the limit asks message 2: Continue resets the
    // count, anything else sets the stop flag.
    void updateErrorCount();
    // Periodic SMART check of device (a raw path or identifier the disk tool
    // takes); a unit without SMART is never checked. The first call of the
    // program only remembers the time; later ones check at most every 300 s. A failing unit ends
    // the program after message 5000. Answers false only when that end did not happen (a test's
    // exit hook returned): the scan must then stop.
    bool checkSMARTStatusOnDisk(const std::string& device);
    // Sum of the bits of the unit's data files present in the data directory.
    int determineDeviceState();
    // Ends a test: counters and fractions to zero, the owner's buttons reset,
    // the device context released.
    void doPostTestReset();

    // --- data store calls of the scans, on this unit's files -----------------
    // Whether a scan file carries its completion line.
    static bool isScanCompleteOnFile(const std::string& path);
    // Load the records of a partly written scan file into the device context
    // (and the error count) and cut the file back to them; answer the index
    // to continue from (0 without a context).
    int extractSurfaceDataFromFile(const std::string& path);
    int extractSeekDataFromFile(const std::string& path);
    // The RPI lines of a complete scan file; outputs whose line is missing
    // keep their value. Answer whether both were found.
    static bool getSurfaceScanRPIsUsingFile(const std::string& path, double& linear, double& ratio);
    static bool getSeekScanRPIsUsingFile(const std::string& path, double& linear, double& ratio);
    // The backups in the data directory's "prev" folder, and the deletions
    // of the unit's files. Without a file utility component nothing is done
    // (answer false).
    bool backupCurrentTestFilesWithFilePrefix(const std::string& prefix);
    bool restorePreviousTestFilesWithFilePrefix(const std::string& prefix);
    bool deleteCurrentBackupFilesWithFilePrefix(const std::string& prefix);
    // Every file of the unit, its header included, then its backups.
    bool deleteAllFilesWithFilePrefix(const std::string& prefix);
    // The two baselines, ".iss" and ".isk".
    bool deleteInitialScanFilesWithFilePrefix(const std::string& prefix);

    // Diagnostics file records, one line each, appended to diagFile(). A
    // record that cannot be written is lost (answer false), never misplaced.
    // A normal scan whose finding was lost ends as a failed write: the
    // diagnostics run would otherwise never look at that place again.
    bool writeSurfaceStartTimeToDiagFile(const char* timeStamp);
    bool writeSurfaceErrorToDiagFile(int64_t offset, int sectionIndex);
    bool writeSurfaceIrregularityToFile(int64_t offset, double seconds, int sectionIndex);
    bool writeSeekStartTimeToDiagFile(const char* timeStamp);
    bool writeSeekErrorToDiagFile(int64_t offsetA, int64_t offsetB);
    bool writeSeekIrregularityToFile(int64_t offsetA, int64_t offsetB);
    // A scan's record of a failed write (*writeFailed, when still empty)
    // names the diagnostics file when a record was not written to it and
    // the test keeps files.
    void keepDiagRecord(bool written, std::string* writeFailed) const;

  private:
    // The counts, sections and indices of the context into the results,
    // before the context goes.
    void captureResults();
    void beginMeasurements(bool normal, bool limited, const std::string& device);
    void runScanThread();
    bool appendDiagRecord(const std::string& line);

    ScanHost& host_;
    NotificationCenter& notificationCenter_;

    // Text fields are set on one thread and read on another (the window
    // shows some of them), so they sit behind a lock and are copied out.
    mutable std::mutex fieldsMutex_;
    DataFileList dataFileList_;
    std::string rawTargetDrive_;
    DataFileSet unitFiles_;
    std::string typeOfTest_;
    std::string currentTestRange_;
    std::string tolvarinDir_;
    std::string filePrefix_;
    std::string preparationProblem_;
    std::string measurementPrefix_;
    Media mediaRecord_;
    std::shared_ptr<DriveProcessor> driveProcessor_;
    std::shared_ptr<FileProcessor> fileProcessor_;
    std::shared_ptr<IntegrityChecker> fileChecker_;
    ScanBody formalBody_;
    ScanBody cursoryBody_;

    std::atomic<int> deviceState_{0};
    std::atomic<int> errorCount_{0};
    std::atomic<int> errorLimit_{0};
    std::atomic<double> seekPercentDone_{0.0};
    std::atomic<double> surfacePercentDone_{0.0};
    std::atomic<Quarrykit*> quarrykit_{nullptr};
    std::unique_ptr<DiskContext> disk_;
    std::atomic<bool> stopFlag_{false};
    std::atomic<bool> unitGone_{false};
    std::atomic<bool> pauseFlag_{false};
    std::atomic<bool> hasSMART_{false};

    double initialRPISSLIN_ = 0;
    double initialRPISSRAT_ = 0;
    double initialRPISKLIN_ = 0;
    double initialRPISKRAT_ = 0;
    double currentRPISSLIN_ = 0;
    double currentRPISSRAT_ = 0;
    double currentRPISKLIN_ = 0;
    double currentRPISKRAT_ = 0;

    std::mutex scanLock_;

    DeviceOpener opener_; // under fieldsMutex_
    mutable std::mutex resultsMutex_;
    TestResults results_;

    // The SMART watch: the time of the last check (the first call only
    // remembers it).
    std::mutex smartWatchMutex_;
    std::optional<int64_t> smartWatchTime_;

    std::mutex threadMutex_;
    std::thread thread_;
    std::atomic<bool> running_{false};

    ScanRecorder recorder_;
};

} // namespace tolvarin
