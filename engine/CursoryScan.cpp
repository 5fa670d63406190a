#include "engine/CursoryScan.h"

#include "base/Clock.h"
#include "engine/DiskContext.h"
#include "engine/ScanController.h"
#include "engine/ScanHost.h"
#include "engine/SeekScan.h"
#include "engine/SizingSweep.h"
#include "engine/SurfaceScan.h"
#include "logging/Logger.h"
#include "logging/MessageCenter.h"
#include "platform/Env.h"
#include "platform/System.h"

#include <cstdarg>

namespace tolvarin {

CursoryScan::CursoryScan(ScanController& controller, ScanHost& host)
    : controller_(controller), host_(host) {}

void CursoryScan::installOn(ScanController& controller, SurfaceScan::RepairHook repair) {
    controller.setCursoryScanBody([repair](ScanController& c) {
        CursoryScan scan(c, c.guiController());
        scan.setRepairHook(repair);
        scan.doCursoryScanTest();
    });
}

void CursoryScan::doCursoryScanTest() {
    DiskContext* disk = controller_.disk();
    logFile_ = controller_.testLogFile();
    if (disk == nullptr) {
        // Nothing was prepared (the preparation failed or was cancelled).
        System::consoleLog("TOLVARIN - Cursory test without a prepared unit; nothing scanned.");
        host_.resetButtons();
        return;
    }

    SizingSweep::doSweepSectorAllocationWithFile(*disk, "", logFile_.c_str());

    bool ok = true;
    if (host_.scanOptions().doSurfaceScan) {
        controller_.setTypeOfTest("Surface Scan");
        host_.setUnderTest(true);
        if (host_.scanOptions().cursoryLimitedScanSelected) {
            ok = doLimitedSurfaceScanTest();
        } else {
            SurfaceScan surface(controller_, host_);
            surface.setRepairHook(repair_);
            ok = surface.doSurfaceScanTestUsingFile("");
        }
    }
    if (host_.scanOptions().doSeekScan && ok) {
        controller_.setTypeOfTest("Seek Scan");
        host_.setUnderTest(true);
        SeekScan(controller_, host_).doSeekScanTestUsingSeekFile("", "");
    }

    host_.enableSystemItemsFromScanController();
    MessageCenter::generateAlertDialogWithNumber(kTestCompletedMessage);
    controller_.doPostTestReset();
}

std::optional<std::pair<int, int>> CursoryScan::limitedSectionRange(const DiskContext& disk,
                                                                    int64_t start, int64_t end) {
    if (disk.sections.empty() || start < 0 || end < start) {
        return std::nullopt;
    }
    auto holding = [&](int64_t byte) -> int {
        for (std::size_t i = 0; i < disk.sections.size(); ++i) {
            if (disk.sections[i].start <= byte && byte <= disk.sections[i].end) {
                return static_cast<int>(i);
            }
        }
        return -1;
    };
    int first = holding(start);
    if (first < 0) {
        return std::nullopt;
    }
    int last = holding(end);
    if (last < 0) {
        // Beyond the unit: up to its last section.
        last = static_cast<int>(disk.sections.size()) - 1;
    }
    return std::make_pair(first, last);
}

bool CursoryScan::doLimitedSurfaceScanTest() {
    DiskContext* disk = controller_.disk();
    logFile_ = controller_.testLogFile();
    const int64_t start =
        static_cast<int64_t>(host_.scanOptions().limitedCursoryScanStartByte) * kGigabyte;
    const int64_t end =
        static_cast<int64_t>(host_.scanOptions().limitedCursoryScanEndByte) * kGigabyte;

    if (disk == nullptr || !disk->device) {
        log("LIMITED SURFACE SCAN ERROR: No unit is open for scanning.\n\n");
        return false;
    }
    std::optional<std::pair<int, int>> range = limitedSectionRange(*disk, start, end);
    if (!range) {
        // The options window refuses such a range; a range from elsewhere
        // is refused here rather than scanning sections nobody asked for.
        log("LIMITED SURFACE SCAN ERROR: No scan section of this unit lies in the range from "
            "%lld to %lld bytes.\n\n",
            static_cast<long long>(start), static_cast<long long>(end));
        return false;
    }
    auto [first, last] = *range;

    SurfaceScan surface(controller_, host_);
    surface.setRepairHook(repair_);
    surface.beginRun("");

    char stamp[kTimeStampBufferSize] = {};
    getTimeStamp(stamp, host_.env());
    log("START OF LIMITED SURFACE SCAN TEST: %s\n\n", stamp);
    surface.showFirstProgress();

    if (!surface.scanSections(first, last, SurfaceScan::Wording::Limited)) {
        return false;
    }

    controller_.setSurfacePercentDone(1.0);
    controller_.updateGUI();
    surface.stopSpinner();
    surface.logSectionVerdicts(first, last);
    processSummaryData(*disk);
    getTimeStamp(stamp, host_.env());
    log("\nEND OF LIMITED SURFACE SCAN TEST: %s\n\n", stamp);
    log("%s\n", std::string(79, '-').c_str());
    return true;
}

void CursoryScan::log(const char* format, ...) {
    va_list args;
    va_start(args, format);
    Logger::vwriteDataToLogFile(logFile_, format, args);
    va_end(args);
}

} // namespace tolvarin
