#include "engine/NormalScan.h"

#include "engine/DiskContext.h"
#include "engine/ReportWriter.h"
#include "engine/ScanController.h"
#include "engine/ScanHost.h"
#include "engine/SeekScan.h"
#include "engine/SizingSweep.h"
#include "logging/Logger.h"
#include "logging/MessageCenter.h"
#include "platform/RawDevice.h"
#include "platform/SafeFile.h"
#include "platform/System.h"
#include "store/DataFileFormat.h"
#include "store/DataFileSet.h"
#include "store/DriveProcessor.h"
#include "store/FileProcessor.h"
#include "store/IntegrityChecker.h"
#include "store/Quarrykit.h"
#include "store/RunJournal.h"

#include <cerrno>
#include <cstdarg>
#include <sys/stat.h>

namespace tolvarin {

const char* const NormalScan::kDataFileHeader =
    "***** IMPORTANT: DO NOT EDIT, RENAME, OR DELETE THIS FILE!!!! *****\n\n";
const char* const NormalScan::kAllTestsCompleteLine =
    "\n         ---------- ALL TESTS ON THIS UNIT ARE NOW COMPLETE ----------\n";

namespace {

bool present(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 || errno != ENOENT;
}

} // namespace

NormalScan::NormalScan(ScanController& controller, ScanHost& host)
    : controller_(controller), host_(host) {}

NormalScan::~NormalScan() = default;

void NormalScan::installOn(ScanController& controller, std::function<void(Outcome)> report) {
    controller.setFormalScanBody([report](ScanController& c) {
        NormalScan scan(c, c.guiController());
        scan.doFormalScanTest();
        if (report) {
            report(scan.outcome());
        }
    });
}

bool NormalScan::isPhaseState(int state) {
    switch (state) {
    case kBaseFiles:
    case kInitialSurfaceUnderWay:
    case kInitialSurfaceDone:
    case kInitialSeekUnderWay:
    case kInitialScansDone:
    case kAtRest:
    case kNewSurfaceScan:
    case kSurfaceUnderWay:
    case kSurfaceFolded:
    case kNewSeekScan:
    case kSeekUnderWay:
    case kSeekFolded:
        return true;
    default:
        return false;
    }
}

bool NormalScan::startDataFile(const std::string& path) {
    std::string error;
    if (!SafeFile::replace(path, kDataFileHeader, &error)) {
        System::consoleLog("Data file not started: " + error);
        return false;
    }
    Logger::adjustFileOwnershipOnFile(path);
    return true;
}

void NormalScan::log(const char* format, ...) {
    va_list args;
    va_start(args, format);
    Logger::vwriteDataToLogFile(logFile_, format, args);
    va_end(args);
}

// --- preparation ------------------------------------------------------------------

bool NormalScan::prepareUnitFiles(DiskContext& disk) {
    logFile_ = controller_.testLogFile();
    Quarrykit* kit = controller_.quarrykit();
    const std::string dir = controller_.tolvarinDir();
    const std::string prefix = controller_.filePrefix();
    if (kit == nullptr) {
        return controller_.refusePreparation(
            "The file utility component is not loaded; the normal test "
            "cannot keep its data.");
    }
    if (dir.empty()) {
        return controller_.refusePreparation(
            "No data directory is known; the normal test cannot keep its "
            "data.");
    }
    // Without the unit's own prefix the data files would be named after
    // nothing, or after another unit.
    if (!DataFileSet::isUsablePrefix(prefix)) {
        return controller_.refusePreparation(
            "The unit has no drive header file in the data directory; the "
            "normal test cannot keep its data.");
    }
    controller_.setFileProcessor(std::make_shared<FileProcessor>());
    FileProcessor& files = *controller_.fileProcessor();

    RunJournal journal(*kit, dir, prefix);
    if (journal.underWay()) {
        log("SCAN CONTROLLER: The last normal test of this unit ended without a decision about "
            "its files; they are returned to their state before that test.\n");
        if (!journal.rollBack() && journal.underWay()) {
            // A backup file could not be put back: the record and the backup
            // stay for the next start, and no test may change the files now.
            return controller_.refusePreparation(
                "The files of this unit could not be returned to their state before its "
                "interrupted test. " +
                journal.rollBackProblem());
        }
    }

    int state = controller_.determineDeviceState();
    if ((state & kHeaderOnly) == 0) {
        return controller_.refusePreparation(
            "The drive header file of this unit is missing: " + dir + "/" + prefix + ".hdr");
    }
    if ((state & kBaseFiles) != kBaseFiles) {
        // A unit seen for the first time gets its index files. One whose
        // first start ended before all three were written, or one that lost
        // one of them, gets the rest (they follow from the unit alone);
        // otherwise no phase would ever start from its files.
        bool made = true;
        if ((state & 2) == 0) {
            made = files.processSizFileWithPath(dir, prefix, disk.detectedSize) && made;
        }
        if ((state & 4) == 0) {
            made = files.processSsxFileWithPath(dir, prefix, disk) && made;
        }
        if ((state & 8) == 0) {
            made = files.processSkxFileWithPath(dir, prefix, disk) && made;
        }
        if (!made) {
            return controller_.refusePreparation(
                "The index files of this unit could not be written in " + dir);
        }
        state = controller_.determineDeviceState();
    }
    controller_.setDeviceState(state);
    controller_.setUnitFiles(DataFileSet(dir, prefix));
    return true;
}

// --- the sequence -----------------------------------------------------------------

void NormalScan::doFormalScanTest() {
    outcome_ = Outcome::NotRun;
    DiskContext* disk = controller_.disk();
    logFile_ = controller_.testLogFile();
    Quarrykit* kit = controller_.quarrykit();
    const std::string dir = controller_.tolvarinDir();
    const std::string prefix = controller_.filePrefix();
    if (disk == nullptr || !disk->device || kit == nullptr ||
        !DataFileSet::isUsablePrefix(prefix) || !controller_.fileProcessor()) {
        System::consoleLog("Normal test without a prepared unit; nothing scanned.");
        host_.enableSystemItemsFromScanController();
        host_.resetButtons();
        controller_.releaseDiskContext();
        return;
    }
    journal_ = std::make_unique<RunJournal>(*kit, dir, prefix);

    auto checker = std::make_shared<IntegrityChecker>(controller_.deviceState(), dir, *kit, prefix);
    controller_.setFileChecker(checker);
    SizingSweep::doSweepSectorAllocationWithFile(*disk, dir + "/" + prefix + ".ssx",
                                                 logFile_.c_str());
    if (checker->exitStatus() != 0) {
        host_.endProgram(checker->exitStatus());
    }
    if (checker->resetFlag()) {
        host_.enableSystemItemsFromScanController();
        controller_.doPostTestReset();
        outcome_ = Outcome::Refused;
        return;
    }
    int state = checker->deviceState();
    controller_.setDeviceState(state);

    state = askResumeQuestion(state);
    if (state <= 254) {
        Logger::setConfirmedSurfaceOddities(0);
        Logger::setConfirmedSeekOddities(0);
    }

    const std::string prev = dir + "/prev";
    kit->makeDirectoryAtPath(prev);
    Logger::adjustFileOwnershipOnFile(prev);
    if (!journal_->begin()) {
        // Without a backup neither "Don't Save" nor an interruption could
        // give the unit back as it was.
        log("SCAN CONTROLLER: The files of this unit could not be backed up in %s; the test was "
            "not started.\n",
            prev.c_str());
        host_.enableSystemItemsFromScanController();
        host_.resetButtons();
        controller_.releaseDiskContext();
        outcome_ = Outcome::Failed;
        return;
    }

    outcome_ = runPhases(state);
    controller_.releaseDiskContext();
}

int NormalScan::askResumeQuestion(int state) {
    switch (state) {
    case kInitialSurfaceUnderWay:
        return MessageCenter::generateAlertDialogWithNumber(kResumeInitialSurfaceMessage) == 0
                   ? kBaseFiles
                   : kInitialSurfaceUnderWay;
    case kInitialSeekUnderWay: {
        int answer = MessageCenter::generateAlertDialogWithNumber(kResumeInitialSeekMessage);
        if (answer == 1) {
            return kInitialSeekUnderWay;
        }
        if (answer == -1) {
            return kInitialSurfaceDone;
        }
        // Starting over takes the surface average with the baselines: left
        // behind it would make a later stop look like a finished initial
        // surface scan.
        controller_.deleteInitialScanFilesWithFilePrefix(controller_.filePrefix());
        remove(controller_.unitFiles().ssaFile());
        return kBaseFiles;
    }
    case kSurfaceUnderWay:
        return MessageCenter::generateAlertDialogWithNumber(kResumeSurfaceMessage) == 0
                   ? kNewSurfaceScan
                   : kSurfaceUnderWay;
    case kSeekUnderWay:
        return MessageCenter::generateAlertDialogWithNumber(kResumeSeekMessage) == 0
                   ? kNewSeekScan
                   : kSeekUnderWay;
    default:
        return state;
    }
}

SurfaceScan::StoreHooks NormalScan::storeHooks() {
    SurfaceScan::StoreHooks hooks;
    hooks.extractSurfaceDataFromFile = [this](const std::string& file) {
        return controller_.extractSurfaceDataFromFile(file);
    };
    hooks.deleteCurrentBackupFilesWithFilePrefix = [this](const std::string&) {
        journal_->commit();
        // "Save": the measurements so far are kept with the saved files.
        controller_.endMeasurements("saved", true);
    };
    hooks.restorePreviousTestFilesWithFilePrefix = [this](const std::string& prefix) {
        if (!journal_->rollBack()) {
            controller_.restorePreviousTestFilesWithFilePrefix(prefix);
        }
    };
    hooks.deleteAllFilesWithFilePrefix = [this](const std::string& prefix) {
        journal_->discard();
        controller_.deleteAllFilesWithFilePrefix(prefix);
    };
    return hooks;
}

bool NormalScan::surfaceScan(const std::string& dataFile) {
    SurfaceScan scan(controller_, host_);
    scan.setStoreHooks(storeHooks());
    bool done = scan.doSurfaceScanTestUsingFile(dataFile);
    recordWriteFailed_ = scan.recordWriteFailed();
    return done;
}

SeekScan::StoreHooks NormalScan::seekStoreHooks() {
    SeekScan::StoreHooks hooks;
    hooks.extractSurfaceDataFromFile = [this](const std::string& file) {
        return controller_.extractSurfaceDataFromFile(file);
    };
    hooks.extractSeekDataFromFile = [this](const std::string& file) {
        return controller_.extractSeekDataFromFile(file);
    };
    return hooks;
}

bool NormalScan::seekScan(const std::string& seekFile, const std::string& surfaceFile) {
    // The seek scan loads the surface file's findings as it starts, so
    // this run's counts hold both scans from here on.
    seekScanned_ = true;
    SeekScan scan(controller_, host_);
    scan.setStoreHooks(seekStoreHooks());
    scan.setStopProtocolHooks(storeHooks());
    bool done = scan.doSeekScanTestUsingSeekFile(seekFile, surfaceFile);
    recordWriteFailed_ = scan.recordWriteFailed();
    return done;
}

void NormalScan::loadStoredFindings(bool initial) {
    if (seekScanned_) {
        return;
    }
    // Only the fold was left to do: both scans ran in an earlier run, and
    // their findings are in the stored files, not in this run's counts.
    const DataFileSet unit = controller_.unitFiles();
    SeekScan loader(controller_, host_);
    loader.setStoreHooks(seekStoreHooks());
    loader.loadCompletedScan(initial ? unit.iskFile() : unit.cskFile(),
                             initial ? unit.issFile() : unit.cssFile());
}

NormalScan::Outcome NormalScan::scanEnded() {
    if (!recordWriteFailed_.empty()) {
        return fileFailure(recordWriteFailed_);
    }
    if (journal_->underWay()) {
        // The scan ended without the stop question (it could not run):
        // nobody chose what becomes of its half-written file.
        log("SCAN CONTROLLER: The scan could not run to its end; the files of this unit are "
            "returned to their state before this test.\n");
        rollBack();
        host_.enableSystemItemsFromScanController();
        host_.resetButtons();
        return Outcome::Refused;
    }
    return Outcome::Stopped;
}

NormalScan::Outcome NormalScan::fileFailure(const std::string& what) {
    log("SCAN CONTROLLER: Could not write %s; the test was ended and the files of this unit are "
        "returned to their state before it.\n",
        what.c_str());
    rollBack();
    host_.enableSystemItemsFromScanController();
    host_.resetButtons();
    return Outcome::Failed;
}

void NormalScan::rollBack() {
    if (journal_->rollBack() || journal_->rollBackProblem().empty()) {
        return;
    }
    // The journal has logged how the files stand; the end of the test
    // tells it too, since the log may be on the same full disk.
    const std::string problem = journal_->rollBackProblem();
    controller_.updateResults([&](TestResults& r) { r.restoreProblem = problem; });
}

bool NormalScan::derive(const char* from, const char* to, const std::string& source) {
    return controller_.fileProcessor()->generateFileFromType(from, to, source);
}

bool NormalScan::remove(const std::string& path) {
    Quarrykit* kit = controller_.quarrykit();
    if (kit == nullptr || !present(path)) {
        return true;
    }
    return kit->deleteFile(path);
}

void NormalScan::readInitialRPIs() {
    // An index whose line is missing must read as not measured, never as
    // the value an earlier test left.
    double lin = DataFileFormat::kNotMeasured;
    double rat = DataFileFormat::kNotMeasured;
    ScanController::getSurfaceScanRPIsUsingFile(controller_.unitFiles().issFile(), lin, rat);
    controller_.setInitialRPISSLIN(lin);
    controller_.setInitialRPISSRAT(rat);
    lin = rat = DataFileFormat::kNotMeasured;
    ScanController::getSeekScanRPIsUsingFile(controller_.unitFiles().iskFile(), lin, rat);
    controller_.setInitialRPISKLIN(lin);
    controller_.setInitialRPISKRAT(rat);
}

void NormalScan::readCurrentRPIs() {
    double lin = DataFileFormat::kNotMeasured;
    double rat = DataFileFormat::kNotMeasured;
    ScanController::getSurfaceScanRPIsUsingFile(controller_.unitFiles().cssFile(), lin, rat);
    controller_.setCurrentRPISSLIN(lin);
    controller_.setCurrentRPISSRAT(rat);
    lin = rat = DataFileFormat::kNotMeasured;
    ScanController::getSeekScanRPIsUsingFile(controller_.unitFiles().cskFile(), lin, rat);
    controller_.setCurrentRPISKLIN(lin);
    controller_.setCurrentRPISKRAT(rat);
}

NormalScan::Outcome NormalScan::runPhases(int state) {
    const DataFileSet unit = controller_.unitFiles();
    const std::string iss = unit.issFile();
    const std::string ssa = unit.ssaFile();
    const std::string isk = unit.iskFile();
    const std::string ska = unit.skaFile();
    const std::string css = unit.cssFile();
    const std::string csk = unit.cskFile();
    const std::string pss = unit.pssFile();
    const std::string sst = unit.sstFile();
    const std::string psk = unit.pskFile();
    const std::string skt = unit.sktFile();
    FileProcessor& files = *controller_.fileProcessor();
    auto advance = [this, &state](int next) {
        state = next;
        controller_.setDeviceState(next);
    };

    switch (state) {
    // --- the initial test: the baseline --------------------------------------
    case kBaseFiles:
        if (!startDataFile(iss)) {
            return fileFailure(iss);
        }
        if (!surfaceScan(iss)) {
            return scanEnded();
        }
        advance(kInitialSurfaceUnderWay);
        [[fallthrough]];
    case kInitialSurfaceUnderWay:
        if (!ScanController::isScanCompleteOnFile(iss) && !surfaceScan(iss)) {
            return scanEnded();
        }
        advance(kInitialSurfaceDone);
        if (!files.createNewSSAFileWithFileName(ssa, iss)) {
            return fileFailure(ssa);
        }
        [[fallthrough]];
    case kInitialSurfaceDone:
        if (!startDataFile(isk)) {
            return fileFailure(isk);
        }
        if (!seekScan(isk, iss)) {
            return scanEnded();
        }
        advance(kInitialSeekUnderWay);
        [[fallthrough]];
    case kInitialSeekUnderWay:
        if (!ScanController::isScanCompleteOnFile(isk) && !seekScan(isk, iss)) {
            // A resumed initial seek scan still ends the sequence properly.
            Outcome ended = scanEnded();
            endOfSequence();
            return ended;
        }
        advance(kInitialScansDone);
        if (!files.createNewSKAFileWithFileName(ska, isk)) {
            return fileFailure(ska);
        }
        if (!derive(".iss", ".css", iss)) {
            return fileFailure(css);
        }
        if (!derive(".isk", ".csk", isk)) {
            return fileFailure(csk);
        }
        advance(kAtRest);
        readInitialRPIs();
        return finish(true);

    // --- a later test: scan, fold into the averages ----------------------------
    case kInitialScansDone:
        if (!derive(".iss", ".css", iss)) {
            return fileFailure(css);
        }
        if (!derive(".isk", ".csk", isk)) {
            return fileFailure(csk);
        }
        advance(kAtRest);
        [[fallthrough]];
    case kAtRest:
        if (!derive(".css", ".pss", css)) {
            return fileFailure(pss);
        }
        advance(kNewSurfaceScan);
        [[fallthrough]];
    case kNewSurfaceScan:
        if (!startDataFile(css)) {
            return fileFailure(css);
        }
        if (!surfaceScan(css)) {
            return scanEnded();
        }
        advance(kSurfaceUnderWay);
        [[fallthrough]];
    case kSurfaceUnderWay:
        if (!ScanController::isScanCompleteOnFile(css) && !surfaceScan(css)) {
            return scanEnded();
        }
        advance(kSurfaceFolded);
        if (!files.createNewSSTFileWithFileName(sst, ssa, css)) {
            return fileFailure(sst);
        }
        [[fallthrough]];
    case kSurfaceFolded:
        // The new average replaces the old one as a whole before anything
        // is deleted: a failed copy leaves the old average in place.
        if (!derive(".sst", ".ssa", sst)) {
            return fileFailure(ssa);
        }
        if (!remove(pss) || !remove(sst)) {
            return fileFailure(pss);
        }
        if (!derive(".csk", ".psk", csk)) {
            return fileFailure(psk);
        }
        advance(kNewSeekScan);
        [[fallthrough]];
    case kNewSeekScan:
        if (!startDataFile(csk)) {
            return fileFailure(csk);
        }
        if (!seekScan(csk, css)) {
            return scanEnded();
        }
        advance(kSeekUnderWay);
        [[fallthrough]];
    case kSeekUnderWay:
        if (!ScanController::isScanCompleteOnFile(csk) && !seekScan(csk, css)) {
            return scanEnded();
        }
        advance(kSeekFolded);
        if (!files.createNewSKTFileWithFileName(skt, ska, csk)) {
            return fileFailure(skt);
        }
        [[fallthrough]];
    case kSeekFolded:
        readInitialRPIs();
        readCurrentRPIs();
        if (!derive(".skt", ".ska", skt)) {
            return fileFailure(ska);
        }
        if (!remove(skt) || !remove(psk)) {
            return fileFailure(skt);
        }
        advance(kAtRest);
        return finish(false);

    default:
        log("SCAN CONTROLLER: The data files of this unit are in a state (%d) from which no "
            "normal test continues; nothing was scanned.\n",
            state);
        host_.enableSystemItemsFromScanController();
        endOfSequence();
        return Outcome::NoPhase;
    }
}

NormalScan::Outcome NormalScan::finish(bool initial) {
    loadStoredFindings(initial);
    const DiskContext& disk = *controller_.disk();
    Logger::updateLog(kAllTestsCompleteLine);
    // The unit's files are final now: a later interruption (while the
    // report is written or the last message waits) must not undo them.
    journal_->commit();

    Logger::setSurfaceErrors(disk.surfaceErrors);
    Logger::setSurfaceOddities(disk.surfaceIrregularities);
    Logger::setSeekErrors(disk.seekErrors);
    Logger::setSeekOddities(disk.seekIrregularities);
    Logger::setTotalErrors(disk.totalErrors);
    Logger::setTotalOddities(disk.totalIrregularities);
    Logger::setConfirmedSurfaceOddities(0);
    Logger::setInitialRPISSLIN(controller_.initialRPISSLIN());
    Logger::setInitialRPISSRAT(controller_.initialRPISSRAT());
    Logger::setInitialRPISKLIN(controller_.initialRPISKLIN());
    Logger::setInitialRPISKRAT(controller_.initialRPISKRAT());
    if (!initial) {
        Logger::setCurrentRPISSLIN(controller_.currentRPISSLIN());
        Logger::setCurrentRPISSRAT(controller_.currentRPISSRAT());
        Logger::setCurrentRPISKLIN(controller_.currentRPISKLIN());
        Logger::setCurrentRPISKRAT(controller_.currentRPISKRAT());
    }
    Logger::setIsInitialScan(initial);
    controller_.updateResults([&](TestResults& r) {
        r.completed = true;
        r.initialScan = initial;
        r.initialRPIs = {controller_.initialRPISSLIN(), controller_.initialRPISSRAT(),
                         controller_.initialRPISKLIN(), controller_.initialRPISKRAT()};
        if (!initial) {
            r.currentRPIs = TestResults::StoredIndices{
                controller_.currentRPISSLIN(), controller_.currentRPISSRAT(),
                controller_.currentRPISKLIN(), controller_.currentRPISKRAT()};
        }
    });
    host_.enableSystemItemsFromScanController();
    // Before the report, which draws its pictures from them.
    controller_.endMeasurements("completed", true);

    // Written before message 8, which tells the user it is there.
    bool report = reportWriter_ != nullptr && reportWriter_->generateReport(controller_.results());
    if (report) {
        controller_.updateResults(
            [&](TestResults& r) { r.reportPath = reportWriter_->reportPath(); });
    } else {
        std::string why = reportWriter_ != nullptr ? reportWriter_->problem() : "";
        controller_.updateResults(
            [&](TestResults& r) { r.reportProblem = why.empty() ? "no report writer" : why; });
    }
    // Message 8 announces a report: without one it is not raised.
    if (report && MessageCenter::generateAlertDialogWithNumber(kTestCompleteMessage) == 1 &&
        !reportWriter_->displayReport()) {
        System::consoleLog("The report cannot be shown here; it is at " +
                           reportWriter_->reportPath());
    }
    endOfSequence();
    return Outcome::Completed;
}

void NormalScan::endOfSequence() {
    journal_->commit();
    host_.resetButtons();
}

} // namespace tolvarin
