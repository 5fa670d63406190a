#pragma once

#include <cstdint>
#include <string>

namespace tolvarin {

class NotificationCenter;

// The narrow interface through which the scan engine reaches its owner (the
// hub, GUIController): progress setters, the options a scan reads, and the
// button reset at the end of a test. The engine never sees a window.
class ScanHost {
  public:
    virtual ~ScanHost() = default;

    virtual NotificationCenter& note() = 0;

    // Progress, copied by ScanController::updateGUI.
    virtual void setDeviceBeingTestedString(const std::string& text) = 0;
    virtual void setTypeOfTestString(const std::string& text) = 0;
    virtual void setCurrentTestRangeString(const std::string& text) = 0;
    virtual void setTotalSurfaceScanErrorsString(const std::string& text) = 0;
    virtual void setTotalSurfaceScanIrregularitiesString(const std::string& text) = 0;
    virtual void setTotalSeekScanErrorString(const std::string& text) = 0;
    virtual void setTotalSeekScanIrregularitiesString(const std::string& text) = 0;
    virtual void setTotalErrorsString(const std::string& text) = 0;
    virtual void setTotalIrregularitiesString(const std::string& text) = 0;
    virtual void setSurfacePercentage(double fraction) = 0;
    virtual void setSeekPercentage(double fraction) = 0;

    virtual void resetButtons() = 0;

    // Which sequence the scan thread runs.
    virtual bool normalScan() const = 0;

    // Surface scan and sizing
    // Option flags, read each time the scan needs them.
    virtual bool probeInto() const = 0;
    virtual bool attemptToRepairBadSectors() const = 0;
    // Stall spinners of the surface scan; locations are absolute byte offsets.
    virtual void startNormalSurfaceScanSpinnerThread() = 0;
    virtual void stopNormalSurfaceScanSpinnerThread() = 0;
    virtual void setNormalSurfaceScanSpinnerLocation(int64_t location) = 0;
    virtual void startCursorySurfaceScanSpinnerThread() = 0;
    virtual void stopCursorySurfaceScanSpinnerThread() = 0;
    virtual void setCursorySurfaceScanSpinnerLocation(int64_t location) = 0;
    // The stop question answered "cancel": the buttons return to running.
    virtual void resumeFormalTest() = 0;
    virtual void resumeCursoryTest() = 0;
    // Turns the system services back on (on the main thread) and waits.
    virtual void enableSystemItemsFromScanController() = 0;

    // Seek and cursory scans
    // The cursory options: which scans run, and the limited surface range in
    // whole gigabytes of 1,000,000,000 bytes (the names say "Byte" as the
    // window's fields always did).
    virtual bool doSurfaceScan() const = 0;
    virtual bool doSeekScan() const = 0;
    virtual bool cursoryLimitedScanSelected() const = 0;
    virtual int limitedCursoryScanStartByte() const = 0;
    virtual int limitedCursoryScanEndByte() const = 0;
    // A scan under way (YES) or ended (NO).
    virtual void setUnderTest(bool value) = 0;
    // Stall spinners of the seek scan; the location is offset B of the pair.
    virtual void startNormalSeekScanSpinnerThread() = 0;
    virtual void stopNormalSeekScanSpinnerThread() = 0;
    virtual void setNormalSeekScanSpinnerLocation(int64_t location) = 0;
    virtual void startCursorySeekScanSpinnerThread() = 0;
    virtual void stopCursorySeekScanSpinnerThread() = 0;
    virtual void setCursorySeekScanSpinnerLocation(int64_t location) = 0;
};

} // namespace tolvarin
