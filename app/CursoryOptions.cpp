#include "app/CursoryOptions.h"

#include "base/TextFormat.h"
#include "logging/MessageCenter.h"
#include "platform/System.h"

#include <string>

namespace tolvarin {

namespace {

constexpr int kNoCursoryTestMessage = 5;
constexpr int kRepairWarningMessage = 10;
constexpr int kInvalidRangeMessage = 11;
constexpr int kStartBeyondUnitMessage = 12;
constexpr int kEndBeyondUnitMessage = 13;
constexpr int kLimitWithoutSurfaceMessage = 14;
constexpr int kRangeAdjustedMessage = 2000;

} // namespace

void CursoryOptions::opened() {
    cursoryOptionsSelected_.store(true);
    attemptToRepairBadSectors_.store(false);
}

bool CursoryOptions::confirm(const Choice& choice, int64_t targetSize) {
    if (choice.startGB > choice.endGB) {
        MessageCenter::generateAlertDialogWithNumber(kInvalidRangeMessage);
        return false;
    }
    const int64_t startBytes = static_cast<int64_t>(choice.startGB) * kGigabyte;
    const int64_t endBytes = static_cast<int64_t>(choice.endGB) * kGigabyte;
    setLimitedCursoryScanStartByte(choice.startGB);
    setLimitedCursoryScanEndByte(choice.endGB);

    if (choice.surface) {
        setDoSurfaceScan(true);
    } else {
        setDoSurfaceScan(false);
        setCursoryLimitedScanSelected(false);
    }
    setDoSeekScan(choice.seek);
    setQueueDepth(choice.queueDepth);
    if (!doSeekScan() && !doSurfaceScan()) {
        MessageCenter::generateAlertDialogWithNumber(kNoCursoryTestMessage);
        return false;
    }
    if (choice.repair) {
        if (MessageCenter::generateAlertDialogWithNumber(kRepairWarningMessage) == 0) {
            return false;
        }
        setAttemptToRepairBadSectors(true);
    } else {
        setAttemptToRepairBadSectors(false);
    }
    setCursoryLimitedScanSelected(choice.limit);

    if (choice.limit) {
        if (startBytes > targetSize) {
            MessageCenter::generateAlertDialogWithNumber(kStartBeyondUnitMessage);
            return false;
        }
        if (endBytes > targetSize &&
            MessageCenter::generateAlertDialogWithNumber(kEndBeyondUnitMessage) == 0) {
            return false;
        }
        if (!doSurfaceScan()) {
            MessageCenter::generateAlertDialogWithNumber(kLimitWithoutSurfaceMessage);
            return false;
        }
        // Shown to the user only: the scan picks whole sections itself.
        int64_t start = 0;
        if (choice.startGB != 0) {
            start = (startBytes - 1) / kRangeGranularity * kRangeGranularity;
        }
        int64_t end = (endBytes / kRangeGranularity + 1) * kRangeGranularity;
        System::consoleLog(formatText("GUI says it's %lld", static_cast<long long>(endBytes)));
        if (end >= targetSize) {
            end = targetSize;
        }
        double startGB = static_cast<double>(start) / 1e9;
        double endGB = static_cast<double>(end) / 1e9;
        System::consoleLog(formatText("Adjusted start of cursory scan: %f GB", startGB));
        System::consoleLog(formatText("Adjusted end of cursory scan: %f GB", endGB));
        MessageCenter::setCursoryStart(startGB);
        MessageCenter::setCursoryEnd(endGB);
        if (MessageCenter::generateAlertDialogWithNumber(kRangeAdjustedMessage) == 0) {
            return false;
        }
    }
    return true;
}

void CursoryOptions::print() const {
    auto yesNo = [](bool value) { return std::string(value ? "YES" : "NO"); };
    System::consoleLog(std::string(60, '-'));
    System::consoleLog("Cursory surface scan selected: " + yesNo(doSurfaceScan()));
    System::consoleLog("Cursory seek scan selected: " + yesNo(doSeekScan()));
    System::consoleLog("Cursory limited surface scan selected: " +
                       yesNo(cursoryLimitedScanSelected()));
    System::consoleLog("Attempt to repair drive: " + yesNo(attemptToRepairBadSectors()));
    System::consoleLog(formatText("Cursory limited scan start: %d", limitedCursoryScanStartByte()));
    System::consoleLog(formatText("Cursory limited scan end: %d", limitedCursoryScanEndByte()));
}

} // namespace tolvarin
