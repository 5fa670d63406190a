#pragma once

#include <cstdint>
#include <string>

namespace tolvarin {

class Env;
class NotificationCenter;

// What a scan shows while it runs: copied to the owner by
// ScanController::updateGUI.
struct ScanProgress {
    std::string deviceBeingTested;
    std::string typeOfTest;
    std::string currentTestRange;
    int surfaceErrors = 0;
    int surfaceIrregularities = 0;
    int seekErrors = 0;
    int seekIrregularities = 0;
    int totalErrors = 0;
    int totalIrregularities = 0;
    double surfacePercentage = 0;
    double seekPercentage = 0;
};

// The choices a scan reads from its owner, each time it needs them. The
// limited range is in whole gigabytes of 1,000,000,000 bytes (the names say
// "Byte" as the window's fields always did).
struct ScanOptions {
    bool normalScan = true;
    bool probeInto = false;
    bool attemptToRepairBadSectors = false;
    bool doSurfaceScan = true;
    bool doSeekScan = true;
    bool cursoryLimitedScanSelected = false;
    int limitedCursoryScanStartByte = 0;
    int limitedCursoryScanEndByte = 1;
    // Reads kept in flight by a cursory surface scan; 1 reads one block at
    // a time, as a normal test always does.
    int queueDepth = 1;
};

// The stall spinners: which pane, which scan, and what to do with it.
enum class SpinnerPane { normal, cursory, diagnostics };
enum class SpinnerScan { surface, seek };
enum class SpinnerAction { start, stop, locate };

// The narrow interface through which the scan engine reaches its owner (the
// hub). The engine never sees a window, never switches a system service and
// never ends the process itself: it asks here.
class ScanHost {
  public:
    virtual ~ScanHost() = default;

    // The surroundings: clock, tools, exit.
    virtual Env& env() = 0;
    virtual NotificationCenter& note() = 0;

    virtual void showProgress(const ScanProgress& progress) = 0;
    virtual ScanOptions scanOptions() const = 0;
    // A scan under way (true) or ended (false).
    virtual void setUnderTest(bool value) = 0;
    virtual void resetButtons() = 0;
    // The stop question answered "cancel": the buttons return to running.
    virtual void resumeTest(bool normal) = 0;
    // Starts, stops or moves a stall spinner; locations are absolute byte
    // offsets (offset B of a seek pair).
    virtual void spinner(SpinnerPane pane, SpinnerScan scan, SpinnerAction action,
                         int64_t location = 0) = 0;
    // Turns the system services back on (on the main thread) and waits.
    virtual void enableSystemItemsFromScanController() = 0;
    // Ends the program with status after the services are back on. When the
    // end does not happen (a test's exit), the caller must leave the test.
    virtual void endProgram(int status) = 0;
};

} // namespace tolvarin
