#include "engine/ScanController.h"

#include "base/Utils.h"
#include "base/Clock.h"
#include "engine/NormalScan.h"
#include "base/NotificationCenter.h"
#include "engine/ScanHost.h"
#include "logging/Logger.h"
#include "logging/MessageCenter.h"
#include "base/TextFormat.h"
#include "platform/Paths.h"
#include "platform/ProcessRunner.h"
#include "platform/SafeFile.h"
#include "platform/System.h"
#include "store/DataFileSet.h"
#include "store/PerformanceIndex.h"
#include "store/Quarrykit.h"
#include "store/ScanFileReader.h"
#include "store/TestFileBackup.h"

#include <exception>
#include <optional>
#include <utility>

namespace tolvarin {

namespace {

// The SMART watch remembers one time for the whole program, whichever
// controller asks.
std::mutex& smartWatchMutex() {
    static std::mutex m;
    return m;
}

std::optional<int64_t>& smartWatchTime() {
    static std::optional<int64_t> t;
    return t;
}

void logLine(const char* text) {
    Logger::writeDataToLogFile(Logger::charLogFileNameAndPath(), "%s", text);
}

} // namespace

ScanController::ScanController(ScanHost& guiController)
    : host_(guiController), notificationCenter_(guiController.note()) {}

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
        if (host_.normalScan()) {
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
TOLVARIN_TEXT_FIELD(surfaceScanFile, setSurfaceScanFile, surfaceScanFile_)
TOLVARIN_TEXT_FIELD(seekScanFile, setSeekScanFile, seekScanFile_)
TOLVARIN_TEXT_FIELD(surfaceScanAvgFile, setSurfaceScanAvgFile, surfaceScanAvgFile_)
TOLVARIN_TEXT_FIELD(seekScanAvgFile, setSeekScanAvgFile, seekScanAvgFile_)
TOLVARIN_TEXT_FIELD(prevSurfaceScanFile, setPrevSurfaceScanFile, prevSurfaceScanFile_)
TOLVARIN_TEXT_FIELD(prevSeekScanFile, setPrevSeekScanFile, prevSeekScanFile_)
TOLVARIN_TEXT_FIELD(curSurfaceScanFile, setCurSurfaceScanFile, curSurfaceScanFile_)
TOLVARIN_TEXT_FIELD(curSeekScanFile, setCurSeekScanFile, curSeekScanFile_)
TOLVARIN_TEXT_FIELD(tmpSurfaceScanAvgFile, setTmpSurfaceScanAvgFile, tmpSurfaceScanAvgFile_)
TOLVARIN_TEXT_FIELD(tmpSeekScanAvgFile, setTmpSeekScanAvgFile, tmpSeekScanAvgFile_)
TOLVARIN_TEXT_FIELD(diagFile, setDiagFile, diagFile_)
TOLVARIN_TEXT_FIELD(typeOfTest, setTypeOfTest, typeOfTest_)
TOLVARIN_TEXT_FIELD(currentTestRange, setCurrentTestRange, currentTestRange_)
TOLVARIN_TEXT_FIELD(preparationProblem, setPreparationProblem, preparationProblem_)
#undef TOLVARIN_TEXT_FIELD

Media ScanController::mediaRecord() const {
    std::lock_guard<std::mutex> lock(fieldsMutex_);
    return mediaRecord_;
}

void ScanController::setMediaRecord(const Media& value) {
    std::lock_guard<std::mutex> lock(fieldsMutex_);
    mediaRecord_ = value;
}

// --- preparing a test --------------------------------------------------------

bool ScanController::initializeScanOnDrive(const std::string& device,
                                           const std::string& filePrefix) {
    return NormalScan(*this, host_).initializeScanOnDrive(device, filePrefix);
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
    int counters[6] = {};
    if (const DiskContext* d = disk_.get()) {
        counters[0] = d->surfaceErrors;
        counters[1] = d->surfaceIrregularities;
        counters[2] = d->seekErrors;
        counters[3] = d->seekIrregularities;
        counters[4] = d->totalErrors;
        counters[5] = d->totalIrregularities;
    }
    host_.setDeviceBeingTestedString(rawTargetDrive());
    host_.setTypeOfTestString(typeOfTest());
    host_.setCurrentTestRangeString(currentTestRange());
    host_.setTotalSurfaceScanErrorsString(formatText("%d", counters[0]));
    host_.setTotalSurfaceScanIrregularitiesString(formatText("%d", counters[1]));
    host_.setTotalSeekScanErrorString(formatText("%d", counters[2]));
    host_.setTotalSeekScanIrregularitiesString(formatText("%d", counters[3]));
    host_.setTotalErrorsString(formatText("%d", counters[4]));
    host_.setTotalIrregularitiesString(formatText("%d", counters[5]));
    host_.setSurfacePercentage(surfacePercentDone());
    host_.setSeekPercentage(seekPercentDone());
    notificationCenter_.postNotificationName("UpdateTestStatusWindow", this);
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

void ScanController::resetSMARTWatch() {
    std::lock_guard<std::mutex> lock(smartWatchMutex());
    smartWatchTime().reset();
}

void ScanController::setHasSMARTFromStatus(const std::string& SMARTStatus) {
    setHasSMART(SMARTStatus.rfind("Not Supported", 0) != 0);
}

bool ScanController::checkSMARTStatusOnDisk(const std::string& device) {
    if (!hasSMART()) {
        return true;
    }
    int64_t micros = getTimeInLongLong();
    int64_t now = micros / 1000000;
    {
        std::lock_guard<std::mutex> lock(smartWatchMutex());
        std::optional<int64_t>& remembered = smartWatchTime();
        if (!remembered) {
            remembered = now;
            return true;
        }
        if (now - *remembered < kSMARTCheckInterval) {
            return true;
        }
        remembered = now;
    }

    ProcessResult result = ProcessRunner::run(Paths::diskToolPath(), {"info", device});
    if (!result.started) {
        // Without its report the status is unknown, which is no failure.
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
            Utils::turnSpotlightOnOrOff("ON");
            System::terminate(kSMARTFailureExitStatus);
            // Only a test's exit hook comes back here: leave the scan.
            stopFlag_.store(true);
            return false;
        }
        start = end;
    }
    return true;
}

int ScanController::deviceStateBitForSuffix(const std::string& suffix) {
    static const std::pair<const char*, int> bits[] = {
        {".hdr", 1},    {".siz", 2},    {".ssx", 4},    {".skx", 8},    {".iss", 16},
        {".ssa", 32},   {".isk", 64},   {".ska", 128},  {".css", 256},  {".pss", 512},
        {".csk", 1024}, {".psk", 2048}, {".sst", 4096}, {".skt", 8192},
    };
    for (const auto& [name, bit] : bits) {
        if (suffix == name) {
            return bit;
        }
    }
    return 0;
}

int ScanController::determineDeviceState() {
    int state = 0;
    Quarrykit* kit = quarrykit();
    std::string prefix = filePrefix();
    if (kit == nullptr) {
        System::consoleLog("Device state unknown: no file utility component.");
    } else if (!prefix.empty()) {
        kit->setDirContents(tolvarinDir());
        for (const std::string& name : kit->dirContents()) {
            // Only prefix + suffix counts: another unit whose prefix merely
            // starts like this one (a longer date field) is not this unit.
            std::string suffix = kit->extractFileSuffix(name);
            if (name.size() == prefix.size() + suffix.size() && name.rfind(prefix, 0) == 0) {
                state += deviceStateBitForSuffix(suffix);
            }
        }
    }
    setDeviceState(state);
    return state;
}

void ScanController::doPostTestReset() {
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

// --- diagnostics records -----------------------------------------------------

bool ScanController::appendDiagRecord(const std::string& line) {
    std::string path = diagFile();
    if (path.empty()) {
        return false;
    }
    std::string error;
    if (!SafeFile::append(path, line, &error)) {
        System::consoleLog("Diagnostics record not written: " + error);
        return false;
    }
    return true;
}

bool ScanController::writeSurfaceStartTimeToDiagFile(const char* timeStamp) {
    bool ok = appendDiagRecord(formatText("SRTS:%s\n", timeStamp != nullptr ? timeStamp : ""));
    if (ok) {
        Logger::adjustFileOwnershipOnFile(diagFile());
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
        Logger::adjustFileOwnershipOnFile(diagFile());
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
