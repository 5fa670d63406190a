#pragma once

#include "engine/SurfaceScan.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tolvarin {

class ScanController;
class ScanHost;
struct DiskContext;

// The seek scan: L evenly spaced locations across the unit and, for every
// pair of them, the timed low-level seek test (25 cycles of 5 back-and-forth
// trips). A pair whose seek or read fails is an error, a pair whose slowest
// cycle exceeds 0.5 s an irregularity. Ends with the two seek performance
// indices. A normal scan takes its locations from the unit's ".skx" file,
// appends one record per pair to the seek data file, its findings to the
// diagnostics file, and resumes after the pairs a stopped run recorded; a
// cursory scan uses 30 locations and writes only the log.
//
// It works on the scan controller's device context and reaches the owner only
// through the ScanHost. One object serves one run on the scan thread.
class SeekScan {
  public:
    // The data-store readers a normal scan calls when it starts. Empty hooks
    // answer 0 (nothing recorded: start at the first pair).
    struct StoreHooks {
        // Loads the recorded surface sections (its answer is not used here).
        std::function<int(const std::string& surfaceFile)> extractSurfaceDataFromFile;
        // Loads the recorded pairs into the context's pair table (allocated
        // with every pair before the call) and their errors and
        // irregularities into the counters; answers the index after the last
        // recorded pair.
        std::function<int(const std::string& seekFile)> extractSeekDataFromFile;
    };

    // Where the seek locations lie: L locations, interval sectors apart.
    struct Layout {
        int count = 0;        // L
        int64_t interval = 0; // in 512-byte sectors
    };

    // Stands for an unmeasured value (a failed pair's timings).
    static constexpr double kSentinel = 9.999e+99;
    // More locations than this cannot come from the unit's own index file
    // (it records 30); the pair table grows with the square of L.
    static constexpr int kMaxSeekLocations = 1000;
    static constexpr int64_t kPauseMicros = 500000;

    SeekScan(ScanController& controller, ScanHost& host);

    void setStoreHooks(StoreHooks hooks) { store_ = std::move(hooks); }
    // The calls the stop protocol of a normal scan makes (save, roll back,
    // delete); shared with the surface scan.
    void setStopProtocolHooks(SurfaceScan::StoreHooks hooks) { stopHooks_ = std::move(hooks); }

    // doSeekScanTestUsingSeekFile:andSurfaceFile: the seek data file (".isk"
    // or ".csk") and the surface data file of the same normal scan; both
    // empty in a cursory scan. Answers true when every pair was measured,
    // false when the user stopped the scan or a normal scan had no usable
    // seek index (both logged; buttons reset, system services restored).
    bool doSeekScanTestUsingSeekFile(const std::string& seekFile, const std::string& surfaceFile);
    // The data file a record could not be written to, which ended the scan
    // (empty while every record was written).
    const std::string& recordWriteFailed() const { return recordWriteFailed_; }

    // For a normal test whose seek scan an earlier run completed (a fold
    // resumed after an interruption): the findings of both stored scan files
    // go into the context's counts, as a resumed scan loads them, and the
    // log says so; nothing is measured and neither file is changed. Answers
    // false when the seek location file is unusable (the surface findings
    // are loaded all the same).
    bool loadCompletedScan(const std::string& seekFile, const std::string& surfaceFile);

    // Reads "CNT:" and "ISZ:" from a ".skx" file. nullopt, with the reason
    // in why, when the file cannot be read or names no usable count (at least
    // 2 and at most kMaxSeekLocations) or no positive interval.
    static std::optional<Layout> readSeekIndexFile(const std::string& path,
                                                   std::string* why = nullptr);
    // The layout of a cursory scan: seekLocationCount locations spread evenly
    // over the unit's sectors.
    static Layout cursoryLayout(const DiskContext& disk);
    // Number of pairs of L locations: L (L - 1) / 2.
    static int64_t pairCountFor(int count);
    // The locations (A, B) of pair number index in the scan's order: (0,1),
    // (0,2) ... (0,L-1), (1,2) ... (L-2,L-1).
    static std::pair<int, int> pairLocations(int count, int64_t index);

  private:
    // The unit's ".skx" layout, checked against the unit; nullopt with the
    // reason (and the file it concerns, when any) otherwise.
    std::optional<Layout> normalLayout(const DiskContext& disk, std::string* why,
                                       std::string* path) const;
    void buildPairTable(DiskContext& disk, const Layout& layout);
    // Loads what the stored files recorded; answers the pair to continue from.
    int64_t loadRecorded(DiskContext& disk, const std::string& seekFile,
                         const std::string& surfaceFile);
    bool refuse(const char* reason, const std::string& detail);
    bool terminate(const std::string& stamp);
    void measurePair(int64_t offsetA, int64_t offsetB);
    void finish();
    void releaseTables();
    void startSpinner();
    void stopSpinner();
    void setSpinnerLocation(int64_t offset);
    void log(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void data(const char* format, ...) __attribute__((format(printf, 2, 3)));

    ScanController& controller_;
    ScanHost& host_;
    StoreHooks store_;
    SurfaceScan::StoreHooks stopHooks_;

    // Working state of one run.
    bool normal_ = false;
    std::string seekFile_;
    std::string recordWriteFailed_;
    std::string logFile_;
    std::vector<int64_t> locations_; // sector numbers
    int64_t pairTotal_ = 0;          // P
    int64_t pairCounter_ = 0;
    int64_t pairsSummed_ = 0;
    double sumMin_ = 0;
    double sumMax_ = 0;
    double sumAvg_ = 0;
    double sumTotal_ = 0;
    double smallestMin_ = kSentinel;
    double largestMax_ = 0;
    // The timed cycles of the pair just measured, for the recorder.
    static constexpr int kTripsPerCycle = 5;
    std::vector<int64_t> cycles_;
};

} // namespace tolvarin
