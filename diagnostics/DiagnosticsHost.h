#pragma once

#include "engine/ScanHost.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace tolvarin {

class Env;
class MemorySource;
class RawDevice;

// The six run totals a diagnostics run shows; they only grow.
struct DiagnosticsCounters {
    int weakBlocks = 0;
    int badBlocks = 0;
    int probableSystemFaults = 0;
    int memoryErrors = 0;
    int interfaceErrors = 0;
    int seekErrors = 0;

    bool operator==(const DiagnosticsCounters&) const = default;
};

// What the diagnostics pane shows: the current step, the two bars (percent)
// and the counters.
struct DiagnosticsProgress {
    std::string currentTest;
    double currentProgress = 0; // percent of the current phase
    double overallProgress = 0; // percent of the whole run
    DiagnosticsCounters counters;
};

// The narrow interface through which a diagnostics run reaches its owner
// (the hub): progress, the run's flag, buttons, services, the stall spinner
// and the unit. The run never sees a window, never switches a service
// itself and never ends the process.
class DiagnosticsHost {
  public:
    virtual ~DiagnosticsHost() = default;

    // The surroundings: clock and tools.
    virtual Env& env() = 0;

    // The run's flag: true while the run may go on. The stop button clears
    // it; the run clears it when it ends.
    virtual bool diagnosticsRunning() const = 0;
    virtual void setDiagnosticsRunning(bool value) = 0;

    // updateDiagnosticStats: the pane shows progress (on the main thread; the
    // call waits for it).
    virtual void updateDiagnosticStats(const DiagnosticsProgress& progress) = 0;
    virtual void setUnderTest(bool value) = 0;
    virtual void resetButtons() = 0;
    // Turns the system services back on (on the main thread) and waits.
    virtual void enableSystemItemsFromDiagnosticsThread() = 0;
    // The diagnostics pane's stall spinner.
    virtual void spinner(SpinnerAction action, int64_t location = 0) = 0;

    // The lock held around every timed read of the unit.
    virtual std::mutex& timedReadLock() = 0;
    // Opens the unit for reading; nullptr when it cannot be opened.
    virtual std::unique_ptr<RawDevice> openDevice(const std::string& path) = 0;
    // Where the memory test takes its memory from.
    virtual MemorySource& memorySource() = 0;
    // Where the volume under test is mounted; nullopt (and why in problem)
    // when it is not.
    virtual std::optional<std::string> volumeMountPoint(std::string* problem) = 0;
};

} // namespace tolvarin
