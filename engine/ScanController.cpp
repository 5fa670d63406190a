#include "engine/ScanController.h"

#include "base/Clock.h"
#include "base/NotificationCenter.h"
#include "base/TextFormat.h"
#include "engine/NormalScan.h"
#include "engine/ScanHost.h"
#include "engine/SizingSweep.h"
#include "logging/Logger.h"
#include "logging/MessageCenter.h"
#include "platform/Env.h"
#include "platform/Paths.h"
#include "platform/SafeFile.h"
#include "platform/System.h"
#include "store/DataFileSet.h"
#include "store/DriveProcessor.h"
#include "store/PerformanceIndex.h"
#include "store/Quarrykit.h"
#include "store/ScanFileReader.h"
#include "store/TestFileBackup.h"

#include <exception>
#include <optional>
#include <utility>

namespace tolvarin {

namespace {

// The six counts of a test, from the device context into whatever reports
// them (the progress, the results, the measurements' end).
template <typename Counts> void copyCounts(const DiskContext& d, Counts& to) {
    to.surfaceErrors = d.surfaceErrors;
    to.surfaceIrregularities = d.surfaceIrregularities;
    to.seekErrors = d.seekErrors;
    to.seekIrregularities = d.seekIrregularities;
    to.totalErrors = d.totalErrors;
    to.totalIrregularities = d.totalIrregularities;
}

void logLine(const char* text) {
    Logger::writeDataToLogFile(Logger::charLogFileNameAndPath(), "%s", text);
}

} // namespace

ScanController::ScanController(ScanHost& guiController)
    : host_(guiController), notificationCenter_(guiController.note()),
      recorder_(guiController.env()) {}

ScanController::~ScanController() {
    joinScanThread();
}

// --- the scan thread ---------------------------------------------------------

bool ScanController::startScanThread() {
    std::thread finished;
    {
        std::lock_guard<std::mutex> lock(threadMutex_);
        if (running_.load()) {
            return false;
        }
        stopFlag_.store(false);
        finished = std::move(thread_);
        running_.store(true);
        try {
            thread_ = std::thread([this] { runScanThread(); });
        } catch (const std::system_error& e) {
            running_.store(false);
            System::consoleLog(std::string("Could not start the scan thread: ") + e.what());
            return false;
        }
    }
    // An earlier thread has returned from its body already; collect it.
    if (finished.joinable()) {
        finished.join();
    }
    return true;
}

void ScanController::joinScanThread() {
    std::thread running;
    {
        std::lock_guard<std::mutex> lock(threadMutex_);
        if (!thread_.joinable() || thread_.get_id() == std::this_thread::get_id()) {
            return;
        }
        running = std::move(thread_);
    }
    running.join();
}

void ScanController::runScanThread() {
    try {
        if (host_.scanOptions().normalScan) {
            doFormalScanTest();
        } else {
            doCursoryScanTest();
        }
    } catch (const std::exception& e) {
        // An escaped exception would end the whole program; end the test
        // instead and give the user the buttons back.
        System::consoleLog(std::string("The scan ended on an error: ") + e.what());
        host_.resetButtons();
    }
    running_.store(false);
}

void ScanController::setFormalScanBody(ScanBody body) {
    std::lock_guard<std::mutex> lock(fieldsMutex_);
    formalBody_ = std::move(body);
}

void ScanController::setCursoryScanBody(ScanBody body) {
    std::lock_guard<std::mutex> lock(fieldsMutex_);
    cursoryBody_ = std::move(body);
}

void ScanController::doFormalScanTest() {
    ScanBody body;
    {
        std::lock_guard<std::mutex> lock(fieldsMutex_);
        body = formalBody_;
    }
    if (body) {
        body(*this);
    }
}

void ScanController::doCursoryScanTest() {
    ScanBody body;
    {
        std::lock_guard<std::mutex> lock(fieldsMutex_);
        body = cursoryBody_;
    }
    if (body) {
        body(*this);
    }
}

// --- accessors ---------------------------------------------------------------

std::string ScanController::testLogFile() const {
    std::string path = Logger::charLogFileNameAndPath();
    if (path.empty() && disk_ != nullptr) {
        path = disk_->logFilePath;
    }
    return path;
}

DiskContext& ScanController::prepareDiskContext() {
    auto fresh = std::make_unique<DiskContext>();
    initialize(*fresh);
    fresh->clock = &host_.env();
    fresh->unitGone = [this] { markUnitGone(); };
    disk_ = std::move(fresh);
    return *disk_;
}

#define TOLVARIN_LOCKED_FIELD(Type, getter, setter, member)                                        \
    Type ScanController::getter() const {                                                          \
        std::lock_guard<std::mutex> lock(fieldsMutex_);                                            \
        return member;                                                                             \
    }                                                                                              \
    void ScanController::setter(Type value) {                                                      \
        std::lock_guard<std::mutex> lock(fieldsMutex_);                                            \
        member = std::move(value);                                                                 \
    }

TOLVARIN_LOCKED_FIELD(std::shared_ptr<DriveProcessor>, driveProcessor, setDriveProcessor,
                      driveProcessor_)
TOLVARIN_LOCKED_FIELD(std::shared_ptr<FileProcessor>, fileProcessor, setFileProcessor,
                      fileProcessor_)
TOLVARIN_LOCKED_FIELD(std::shared_ptr<IntegrityChecker>, fileChecker, setFileChecker, fileChecker_)
TOLVARIN_LOCKED_FIELD(ScanController::DataFileList, dataFileList, setDataFileList, dataFileList_)
#undef TOLVARIN_LOCKED_FIELD

#define TOLVARIN_TEXT_FIELD(getter, setter, member)                                                \
    std::string ScanController::getter() const {                                                   \
        std::lock_guard<std::mutex> lock(fieldsMutex_);                                            \
        return member;                                                                             \
    }                                                                                              \
    void ScanController::setter(const std::string& value) {                                        \
        std::lock_guard<std::mutex> lock(fieldsMutex_);                                            \
        member = value;                                                                            \
    }

TOLVARIN_TEXT_FIELD(rawTargetDrive, setRawTargetDrive, rawTargetDrive_)
TOLVARIN_TEXT_FIELD(tolvarinDir, setTolvarinDir, tolvarinDir_)
TOLVARIN_TEXT_FIELD(filePrefix, setFilePrefix, filePrefix_)
TOLVARIN_TEXT_FIELD(currentTestRange, setCurrentTestRange, currentTestRange_)
TOLVARIN_TEXT_FIELD(preparationProblem, setPreparationProblem, preparationProblem_)
TOLVARIN_TEXT_FIELD(measurementPrefix, setMeasurementPrefix, measurementPrefix_)
#undef TOLVARIN_TEXT_FIELD

DataFileSet ScanController::unitFiles() const {
    std::lock_guard<std::mutex> lock(fieldsMutex_);
    return unitFiles_;
}

void ScanController::setUnitFiles(const DataFileSet& files) {
    std::lock_guard<std::mutex> lock(fieldsMutex_);
    unitFiles_ = files;
}

Media ScanController::mediaRecord() const {
    std::lock_guard<std::mutex> lock(fieldsMutex_);
    return mediaRecord_;
}

void ScanController::setMediaRecord(const Media& value) {
    std::lock_guard<std::mutex> lock(fieldsMutex_);
    mediaRecord_ = value;
}

// --- preparing a test --------------------------------------------------------

bool ScanController::refusePreparation(const std::string& problem) {
    Logger::flushRepeatedLines();
    System::consoleLog(problem);
    setPreparationProblem(problem);
    releaseDiskContext();
    host_.resetButtons();
    return false;
}

void ScanController::markUnitGone() {
    if (!unitGone_.exchange(true)) {
        Logger::flushRepeatedLines();
        Logger::updateLog(std::string("\nSCAN CONTROLLER: ") + kUnitGoneText + ".");
        System::consoleLog(kUnitGoneText);
    }
    // The scan stops as if Stop were pressed; its stop question is not asked.
    stopFlag_.store(true);
}

void ScanController::setDeviceOpener(DeviceOpener opener) {
    std::lock_guard<std::mutex> lock(fieldsMutex_);
    opener_ = std::move(opener);
}

bool ScanController::initializeScanOnDrive(const std::string& device,
                                           const std::string& filePrefix) {
    System::consoleLog("FILE PREFIX: " + filePrefix + " TARGET DRIVE " + device);
    const ScanOptions options = host_.scanOptions();
    // Only a cursory test repairs, and only then is the unit opened for writing.
    const bool forWriting = !options.normalScan && options.attemptToRepairBadSectors;
    DeviceOpener opener;
    {
        std::lock_guard<std::mutex> lock(fieldsMutex_);
        opener = opener_;
    }
    setPreparationProblem("");
    setSurfacePercentDone(0.0);
    setSeekPercentDone(0.0);
    DiskContext& disk = prepareDiskContext();
    unitGone_.store(false);
    // The path is known before the open, so that a watched device can look
    // for its node.
    DiskContext::copyText(disk.rawDevicePath, device);
    if (opener) {
        disk.installDevice(opener(device, forWriting));
        // A positive stand-in for a descriptor the engine never uses itself.
        disk.fd = disk.device ? 1 : 0;
    }

    // The catalogue of this test start knows the data directory and the
    // file utility; without one (a cursory test, tests) the controller keeps
    // what it has.
    if (std::shared_ptr<DriveProcessor> drives = driveProcessor()) {
        if (drives->quarrykit() != nullptr) {
            setQuarrykit(drives->quarrykit());
        }
        setDataFileList(drives->currentDataFiles());
        setTolvarinDir(drives->tolvarinDir());
    }
    setRawTargetDrive(device);
    setFilePrefix(filePrefix);
    setErrorCount(0);

    const std::string logPath = Logger::logFileNameAndPath();
    // A path cut to fit its field would name another file or device.
    if (!DiskContext::copyText(disk.dataDirectory, tolvarinDir())) {
        return refusePreparation("The data directory path is too long: " + tolvarinDir());
    }
    if (!DiskContext::copyText(disk.filePrefix, filePrefix)) {
        return refusePreparation("The file prefix is too long: " + filePrefix);
    }
    if (!DiskContext::copyText(disk.rawDevicePath, device)) {
        return refusePreparation("The device path is too long: " + device);
    }
    if (!DiskContext::copyText(disk.logFilePath, logPath)) {
        return refusePreparation("The log file path is too long: " + logPath);
    }

    const Media media = mediaRecord();
    setHasSMARTFromStatus(media.SMARTStatus());

    Logger::setFilePrefix(filePrefix);
    // Without a log a cursory test would run for nothing, and a normal test
    // could not say what it did to the unit's files.
    if (!Logger::startLoggingOnDrive(device, media)) {
        return refusePreparation("The log file cannot be written: " + logPath + " (" +
                                 Logger::startProblem() + ")");
    }
    if (!options.normalScan && options.queueDepth > 1) {
        Logger::writeDataToLogFile(
            logPath,
            "Queue depth: %d reads in flight during the surface scan; its "
            "performance indices are not comparable with a normal test's.\n\n",
            options.queueDepth);
    }

    int result = SizingSweep::kOpenFailed;
    if (disk.device || !opener) {
        result = SizingSweep::doSizingSweepWithLogFile(disk, logPath.c_str(), forWriting);
    } else {
        // The opener could not open the unit: the sweep's own words for it.
        Logger::writeDataToLogFile(logPath, "%s", "SIZING SCAN START\n");
        Logger::writeDataToLogFile(logPath, "%s",
                                   "SIZING SCAN CRITICAL ERROR: Could not open device for "
                                   "reading.\n\n");
        Logger::writeDataToLogFile(logPath, "%s", "SIZING SCAN ABORTING TEST!\n\n");
    }
    if (unitGone()) {
        return refusePreparation(kUnitGoneText + (": " + device));
    }
    updateResults([&](TestResults& r) {
        r.sizingResult = result;
        r.sizingErrors = disk.sizingErrors;
        r.detectedSize = disk.detectedSize;
    });
    if (result >= 0) {
        Logger::setSizingScanStatus("PASSED");
        Logger::setSizingScanErrors(disk.sizingErrors);
    } else if (result == SizingSweep::kOpenFailed) {
        MessageCenter::generateAlertDialogWithNumber(SizingSweep::messageNumberForResult(result));
        Logger::setSizingScanStatus("FAILED");
        return refusePreparation("The unit could not be opened or read: " + device +
                                 " (see the log " + logPath + ")");
    } else {
        Logger::setSizingScanStatus("PASSED, BUT HAD ERRORS OR IRREGULARITIES");
        Logger::setSizingScanErrors(disk.sizingErrors);
        if (MessageCenter::generateAlertDialogWithNumber(
                SizingSweep::messageNumberForResult(result)) == 0) {
            return refusePreparation("The test was cancelled after the sizing scan.");
        }
    }

    beginMeasurements(options.normalScan,
                      options.cursoryLimitedScanSelected && options.doSurfaceScan, device);
    if (!options.normalScan) {
        return true;
    }
    return NormalScan(*this, host_).prepareUnitFiles(disk);
}

// --- measurements beyond the designed files ------------------------------------

void ScanController::beginMeasurements(bool normal, bool limited, const std::string& device) {
    ScanRecorder::TestStart start;
    start.kind = normal ? "normal" : limited ? "limited" : "cursory";
    start.device = device;
    start.filePrefix = normal ? filePrefix() : measurementPrefix();
    start.dataDirectory = tolvarinDir();
    start.readSmart = hasSMART();
    recorder_.beginTest(start);
}

std::shared_ptr<const TestMeasurements> ScanController::endMeasurements(const std::string& outcome,
                                                                        bool keep) {
    if (!recorder_.testUnderWay()) {
        return recorder_.finished();
    }
    const TestResults r = results();
    ScanRecorder::TestEnd end;
    end.outcome = outcome;
    end.keep = keep;
    if (const DiskContext* d = disk_.get()) {
        copyCounts(*d, end);
        if (!r.normal) {
            // The limited scan computes no surface indices.
            if (r.surfaceCompleted && !host_.scanOptions().cursoryLimitedScanSelected) {
                end.indices[0] = d->surfaceLinearRPI;
                end.indices[1] = d->surfaceRatioRPI;
            }
            if (r.seekCompleted) {
                end.indices[2] = d->seekLinearRPI;
                end.indices[3] = d->seekRatioRPI;
            }
        }
    }
    if (r.normal && r.completed) {
        // A first test's current indices are its baseline's.
        const TestResults::StoredIndices i = r.currentRPIs.value_or(r.initialRPIs);
        end.initialScan = r.initialScan;
        end.indices = {i.surfaceLinear, i.surfaceRatio, i.seekLinear, i.seekRatio};
    }
    std::shared_ptr<const TestMeasurements> m = recorder_.finishTest(end);
    updateResults([&](TestResults& results) { results.measurements = m; });
    return m;
}

// --- data store calls ----------------------------------------------------------

bool ScanController::isScanCompleteOnFile(const std::string& path) {
    return ScanFileReader::isScanCompleteOnFile(path);
}

int ScanController::extractSurfaceDataFromFile(const std::string& path) {
    if (!disk_) {
        return 0;
    }
    return ScanFileReader::extractSurfaceDataFromFile(path, *disk_);
}

int ScanController::extractSeekDataFromFile(const std::string& path) {
    if (!disk_) {
        return 0;
    }
    int count = errorCount();
    int records = ScanFileReader::extractSeekDataFromFile(path, *disk_, count);
    setErrorCount(count);
    return records;
}

bool ScanController::getSurfaceScanRPIsUsingFile(const std::string& path, double& linear,
                                                 double& ratio) {
    return PerformanceIndex::getSurfaceScanRPIsUsingFile(path, linear, ratio);
}

bool ScanController::getSeekScanRPIsUsingFile(const std::string& path, double& linear,
                                              double& ratio) {
    return PerformanceIndex::getSeekScanRPIsUsingFile(path, linear, ratio);
}

bool ScanController::backupCurrentTestFilesWithFilePrefix(const std::string& prefix) {
    Quarrykit* kit = quarrykit();
    if (kit == nullptr) {
        System::consoleLog("No backup made: no file utility component.");
        return false;
    }
    return TestFileBackup(*kit, tolvarinDir()).backupCurrentTestFilesWithFilePrefix(prefix);
}

bool ScanController::restorePreviousTestFilesWithFilePrefix(const std::string& prefix) {
    Quarrykit* kit = quarrykit();
    if (kit == nullptr) {
        System::consoleLog("No backup restored: no file utility component.");
        return false;
    }
    return TestFileBackup(*kit, tolvarinDir()).restorePreviousTestFilesWithFilePrefix(prefix);
}

bool ScanController::deleteCurrentBackupFilesWithFilePrefix(const std::string& prefix) {
    Quarrykit* kit = quarrykit();
    if (kit == nullptr) {
        System::consoleLog("Backups not deleted: no file utility component.");
        return false;
    }
    return TestFileBackup(*kit, tolvarinDir()).deleteCurrentBackupFilesWithFilePrefix(prefix);
}

bool ScanController::deleteAllFilesWithFilePrefix(const std::string& prefix) {
    Quarrykit* kit = quarrykit();
    DataFileSet unit(tolvarinDir(), prefix);
    if (kit == nullptr || !unit.usable()) {
        System::consoleLog("Unit files not deleted: no file utility component or no prefix.");
        return false;
    }
    unit.deleteUnitFiles(*kit);
    return TestFileBackup(*kit, tolvarinDir()).deleteCurrentBackupFilesWithFilePrefix(prefix);
}

bool ScanController::deleteInitialScanFilesWithFilePrefix(const std::string& prefix) {
    Quarrykit* kit = quarrykit();
    DataFileSet unit(tolvarinDir(), prefix);
    if (kit == nullptr || !unit.usable()) {
        System::consoleLog("Baselines not deleted: no file utility component or no prefix.");
        return false;
    }
    unit.deleteInitialScanFiles(*kit);
    return true;
}

// --- services ----------------------------------------------------------------

void ScanController::updateGUI() {
    ScanProgress progress;
    if (const DiskContext* d = disk_.get()) {
        copyCounts(*d, progress);
    }
    {
        // One look for the three texts (the scans come here every tenth read).
        std::lock_guard<std::mutex> lock(fieldsMutex_);
        progress.deviceBeingTested = rawTargetDrive_;
        progress.typeOfTest = typeOfTest_;
        progress.currentTestRange = currentTestRange_;
    }
    progress.surfacePercentage = surfacePercentDone();
    progress.seekPercentage = seekPercentDone();
    {
        std::lock_guard<std::mutex> lock(resultsMutex_);
        TestResults& r = results_;
        r.surfaceErrors = progress.surfaceErrors;
        r.surfaceIrregularities = progress.surfaceIrregularities;
        r.seekErrors = progress.seekErrors;
        r.seekIrregularities = progress.seekIrregularities;
        r.totalErrors = progress.totalErrors;
        r.totalIrregularities = progress.totalIrregularities;
        if (progress.surfacePercentage >= 1.0 && progress.typeOfTest == "Surface Scan") {
            r.surfaceCompleted = r.started;
        }
        if (progress.seekPercentage >= 1.0 && progress.typeOfTest == "Seek Scan") {
            r.seekCompleted = r.started;
        }
    }
    host_.showProgress(progress);
    // Made once: the scans post this every tenth read.
    static const std::string kUpdateStatus = "UpdateTestStatusWindow";
    notificationCenter_.postNotificationName(kUpdateStatus, this);
}

void ScanController::updateErrorCount() {
    int count = errorCount_.fetch_add(1) + 1;
    if (count <= errorLimit_.load()) {
        return;
    }
    int answer = MessageCenter::generateAlertDialogWithNumber(kErrorLimitMessage);
    if (answer == 1) {
        errorCount_.store(0);
        logLine("\nERROR LIMIT EXCEEDED\n");
        logLine("Current error count reset to 0 by user.\n");
        logLine("Resuming test.\n\n");
    } else {
        stopFlag_.store(true);
        logLine("\nERROR LIMIT EXCEEDED\n");
        logLine("Program being terminated at user request.\n\n");
    }
}

void ScanController::setHasSMARTFromStatus(const std::string& SMARTStatus) {
    setHasSMART(SMARTStatus.rfind("Not Supported", 0) != 0);
}

bool ScanController::checkSMARTStatusOnDisk(const std::string& device) {
    if (!hasSMART()) {
        return true;
    }
    // The interval is a duration: a stepped wall clock must not trigger or
    // hold off a check.
    int64_t now = host_.env().monotonicMicros() / 1000000;
    {
        std::lock_guard<std::mutex> lock(smartWatchMutex_);
        std::optional<int64_t>& remembered = smartWatchTime_;
        if (!remembered) {
            remembered = now;
            return true;
        }
        if (now - *remembered < kSMARTCheckInterval) {
            return true;
        }
        remembered = now;
    }

    ProcessResult result = host_.env().runProcess(Paths::diskToolPath(), {"info", device});
    if (!result.finished()) {
        // Without its whole report the status is unknown, which is no
        // failure: a report cut at the time limit may end inside "Verified".
        System::consoleLog("SMART check not possible: " + result.error);
        return true;
    }

    // The first line is the report's heading; the status follows.
    const std::string& out = result.output;
    std::size_t start = out.find('\n');
    while (start != std::string::npos && start < out.size()) {
        ++start;
        std::size_t end = out.find('\n', start);
        std::string line = out.substr(start, end == std::string::npos ? end : end - start);
        // A status the tool could not read this time ("Not Supported", after a
        // passing one at the start of the test) is no failure: ending the
        // program on it would stop a good test.
        if (line.find("SMART Status:") != std::string::npos &&
            line.find("erified") == std::string::npos &&
            line.find("Not Supported") == std::string::npos) {
            System::consoleLog("SMART STATUS FAILURE on " + device);
            MessageCenter::generateAlertDialogWithNumber(kSMARTFailureMessage);
            host_.endProgram(kSMARTFailureExitStatus);
            // Only a test's exit comes back here: leave the scan.
            stopFlag_.store(true);
            return false;
        }
        start = end;
    }
    return true;
}

int ScanController::determineDeviceState() {
    int state = 0;
    Quarrykit* kit = quarrykit();
    if (kit == nullptr) {
        System::consoleLog("Device state unknown: no file utility component.");
    } else {
        state = DataFileSet(tolvarinDir(), filePrefix()).deviceState(*kit);
    }
    setDeviceState(state);
    return state;
}

void ScanController::doPostTestReset() {
    captureResults();
    if (DiskContext* d = disk_.get()) {
        d->surfaceErrors = 0;
        d->seekErrors = 0;
        d->surfaceIrregularities = 0;
        d->seekIrregularities = 0;
        d->totalErrors = 0;
        d->totalIrregularities = 0;
    }
    setSurfacePercentDone(0.0);
    setSeekPercentDone(0.0);
    host_.resetButtons();
    deInitialize(disk_);
}

void ScanController::releaseDiskContext() {
    captureResults();
    deInitialize(disk_);
}

// --- results -----------------------------------------------------------------

TestResults ScanController::results() const {
    std::lock_guard<std::mutex> lock(resultsMutex_);
    return results_;
}

void ScanController::updateResults(const std::function<void(TestResults&)>& change) {
    std::lock_guard<std::mutex> lock(resultsMutex_);
    change(results_);
}

void ScanController::resetResults(bool normal) {
    std::lock_guard<std::mutex> lock(resultsMutex_);
    results_ = TestResults{};
    results_.normal = normal;
}

std::string ScanController::typeOfTest() const {
    std::lock_guard<std::mutex> lock(fieldsMutex_);
    return typeOfTest_;
}

void ScanController::setTypeOfTest(const std::string& value) {
    {
        std::lock_guard<std::mutex> lock(fieldsMutex_);
        typeOfTest_ = value;
    }
    const int64_t now = host_.env().monotonicMicros();
    std::lock_guard<std::mutex> lock(resultsMutex_);
    if (!results_.started) {
        return;
    }
    if (value == "Surface Scan" && results_.surfaceStartMicros == 0) {
        results_.surfaceStartMicros = now;
    } else if (value == "Seek Scan" && results_.seekStartMicros == 0) {
        results_.seekStartMicros = now;
    }
}

void ScanController::captureResults() {
    const DiskContext* disk = disk_.get();
    if (disk == nullptr) {
        return;
    }
    // A test that ends without its sequence having kept its measurements:
    // a cursory test keeps them now; a normal one that was not saved keeps
    // none, as it keeps no designed files.
    const bool normal = results().normal;
    endMeasurements(stopFlag() ? "stopped" : "completed", !normal);
    const bool limited = host_.scanOptions().cursoryLimitedScanSelected;
    std::lock_guard<std::mutex> lock(resultsMutex_);
    TestResults& r = results_;
    copyCounts(*disk, r);
    r.detectedSize = disk->detectedSize;
    r.sectionCount = disk->sectionCount;
    r.failedSections.clear();
    for (const ScanSection& s : disk->sections) {
        if (s.passed == 0) {
            r.failedSections.push_back(
                {s.index, s.start, s.end, s.errorCount, s.irregularityCount});
        }
    }
    // The limited scan computes no surface indices.
    if (r.surfaceCompleted && (r.normal || !limited)) {
        r.surfaceLinearRPI = disk->surfaceLinearRPI;
        r.surfaceRatioRPI = disk->surfaceRatioRPI;
    }
    if (r.seekCompleted) {
        r.seekLinearRPI = disk->seekLinearRPI;
        r.seekRatioRPI = disk->seekRatioRPI;
    }
}

// --- diagnostics records -----------------------------------------------------

bool ScanController::appendDiagRecord(const std::string& line) {
    DataFileSet files = unitFiles();
    if (!files.usable()) {
        return false;
    }
    std::string error;
    if (!SafeFile::append(files.diaFile(), line, &error)) {
        System::consoleLog("Diagnostics record not written: " + error);
        return false;
    }
    return true;
}

void ScanController::keepDiagRecord(bool written, std::string* writeFailed) const {
    if (written || !writeFailed->empty()) {
        return;
    }
    DataFileSet files = unitFiles();
    if (files.usable()) {
        *writeFailed = files.diaFile();
    }
}

bool ScanController::writeSurfaceStartTimeToDiagFile(const char* timeStamp) {
    bool ok = appendDiagRecord(formatText("SRTS:%s\n", timeStamp != nullptr ? timeStamp : ""));
    if (ok) {
        Logger::adjustFileOwnershipOnFile(unitFiles().diaFile());
    }
    return ok;
}

bool ScanController::writeSurfaceErrorToDiagFile(int64_t offset, int sectionIndex) {
    return appendDiagRecord(
        formatText("SSE:%lld:%d\n", static_cast<long long>(offset), sectionIndex));
}

bool ScanController::writeSurfaceIrregularityToFile(int64_t offset, double seconds,
                                                    int sectionIndex) {
    return appendDiagRecord(
        formatText("SSI:%lld:%f:%d\n", static_cast<long long>(offset), seconds, sectionIndex));
}

bool ScanController::writeSeekStartTimeToDiagFile(const char* timeStamp) {
    bool ok = appendDiagRecord(formatText("SKTS:%s\n", timeStamp != nullptr ? timeStamp : ""));
    if (ok) {
        Logger::adjustFileOwnershipOnFile(unitFiles().diaFile());
    }
    return ok;
}

bool ScanController::writeSeekErrorToDiagFile(int64_t offsetA, int64_t offsetB) {
    return appendDiagRecord(formatText("SKE:%lld:%lld\n", static_cast<long long>(offsetA),
                                       static_cast<long long>(offsetB)));
}

bool ScanController::writeSeekIrregularityToFile(int64_t offsetA, int64_t offsetB) {
    return appendDiagRecord(formatText("SKI:%lld:%lld\n", static_cast<long long>(offsetA),
                                       static_cast<long long>(offsetB)));
}

} // namespace tolvarin
