#pragma once

#include <string>

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
};
