// The hub's share of a normal test: the catalogue of the data directory at
// the start, the unit's file prefix, the scan controller's preparation, and
// the scan thread's body. The rest of the start (message 0, the log file,
// the unit description, privileges, services) is shared with the cursory
// test in GUIController.cpp.

#include "app/DataFilePrefix.h"
#include "app/GUIController.h"
#include "engine/DiskContext.h"
#include "engine/NormalScan.h"
#include "engine/ScanController.h"
#include "logging/Logger.h"
#include "platform/RawDevice.h"
#include "platform/System.h"
#include "store/DriveProcessor.h"
#include "store/Quarrykit.h"

#include <utility>

namespace tolvarin {

void GUIController::setQuarrykit(std::shared_ptr<Quarrykit> quarrykit) {
    quarrykit_ = std::move(quarrykit);
}

std::shared_ptr<DriveProcessor> GUIController::driveProcessor() const {
    std::lock_guard<std::mutex> lock(textMutex_);
    return driveProcessor_;
}

void GUIController::setFileNamePrefix() {
    std::shared_ptr<DriveProcessor> drives = driveProcessor();
    std::string prefix;
    if (drives) {
        prefix = DataFilePrefix::find(drives->currentDataFiles(), targetDriveInfo());
    }
    // No match leaves no prefix rather than the one of the unit tested
    // before: its files must not receive this unit's results.
    if (prefix.empty()) {
        System::consoleLog("No drive header matches the unit under test.");
    }
    setText(&GUIController::fileNamePrefix_, prefix);
}

bool GUIController::initializeNormalScanOnDrive() {
    ScanController& controller = *scanController_;
    auto refuse = [&](const std::string& problem) {
        System::consoleLog(problem);
        setProblem(problem);
        resetButtons();
        return false;
    };

    if (!quarrykit_) {
        // Loaded once; without it the program ends (or a test's exit hook
        // returns, and the start is refused).
        quarrykit_ = Quarrykit::load();
        if (!quarrykit_) {
            return refuse("The file utility component could not be loaded.");
        }
    }
    auto drives = std::make_shared<DriveProcessor>(currentMediaArray(), userName(), userHomeDir(),
                                                   *quarrykit_);
    if (!drives->catalogueReady()) {
        return refuse("The data directory could not be used: " + drives->tolvarinDir());
    }
    {
        std::lock_guard<std::mutex> lock(textMutex_);
        driveProcessor_ = drives;
    }
    setFileNamePrefix();
    controller.setDriveProcessor(drives);
    controller.setQuarrykit(quarrykit_.get());
    controller.setErrorLimit(errorLimit());
    controller.setMediaRecord(data());

    NormalScan preparation(controller, *this);
    if (deviceOpener_) {
        preparation.setDeviceOpener(
            [this](const std::string& device) { return deviceOpener_(device, false); });
    }
    bool prepared = preparation.initializeScanOnDrive(rawTargetDevice(), fileNamePrefix());
    {
        std::lock_guard<std::mutex> lock(summaryMutex_);
        summary_.sizingResult = preparation.sizingResult();
        if (const DiskContext* disk = controller.disk()) {
            summary_.sizingErrors = disk->sizingErrors;
            summary_.detectedSize = disk->detectedSize;
        }
    }
    if (!prepared) {
        // The preparation has reset the buttons and says why.
        setProblem(controller.preparationProblem());
        return false;
    }
    return true;
}

void GUIController::runNormalTest(ScanController& controller) {
    scanThreadId_.store(std::this_thread::get_id());
    NormalScan scan(controller, *this);
    scan.doFormalScanTest();
    const NormalScan::Outcome outcome = scan.outcome();
    const bool completed = outcome == NormalScan::Outcome::Completed;
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
    if (!problem.empty()) {
        setProblem(problem);
    }
    const std::string reportPath = completed ? Logger::reportFileNameAndPath() : std::string();
    recordTestEnd([&](TestSummary& summary) {
        summary.stopped = !completed;
        summary.completed = completed;
        summary.reportPath = reportPath;
    });
}

} // namespace tolvarin
