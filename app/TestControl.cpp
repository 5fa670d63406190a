#include "app/TestControl.h"

#include "app/GUIController.h"
#include "diagnostics/BadBlockRepair.h"
#include "engine/CursoryScan.h"
#include "engine/NormalScan.h"
#include "engine/ScanController.h"
#include "logging/Logger.h"
#include "logging/MessageCenter.h"
#include "platform/Env.h"
#include "platform/FileLock.h"
#include "platform/Paths.h"
#include "platform/Privileges.h"
#include "platform/SafeFile.h"
#include "platform/System.h"
#include "store/DataFilePrefix.h"
#include "store/DriveProcessor.h"
#include "store/IntegrityChecker.h"
#include "store/MeasurementFile.h"
#include "store/Quarrykit.h"
#include "store/TestLocks.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace tolvarin {

namespace {

constexpr int kConfirmLaunchMessage = 0;
constexpr int kNoCursoryTestMessage = 5;
constexpr int kOrphanedFilesMessage = 1014;
// The status the program ends with when the file utility cannot be loaded.
constexpr int kMissingComponentExitStatus = -1;

} // namespace

TestControl::TestControl(GUIController& hub) : hub_(hub) {}

std::string TestControl::startProblem() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return startProblem_;
}

void TestControl::setProblem(const std::string& problem) {
    std::lock_guard<std::mutex> lock(mutex_);
    startProblem_ = problem;
}

bool TestControl::refuseWhileATestEnds() {
    if (hub_.underTest() || !hub_.scanController().scanThreadRunning()) {
        return true;
    }
    // A stopped test may still be asking its stop question. Starting now
    // would switch the mode it reads and prepare a new device context under
    // it; its buttons and services are its own to reset.
    setProblem("The previous test has not ended yet.");
    return false;
}

bool TestControl::refuseStart(const std::string& problem) {
    releaseLocks();
    hub_.resetButtons();
    // Services turned off for a test that never ran come back on now, not
    // only at the end of some later test.
    hub_.enableSystemItems();
    setProblem(problem);
    return false;
}

// --- buttons -------------------------------------------------------------------

bool TestControl::startButtonSelected(bool normal) {
    if (!refuseWhileATestEnds()) {
        return false;
    }
    hub_.setNormalScan(normal);
    if (!hub_.underTest()) {
        if (hub_.services().systemItemsLoaded()) {
            hub_.disableSystemItems();
        }
        return startInitialScan();
    }
    // Paused: the same press resumes without preparing anything again.
    ScanController& controller = hub_.scanController();
    controller.setStopFlag(false);
    controller.setPauseFlag(false);
    hub_.buttons().apply(normal ? ButtonTable::Event::normalStartAccepted
                                : ButtonTable::Event::cursoryStartAccepted);
    System::consoleLog("TARGETED DEVICE: " + hub_.rawTargetDevice());
    System::consoleLog("MATCHING DATA FILE PREFIX: " + hub_.fileNamePrefix());
    return true;
}

void TestControl::pauseButtonSelected(bool normal) {
    ScanController& controller = hub_.scanController();
    controller.setPauseFlag(true);
    controller.setStopFlag(false);
    hub_.setNormalScan(normal);
    hub_.buttons().apply(normal ? ButtonTable::Event::normalPause
                                : ButtonTable::Event::cursoryPause);
}

void TestControl::stopButtonSelected(bool normal) {
    hub_.setNormalScan(normal);
    hub_.progress().setUnderTest(false);
    hub_.buttons().apply(normal ? ButtonTable::Event::normalStop : ButtonTable::Event::cursoryStop);
    ScanController& controller = hub_.scanController();
    controller.setStopFlag(true);
    controller.setPauseFlag(false);
    controller.stopThread();
}

void TestControl::stopForQuit() {
    ScanController& controller = hub_.scanController();
    if (!controller.scanThreadRunning()) {
        return;
    }
    hub_.progress().setUnderTest(false);
    controller.setPauseFlag(false);
    controller.stopThread();
}

// --- the start -----------------------------------------------------------------

bool TestControl::startInitialScan() {
    const bool normal = hub_.normalScan();
    ScanController& controller = hub_.scanController();
    setProblem("");
    controller.resetResults(normal);
    if (!refuseWhileATestEnds()) {
        return false;
    }
    const CursoryOptions& options = hub_.cursoryOptions();
    if (!normal && !options.doSurfaceScan() && !options.doSeekScan()) {
        MessageCenter::generateAlertDialogWithNumber(kNoCursoryTestMessage);
        return refuseStart("Neither the surface scan nor the seek scan is selected.");
    }
    if (!lockDevice()) {
        return refuseStart(startProblem());
    }
    if (MessageCenter::generateAlertDialogWithNumber(kConfirmLaunchMessage) == 0) {
        return refuseStart("The test was cancelled.");
    }
    // The catalogue comes before the log is named: a data directory that
    // cannot be used, or a unit whose files another test holds, is refused
    // before a log is announced.
    if (normal && !prepareCatalogue()) {
        return refuseStart(startProblem());
    }
    Logger::setLogFileNameAndPath();
    if (!saveLogFileDialog()) {
        return refuseStart("No log file was chosen.");
    }

    Media unit = hub_.selection().data();
    if (unit.isPrimaryDisk()) {
        Logger::setVolumeOrDiskID(unit.primaryDiskSize() +
                                  " Primary Disk, Current ID:  " + unit.primaryDiskID());
    } else {
        Logger::setVolumeOrDiskID(unit.volumePartitionSize() + " Volume Named:  " +
                                  unit.volumeName() + " , Volume ID: " + unit.volumeDiskID());
    }
    Logger::setSmartStatus(unit.SMARTStatus());
    Logger::setTypeOfTest(normal ? "Normal" : "Cursory");

    bool privileged = Privileges::acquire();
    System::consoleLog(privileged ? "setuid() succeeded" : "setuid() FAILED!!");

    if (!prepare(normal)) {
        releaseLocks();
        hub_.progress().setUnderTest(false);
        // Before the rights are given up: switching services needs them.
        hub_.enableSystemItems();
        Privileges::dropTo(hub_.uid());
        return false;
    }

    hub_.progress().setUnderTest(true);
    hub_.progress().zeroResults();
    controller.setStopFlag(false);
    controller.setPauseFlag(false);
    // The buttons are set before the thread starts: a short test could
    // otherwise end (and reset them) before they were set.
    hub_.buttons().apply(normal ? ButtonTable::Event::normalStartAccepted
                                : ButtonTable::Event::cursoryStartAccepted);
    Env& env = hub_.env();
    controller.updateResults([&](TestResults& r) {
        r.started = true;
        r.startMicros = env.monotonicMicros();
        r.startWallMicros = env.wallMicros();
        r.startStamp = getTimeStamp(env);
    });
    System::consoleLog("TARGETED DEVICE: " + hub_.rawTargetDevice());
    System::consoleLog("MATCHING DATA FILE PREFIX: " + hub_.fileNamePrefix());
    if (!controller.startScanThread()) {
        releaseLocks();
        controller.releaseDiskContext();
        controller.updateResults([](TestResults& r) { r.started = false; });
        return refuseStart("The scan thread could not be started.");
    }
    return true;
}

bool TestControl::saveLogFileDialog() {
    // The user browses their own folders with their own rights.
    Privileges::dropTo(hub_.uid());
    std::string proposed = "Log" + Logger::currentTimeStamp() + ".txt";
    std::optional<std::string> chosen = hub_.view().askLogFileName(Logger::documentDir(), proposed);
    Privileges::acquire();
    if (chosen && !chosen->empty()) {
        Logger::setUserLogFileNameAndPathWithString(*chosen);
        return true;
    }
    if (!hub_.services().systemItemsLoaded()) {
        hub_.enableSystemItems();
    }
    return false;
}

bool TestControl::prepare(bool normal) {
    ScanController& controller = hub_.scanController();
    controller.setErrorLimit(hub_.errorLimit());
    controller.setMediaRecord(hub_.selection().data());
    if (!normal) {
        controller.setTolvarinDir(Logger::tolvarinDir());
        // A cursory test of a stored unit keeps its measurements with the
        // unit's; finding it writes nothing.
        controller.setMeasurementPrefix(MeasurementArchive::findPrefix(
            Logger::tolvarinDir(), hub_.selection().targetDriveInfo()));
    }
    if (!controller.initializeScanOnDrive(hub_.rawTargetDevice(), hub_.fileNamePrefix())) {
        // The preparation has reset the buttons and says why.
        setProblem(controller.preparationProblem());
        return false;
    }
    return true;
}

bool TestControl::prepareCatalogue() {
    ScanController& controller = hub_.scanController();
    auto refuse = [&](const std::string& problem) {
        System::consoleLog(problem);
        setProblem(problem);
        hub_.resetButtons();
        return false;
    };

    std::shared_ptr<Quarrykit> kit = hub_.quarrykit();
    if (!kit) {
        // Loaded once; without it the program cannot keep its data.
        kit = Quarrykit::load();
        if (!kit) {
            hub_.endProgram(kMissingComponentExitStatus);
            return refuse("The file utility component could not be loaded.");
        }
        hub_.setQuarrykit(kit);
    }
    // One catalogue at a time: two new units started together get distinct
    // prefixes, and a unit's prefix lock is taken before another start may
    // clear scratch files.
    const std::string dir = dataDirectory();
    FileLock catalogue;
    if (SafeFile::makeDirectories(dir)) {
        FileLock::Outcome outcome = FileLock::Outcome::failed;
        catalogue = FileLock::acquire(TestLocks::catalogueLockPath(dir), true, &outcome);
    }
    auto drives =
        std::make_shared<DriveProcessor>(hub_.selection().currentMediaArray(), hub_.userName(),
                                         hub_.userHomeDir(), *kit, hub_.env());
    if (!drives->catalogueReady()) {
        // Refused, not ended: the face says why and how the test ended.
        if (drives->unitLimitReached()) {
            return refuse("No data files can be kept for another unit: Tolvarin is limited to " +
                          std::to_string(DriveProcessor::kMaximumUnits) + " units.");
        }
        return refuse("The data directory could not be used: " + drives->tolvarinDir() +
                      (drives->problem().empty() ? "" : " (" + drives->problem() + ")"));
    }
    hub_.setDriveProcessor(drives);
    std::string prefix =
        DataFilePrefix::find(drives->currentDataFiles(), hub_.selection().targetDriveInfo());
    // No match leaves no prefix rather than the one of the unit tested
    // before: its files must not receive this unit's results.
    if (prefix.empty()) {
        System::consoleLog("No drive header matches the unit under test.");
    } else {
        FileLock::Outcome outcome = FileLock::Outcome::failed;
        std::string error;
        FileLock unit = FileLock::acquire(TestLocks::unitLockPath(drives->tolvarinDir(), prefix),
                                          false, &outcome, &error);
        if (outcome == FileLock::Outcome::held) {
            return refuse("Another test is using the data files of this unit (" + prefix +
                          "); this test was not started.");
        }
        if (outcome == FileLock::Outcome::failed) {
            return refuse("The data directory could not be used: " + error);
        }
        std::lock_guard<std::mutex> lock(mutex_);
        unitLock_ = std::move(unit);
    }
    offerToRemoveOrphans(drives->tolvarinDir());
    hub_.selection().setFileNamePrefix(prefix);
    controller.setDriveProcessor(drives);
    controller.setQuarrykit(kit.get());
    return true;
}

void TestControl::offerToRemoveOrphans(const std::string& dir) {
    std::vector<std::string> orphans = IntegrityChecker::orphanedFiles(dir);
    if (orphans.empty()) {
        return;
    }
    for (const std::string& path : orphans) {
        System::consoleLog("Data file without a drive header: " + path);
    }
    // "Keep" is the default: only an explicit "Delete" removes them.
    if (MessageCenter::generateAlertDialogWithNumber(kOrphanedFilesMessage) !=
        MessageCenter::kAlternateAnswer) {
        return;
    }
    for (const std::string& path : orphans) {
        if (::unlink(path.c_str()) != 0) {
            System::consoleLog("Could not delete " + path + ": " + std::strerror(errno));
        }
    }
}

std::string TestControl::dataDirectory() const {
    std::string home = hub_.userHomeDir();
    return (home.empty() ? Paths::homeDirectory() : home) + DriveProcessor::kDataDirectoryTail;
}

bool TestControl::lockDevice() {
    std::string key = FileLock::unitKey(hub_.rawTargetDevice());
    std::string dir = dataDirectory();
    if (key.empty() || !SafeFile::makeDirectories(dir)) {
        // Nothing to lock it by (the open says why), or no data directory
        // (a normal test's catalogue says why; a cursory test needs none).
        return true;
    }
    FileLock::Outcome outcome = FileLock::Outcome::failed;
    FileLock lock = FileLock::acquire(TestLocks::deviceLockPath(dir, key), false, &outcome);
    if (outcome == FileLock::Outcome::held) {
        setProblem("Another test is using this unit (" + hub_.rawTargetDevice() +
                   "); this test was not started.");
        return false;
    }
    std::lock_guard<std::mutex> guard(mutex_);
    deviceLock_ = std::move(lock);
    return true;
}

void TestControl::releaseLocks() {
    std::lock_guard<std::mutex> lock(mutex_);
    unitLock_.release();
    deviceLock_.release();
}

// --- the scan thread's bodies ----------------------------------------------------

void TestControl::runCursoryTest(ScanController& controller) {
    CursoryScan scan(controller, hub_.progress());
    scan.setRepairHook([&controller](int index, const char* logFile) {
        BadBlockRepair(controller).doDiskRepairOnIndex(index, logFile);
    });
    scan.doCursoryScanTest();
    recordTestEnd(controller.stopFlag(), false,
                  controller.unitGone() ? std::string(ScanController::kUnitGoneText) + "."
                                        : std::string());
}

void TestControl::runNormalTest(ScanController& controller) {
    NormalScan scan(controller, hub_.progress());
    scan.setReportWriter(&hub_.reportWriter());
    scan.doFormalScanTest();
    const NormalScan::Outcome outcome = scan.outcome();
    std::string problem;
    switch (outcome) {
    case NormalScan::Outcome::Refused:
        problem = "The unit's data files could not be used or the scan could not run (see the "
                  "log).";
        break;
    case NormalScan::Outcome::Failed:
        problem = "A data file could not be written; the test was undone (see the log).";
        break;
    case NormalScan::Outcome::NoPhase:
        problem = "The unit's data files are in no state a normal test continues from.";
        break;
    case NormalScan::Outcome::NotRun:
        problem = "The unit was not prepared.";
        break;
    default:
        break;
    }
    const std::string restore = controller.results().restoreProblem;
    if (!restore.empty()) {
        problem = outcome == NormalScan::Outcome::Failed
                      ? "A data file could not be written, and the test could not be undone. "
                      : "The scan could not run to its end, and the test could not be undone. ";
        problem += restore;
    }
    if (controller.unitGone()) {
        problem = std::string(ScanController::kUnitGoneText) +
                  "; the test was saved as stopped and resumes at the next normal test.";
    }
    const bool completed = outcome == NormalScan::Outcome::Completed;
    recordTestEnd(!completed, completed, problem);
}

void TestControl::recordTestEnd(bool stopped, bool completed, const std::string& problem) {
    Logger::flushRepeatedLines();
    if (!problem.empty()) {
        setProblem(problem);
    }
    Env& env = hub_.env();
    hub_.scanController().updateResults([&](TestResults& r) {
        r.ended = true;
        r.stopped = stopped;
        r.completed = completed;
        r.endMicros = env.monotonicMicros();
        r.endWallMicros = env.wallMicros();
        r.endStamp = getTimeStamp(env);
        r.logProblem = Logger::logCutReason(Logger::logFileNameAndPath());
    });
    releaseLocks();
    hub_.mainThread_.notify();
    hub_.view().testEnded();
}

} // namespace tolvarin
