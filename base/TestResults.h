#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tolvarin {

struct TestMeasurements;

// The results of one test, gathered while it runs: what the report, the
// faces' summaries and the hub read (never display strings or the logger's
// fields). The scan controller keeps the test's copy; the hub hands out
// snapshots.
struct TestResults {
    struct Section {
        int index = 0;
        int64_t start = 0;
        int64_t end = 0;
        int errors = 0;
        int irregularities = 0;
    };
    // The performance indices of a unit's stored tests.
    struct StoredIndices {
        double surfaceLinear = 0;
        double surfaceRatio = 0;
        double seekLinear = 0;
        double seekRatio = 0;
    };

    bool normal = false;
    bool started = false;   // prepared and handed to the scan thread
    bool ended = false;     // the scan thread finished its test
    bool stopped = false;   // ended by a stop (the user's, the error limit's, a vanished unit)
    bool completed = false; // a normal test that ran every phase
    bool surfaceCompleted = false;
    bool seekCompleted = false;

    int sizingResult = 0;
    int sizingErrors = 0;
    int64_t detectedSize = 0;
    int sectionCount = 0;
    // Reads the surface scan kept in flight: 1 unless a cursory test asked
    // for more and the device could serve them.
    int queueDepth = 1;

    int surfaceErrors = 0;
    int surfaceIrregularities = 0;
    int seekErrors = 0;
    int seekIrregularities = 0;
    int totalErrors = 0;
    int totalIrregularities = 0;
    std::vector<Section> failedSections;

    // Measured by this test; present only when the scan that computes them
    // ran to its end.
    std::optional<double> surfaceLinearRPI;
    std::optional<double> surfaceRatioRPI;
    std::optional<double> seekLinearRPI;
    std::optional<double> seekRatioRPI;

    // A complete normal test: whether it stored the unit's baseline, the
    // baseline's indices and (for a later test) the current ones.
    bool initialScan = false;
    StoredIndices initialRPIs;
    std::optional<StoredIndices> currentRPIs;

    // Monotonic clock readings (microseconds) for durations, 0 when not
    // reached; wall-clock readings and stamps for the record.
    int64_t startMicros = 0;
    int64_t surfaceStartMicros = 0;
    int64_t seekStartMicros = 0;
    int64_t endMicros = 0;
    int64_t startWallMicros = 0;
    int64_t endWallMicros = 0;
    std::string startStamp;
    std::string endStamp;

    // A normal test whose files could not all be returned to their state
    // before it (after a failed write): how they stand and what the next
    // start does. Empty otherwise.
    std::string restoreProblem;
    // Why the test's log ends early (it could not be written any more);
    // empty when the log is whole.
    std::string logProblem;

    // The report a complete normal test wrote; empty when none was written.
    std::string reportPath;
    // Why a complete normal test has no report (empty: it has one, or the
    // test did not complete).
    std::string reportProblem;

    // What the test measured beyond the designed files (histograms, surface
    // map, readings during other I/O, S.M.A.R.T. changes); set when the
    // test ends, null before and for a test that never began.
    std::shared_ptr<const TestMeasurements> measurements;
};

} // namespace tolvarin
