#include "app/DiagnosticsControl.h"

#include "app/GUIController.h"
#include "base/TextFormat.h"
#include "diagnostics/InterfaceTest.h"
#include "diagnostics/MemorySource.h"
#include "logging/Logger.h"
#include "logging/MessageCenter.h"
#include "platform/Env.h"
#include "platform/PosixRawDevice.h"
#include "platform/Privileges.h"
#include "platform/System.h"
#include "store/DataFilePrefix.h"
#include "store/DriveProcessor.h"
#include "store/Quarrykit.h"

#include <sys/stat.h>
#include <system_error>
#include <utility>

namespace tolvarin {

namespace {

const char* yesNo(bool value) {
    return value ? "YES" : "NO";
}

std::string count(int value) {
    return formatText("%d", value);
}

} // namespace

DiagnosticsControl::DiagnosticsControl(GUIController& hub) : hub_(hub) {}

DiagnosticsControl::~DiagnosticsControl() {
    stopForQuit();
    // The hub has waited for the thread while doing its work; collect it.
    joinThread();
}

// --- options ---------------------------------------------------------------------

DiagnosticsOptions DiagnosticsControl::options() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return options_;
}

void DiagnosticsControl::setOptions(const DiagnosticsOptions& options) {
    std::lock_guard<std::mutex> lock(mutex_);
    options_ = options;
    options_.clampIterations();
}

#define TOLVARIN_OPTION_SETTER(setter, Type, field)                                                \
    void DiagnosticsControl::setter(Type value) {                                                  \
        std::lock_guard<std::mutex> lock(mutex_);                                                  \
        options_.field = value;                                                                    \
        options_.clampIterations();                                                                \
    }
TOLVARIN_OPTION_SETTER(setAnalyzeErrorsAndIrregularities, bool, analyzeErrorsAndIrregularities)
TOLVARIN_OPTION_SETTER(setHistoricalAnalysis, bool, historicalAnalysis)
TOLVARIN_OPTION_SETTER(setPerformInterfaceTests, bool, performInterfaceTests)
TOLVARIN_OPTION_SETTER(setPerformMemoryTests, bool, performMemoryTests)
TOLVARIN_OPTION_SETTER(setInterfaceTestIterations, int, interfaceTestIterations)
TOLVARIN_OPTION_SETTER(setMemoryTestIterations, int, memoryTestIterations)
#undef TOLVARIN_OPTION_SETTER

void DiagnosticsControl::printDiagnosticsSettings() const {
    DiagnosticsOptions o = options();
    System::consoleLog(std::string(60, '-'));
    System::consoleLog(std::string("Analyze Errors and Irregularities: ") +
                       yesNo(o.analyzeErrorsAndIrregularities));
    System::consoleLog(std::string("Historical analysis: ") + yesNo(o.historicalAnalysis));
    System::consoleLog(std::string("Perform Interface Tests: ") + yesNo(o.performInterfaceTests));
    System::consoleLog(formatText("Interface Test Iteration Count: %d", o.interfaceTestIterations));
    System::consoleLog(std::string("Perform Memory Tests: ") + yesNo(o.performMemoryTests));
    System::consoleLog(formatText("Memory Test Iteration Count: %d", o.memoryTestIterations));
    System::consoleLog(std::string(60, '-'));
}

// --- buttons -----------------------------------------------------------------------

bool DiagnosticsControl::configureDiagnosticsButtonPressed() {
    if (hub_.underTest()) {
        MessageCenter::generateAlertDialogWithNumber(kTestUnderwayMessage);
        return false;
    }
    hub_.buttons().apply(ButtonTable::Event::diagnosticsOptionsOpened);
    return true;
}

bool DiagnosticsControl::confirmDiagnosticsOptions(const DiagnosticsOptions& choice) {
    if (choice.interfaceTestIterations > DiagnosticsOptions::kMaximumIterations ||
        choice.memoryTestIterations > DiagnosticsOptions::kMaximumIterations) {
        return false;
    }
    setOptions(choice);
    hub_.buttons().apply(ButtonTable::Event::diagnosticsOptionsConfirmed);
    return true;
}

void DiagnosticsControl::diagnosticsOptionsCancelled() {
    hub_.buttons().apply(ButtonTable::Event::diagnosticsOptionsCancelled);
}

bool DiagnosticsControl::startDiagnosticsButtonPressed() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        startProblem_.clear();
    }
    if (threadRunning() || hub_.testRunning() || hub_.underTest()) {
        // Buttons keep this from happening in a window; a script may try.
        MessageCenter::generateAlertDialogWithNumber(kDiagnosticsRunningMessage);
        std::lock_guard<std::mutex> lock(mutex_);
        startProblem_ = "A test or a diagnostics run is already under way.";
        return false;
    }
    joinThread();
    hub_.setNormalScan(false);
    if (hub_.services().systemItemsLoaded()) {
        hub_.disableSystemItems();
    }
    return startDiagnosticsScan();
}

void DiagnosticsControl::stopDiagnosticsButtonPressed() {
    System::consoleLog("Stop diagnostics button pressed by user.");
    setDiagnosticsRunning(false);
    resetButtons();
}

void DiagnosticsControl::stopForQuit() {
    setDiagnosticsRunning(false);
}

// --- the first half ------------------------------------------------------------------

bool DiagnosticsControl::refuse(const std::string& problem) {
    System::consoleLog("Diagnostics not started: " + problem);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        startProblem_ = problem;
    }
    resetButtons();
    // Services turned off for a run that never began come back on now.
    hub_.enableSystemItems();
    return false;
}

bool DiagnosticsControl::saveLogFileDialog() {
    // The user browses their own folders with their own rights.
    Privileges::dropTo(hub_.uid());
    std::string proposed = "Log" + Logger::currentTimeStamp() + ".txt";
    std::optional<std::string> chosen = hub_.view().askLogFileName(Logger::documentDir(), proposed);
    Privileges::acquire();
    if (!chosen || chosen->empty()) {
        return false;
    }
    Logger::setUserLogFileNameAndPathWithString(*chosen);
    return true;
}

std::optional<std::string> DiagnosticsControl::matchUnitFiles(std::string* dataDirectory) {
    std::shared_ptr<Quarrykit> kit = hub_.quarrykit();
    if (!kit) {
        kit = Quarrykit::load();
        if (!kit) {
            hub_.endProgram(-1);
            return std::nullopt;
        }
        hub_.setQuarrykit(kit);
    }
    auto drives =
        std::make_shared<DriveProcessor>(hub_.selection().currentMediaArray(), hub_.userName(),
                                         hub_.userHomeDir(), *kit, hub_.env());
    *dataDirectory = drives->tolvarinDir();
    if (!drives->catalogueReady()) {
        if (drives->exitStatus() != 0) {
            hub_.endProgram(drives->exitStatus());
        }
        return std::nullopt;
    }
    hub_.setDriveProcessor(drives);
    return DataFilePrefix::find(drives->currentDataFiles(), hub_.selection().targetDriveInfo());
}

bool DiagnosticsControl::loadHistory(const std::string& path) {
    DiagnosticsHistory loaded = DiagnosticsHistory::loadDiagTestDataIntoArray(path);
    const std::string log = Logger::logFileNameAndPath();
    if (!loaded.problem().empty()) {
        Logger::writeDataToLogFile(log, "The diagnostics history could not be read: %s\n",
                                   loaded.problem().c_str());
    }
    const auto& refused = loaded.refused();
    for (std::size_t i = 0; i < refused.size() && i < kRefusalsLogged; ++i) {
        Logger::writeDataToLogFile(log, "Diagnostics history line %d refused (%s): %s\n",
                                   refused[i].line, refused[i].reason.c_str(),
                                   refused[i].text.c_str());
    }
    if (refused.size() > kRefusalsLogged) {
        Logger::writeDataToLogFile(log,
                                   "%zu more damaged lines of the diagnostics history "
                                   "were refused.\n",
                                   refused.size() - kRefusalsLogged);
    }
    if (!refused.empty()) {
        System::consoleLog(
            formatText("%zu damaged lines of %s refused", refused.size(), path.c_str()));
    }
    std::lock_guard<std::mutex> lock(mutex_);
    history_ = std::move(loaded);
    return true;
}

bool DiagnosticsControl::startDiagnosticsScan() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        history_ = DiagnosticsHistory();
        historyFile_.clear();
        run_.reset();
    }
    std::string dataDirectory;
    std::optional<std::string> prefix = matchUnitFiles(&dataDirectory);
    if (!prefix) {
        return refuse("The data directory could not be used: " + dataDirectory);
    }
    DiagnosticsOptions o = options();
    if (!o.anySelected()) {
        MessageCenter::generateAlertDialogWithNumber(kNothingSelectedMessage);
        return refuse("No diagnostic test is selected.");
    }
    const Media unit = hub_.selection().data();
    std::string description;
    if (unit.isPrimaryDisk()) {
        if (o.performInterfaceTests) {
            MessageCenter::generateAlertDialogWithNumber(kPrimaryDiskInterfaceMessage);
            return refuse("The interface test needs a volume, not a whole disk.");
        }
        description =
            unit.primaryDiskSize() + " Primary Disk, Current ID:  " + unit.primaryDiskID();
    } else {
        description = unit.volumePartitionSize() + " Volume Named:  " + unit.volumeName() +
                      " , Volume ID: " + unit.volumeDiskID();
    }
    Logger::setVolumeOrDiskID(description);
    Logger::setSmartStatus(unit.SMARTStatus());
    Logger::setTypeOfTest("Diagnostics Scan");
    hub_.selection().setFileNamePrefix(*prefix);
    Logger::setFilePrefix(*prefix);
    Logger::setLogFileNameAndPath();
    if (!saveLogFileDialog()) {
        return refuse("No log file was chosen.");
    }
    const std::string log = Logger::logFileNameAndPath();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        logFile_ = log;
    }
    bool privileged = Privileges::acquire();
    System::consoleLog(privileged ? "setuid() succeeded" : "setuid() FAILED!!");
    if (!Logger::startLoggingOnDrive(hub_.rawTargetDevice(), unit)) {
        return refuse("The log file cannot be written: " + log);
    }

    if (o.analyzeErrorsAndIrregularities) {
        // Without a prefix the unit has no files: no history either.
        const std::string path =
            prefix->empty() ? std::string() : dataDirectory + "/" + *prefix + ".dia";
        struct stat st {};
        const bool isFile = !path.empty() && ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
        if (!isFile) {
            if (!o.performInterfaceTests && !o.performMemoryTests) {
                MessageCenter::generateAlertDialogWithNumber(kNoHistoryMessage);
                return refuse("The unit has no diagnostics history.");
            }
            if (MessageCenter::generateAlertDialogWithNumber(kNoHistoryOtherTestsMessage) == 0) {
                return refuse("The unit has no diagnostics history; the run was not continued.");
            }
            // For this run and later ones, as the window will show.
            setAnalyzeErrorsAndIrregularities(false);
            setHistoricalAnalysis(false);
            o = options();
        } else {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                historyFile_ = path;
            }
            loadHistory(path);
        }
    }
    return startThread(o);
}

bool DiagnosticsControl::startThread(const DiagnosticsOptions& options) {
    const Media unit = hub_.selection().data();
    DiagnosticsUnit target;
    target.rawDevice = hub_.rawTargetDevice();
    target.primaryDisk = unit.isPrimaryDisk();
    target.volumeIdentifier = unit.isPrimaryDisk() ? std::string() : unit.volumeDiskID();
    target.volumeName = unit.volumeName();
    std::shared_ptr<DiagnosticsRun> run;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        run =
            std::make_shared<DiagnosticsRun>(*this, options, history_.scanSets(), target, logFile_);
        run_ = run;
    }
    setDiagnosticsRunning(true);
    // The buttons before the thread: a short run could otherwise end (and
    // reset them) before they were set.
    hub_.buttons().apply(ButtonTable::Event::diagnosticsStartAccepted);
    std::lock_guard<std::mutex> lock(threadMutex_);
    threadRunning_.store(true);
    try {
        thread_ = std::thread([this, run] {
            run->doDiagnosticsTests();
            hub_.view().diagnosticsEnded();
            threadRunning_.store(false);
            hub_.mainThread_.notify();
        });
    } catch (const std::system_error& e) {
        threadRunning_.store(false);
        setDiagnosticsRunning(false);
        return refuse(std::string("The diagnostics thread could not be started: ") + e.what());
    }
    return true;
}

void DiagnosticsControl::joinThread() {
    std::thread finished;
    {
        std::lock_guard<std::mutex> lock(threadMutex_);
        if (!thread_.joinable() || thread_.get_id() == std::this_thread::get_id()) {
            return;
        }
        finished = std::move(thread_);
    }
    finished.join();
}

// --- what the faces read ---------------------------------------------------------------

std::string DiagnosticsControl::startProblem() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return startProblem_;
}

DiagnosticsOutcome DiagnosticsControl::lastOutcome() const {
    std::shared_ptr<DiagnosticsRun> run;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        run = run_;
    }
    return run ? run->outcome() : DiagnosticsOutcome{};
}

DiagnosticsHistory DiagnosticsControl::history() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return history_;
}

std::string DiagnosticsControl::historyFile() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return historyFile_;
}

std::string DiagnosticsControl::logFile() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return logFile_;
}

DiagnosticsPaneValues DiagnosticsControl::pane() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pane_;
}

void DiagnosticsControl::zeroResults() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        fields_ = DiagnosticsPaneValues{};
        pane_ = DiagnosticsPaneValues{};
    }
    hub_.view().diagnosticsStatsChanged();
}

// --- collaborators ---------------------------------------------------------------------

void DiagnosticsControl::setDeviceOpener(DeviceOpener opener) {
    std::lock_guard<std::mutex> lock(mutex_);
    opener_ = std::move(opener);
}

void DiagnosticsControl::setMemorySource(std::shared_ptr<MemorySource> source) {
    std::lock_guard<std::mutex> lock(mutex_);
    memorySource_ = std::move(source);
}

void DiagnosticsControl::setMountPointFinder(MountPointFinder finder) {
    std::lock_guard<std::mutex> lock(mutex_);
    mountPointFinder_ = std::move(finder);
}

// --- DiagnosticsHost ---------------------------------------------------------------------

Env& DiagnosticsControl::env() {
    return hub_.env();
}

void DiagnosticsControl::updateDiagnosticStats(const DiagnosticsProgress& progress) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        fields_.currentDiagnosticsTest = progress.currentTest;
        fields_.diagnosticsCurrentProgress = progress.currentProgress;
        fields_.diagnosticsOverallProgress = progress.overallProgress;
        const DiagnosticsCounters& c = progress.counters;
        fields_.diagnosticsWeakBlockCount = count(c.weakBlocks);
        fields_.diagnosticsBadBlockCount = count(c.badBlocks);
        fields_.diagnosticsProbableSystemFaults = count(c.probableSystemFaults);
        fields_.diagnosticsMemoryErrors = count(c.memoryErrors);
        fields_.diagnosticsInterfaceErrors = count(c.interfaceErrors);
        fields_.diagnosticsSeekErrors = count(c.seekErrors);
    }
    hub_.performOnMainThreadAndWait([this] { processDiagnosticStats(); });
}

void DiagnosticsControl::processDiagnosticStats() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pane_ = fields_;
    }
    hub_.view().diagnosticsStatsChanged();
}

void DiagnosticsControl::setUnderTest(bool value) {
    hub_.progress().setUnderTest(value);
}

void DiagnosticsControl::resetButtons() {
    hub_.buttons().apply(ButtonTable::Event::resetButtons);
    hub_.progress().setUnderTest(false);
}

void DiagnosticsControl::enableSystemItemsFromDiagnosticsThread() {
    hub_.performOnMainThreadAndWait([this] { hub_.enableSystemItems(); });
}

void DiagnosticsControl::spinner(SpinnerAction action, int64_t location) {
    hub_.progress().spinner(SpinnerPane::diagnostics, SpinnerScan::surface, action, location);
}

std::unique_ptr<RawDevice> DiagnosticsControl::openDevice(const std::string& path) {
    DeviceOpener opener;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        opener = opener_;
    }
    if (opener) {
        return opener(path);
    }
    return PosixRawDevice::open(path, PosixRawDevice::Access::ReadOnly);
}

MemorySource& DiagnosticsControl::memorySource() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!memorySource_) {
        memorySource_ = MemorySource::system();
    }
    return *memorySource_;
}

std::optional<std::string> DiagnosticsControl::volumeMountPoint(std::string* problem) {
    MountPointFinder finder;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        finder = mountPointFinder_;
    }
    if (finder) {
        return finder(problem);
    }
    const Media unit = hub_.selection().data();
    return InterfaceTest::mountPointOf(
        hub_.env(), unit.isPrimaryDisk() ? std::string() : unit.volumeDiskID(), problem);
}

} // namespace tolvarin
