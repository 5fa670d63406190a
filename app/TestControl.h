#pragma once

#include "base/TestResults.h"
#include "platform/FileLock.h"

#include <mutex>
#include <string>
#include <thread>

namespace tolvarin {

class GUIController;
class ScanController;

// Start, pause and stop of the cursory and normal tests, the one
// preparation both take (log file, unit description, rights, the device
// context, the sizing sweep, and for a normal test the catalogue and the
// unit's files), the scan thread's bodies and the record of a test's end.
class TestControl {
  public:
    explicit TestControl(GUIController& hub);

    bool startButtonSelected(bool normal);
    void pauseButtonSelected(bool normal);
    void stopButtonSelected(bool normal);

    std::string startProblem() const;
    // Stops a test under way without a button (the hub is going away).
    void stopForQuit();

    // The scan thread's bodies.
    void runCursoryTest(ScanController& controller);
    void runNormalTest(ScanController& controller);

  private:
    bool startInitialScan();
    bool saveLogFileDialog();
    bool prepare(bool normal);
    bool prepareCatalogue();
    // The end of a test in its results (the time, and what outcome adds);
    // then the face is told.
    void recordTestEnd(bool stopped, bool completed, const std::string& problem);
    void setProblem(const std::string& problem);
    bool refuseStart(const std::string& problem);
    // The lock of the unit's device, taken before anything is asked or
    // written: false (with the reason) when another test holds it.
    bool lockDevice();
    // Data files of units without a drive header: named, and removed when
    // the user says so (message 1014).
    void offerToRemoveOrphans(const std::string& dir);
    // The data directory of the catalogue and the locks.
    std::string dataDirectory() const;
    void releaseLocks();
    // False (with the reason) while a stopped test's thread has not ended.
    bool refuseWhileATestEnds();

    GUIController& hub_;
    mutable std::mutex mutex_;
    std::string startProblem_;
    // Held from the start of a test to its end (under mutex_).
    FileLock deviceLock_;
    FileLock unitLock_;
};

} // namespace tolvarin
