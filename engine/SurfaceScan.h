#pragma once

#include "platform/AlignedBuffer.h"
#include "platform/ReadQueue.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tolvarin {

class ScanController;
class ScanHost;
struct DiskContext;

// The surface scan: reads the unit section by section in timed 262,144-byte
// read units, classifies every read (error, irregularity above 0.6 s, normal),
// probes failed sections when asked, keeps per-section statistics and ends
// with the two surface performance indices. A normal scan also appends its
// section records to the scan data file and its findings to the diagnostics
// file, and resumes after the sections a stopped run already recorded.
//
// It works on the scan controller's device context and reaches the owner only
// through the ScanHost. One object serves one run on the scan thread.
class SurfaceScan {
  public:
    // The data-store calls a normal scan makes. Empty hooks do nothing (and
    // the resume reader answers 0: start at the first section).
    struct StoreHooks {
        // Loads the recorded sections into the section table and counters;
        // answers the index after the last recorded section.
        std::function<int(const std::string& dataFile)> extractSurfaceDataFromFile;
        std::function<void(const std::string& filePrefix)> deleteCurrentBackupFilesWithFilePrefix;
        std::function<void(const std::string& filePrefix)> restorePreviousTestFilesWithFilePrefix;
        std::function<void(const std::string& filePrefix)> deleteAllFilesWithFilePrefix;
    };
    // doDiskRepairOnIndex(sectionIndex, logFile): repairs the rest of a failed
    // section from the context's position; cursory scans only.
    using RepairHook = std::function<void(int sectionIndex, const char* logFile)>;

    // Which log wording a run uses: the full scan's, or the limited scan's
    // (see scanSections).
    enum class Wording { Full, Limited };
    // What the stop question decided.
    enum class StopDecision { Resume, Terminate };

    static constexpr int64_t kProbeStride = 13107200; // 50 read units
    static constexpr int64_t kIrregularMicros = 600000;
    static constexpr int64_t kPauseMicros = 500000;
    static constexpr int kRefreshEvery = 10;
    // Buffers of a queued scan per read in flight: reads that finish ahead
    // of their turn wait in them.
    static constexpr int kWindowPerDepth = 2;

    SurfaceScan(ScanController& controller, ScanHost& host);

    void setStoreHooks(StoreHooks hooks) { store_ = std::move(hooks); }
    void setRepairHook(RepairHook hook) { repair_ = std::move(hook); }

    // The whole scan: dataFile is the scan data file of a normal scan (".iss"
    // or ".css"), empty in a cursory scan. Answers true when every section
    // was scanned, false when the user stopped the scan (the stop protocol
    // has then dealt with files, spinner and buttons).
    bool doSurfaceScanTestUsingFile(const std::string& dataFile);
    // The data file a record could not be written to, which ended the scan
    // (empty while every record was written).
    const std::string& recordWriteFailed() const { return recordWriteFailed_; }

    // --- building blocks for the limited surface scan ----------------------
    // Allocates the run's working state, sets the type of test and the log
    // file; every entry point below needs it (doSurfaceScanTestUsingFile
    // calls it itself).
    void beginRun(const std::string& dataFile);
    // The first progress line ("Scanning from 0.000 GB to ..."), updateGUI,
    // and the surface spinner of the scan kind started.
    void showFirstProgress();
    // Scans sections first..last (inclusive) exactly as the full scan does.
    // With Wording::Limited the limited scan's differences apply: its log
    // wording, the extra error-limit counts (when probing starts and after
    // every failed section), message 6 as the only stop question and the
    // "Limited Surface Scan Terminated by User" line; no data file lines.
    // Answers false when the user stopped the scan (spinner stopped,
    // termination logged, resetButtons sent).
    bool scanSections(int first, int last, Wording wording);
    // Logs the passed and the failed sections among first..last and the
    // verdict line; answers the number of failed sections.
    int logSectionVerdicts(int first, int last);
    // Stops the surface spinner of the scan kind.
    void stopSpinner();

    // --- the stop protocol, shared with the seek scan ----------------------
    // Asks the stop question (message 3 in a normal scan, 6 in a cursory
    // one) and carries out a normal scan's save / roll back / delete choice.
    // dataFileLine is what "Save" appends before the END OF FILE trailer
    // ("Surface Scan Terminated by User\n\n"). enableSystemItems: whether the
    // save and delete paths turn the system services back on themselves.
    // stamp receives the time stamp of the question that ended the scan.
    // Resume: the stop flag is cleared and the owner told to resume.
    StopDecision runStopProtocol(const std::string& dataFile, const char* dataFileLine,
                                 bool enableSystemItems, std::string* stamp);

    // The time table as sized for the current layout (tests).
    size_t timeTableSize() const { return times_.size(); }

  private:
    // Per-section running values of the timed reads, in microseconds.
    struct SectionRun {
        int64_t minimum = 0;
        int64_t maximum = 0;
        int64_t sum = 0;
        bool firstRead = true;
        bool lastReadGood = true;
        bool errorCounted = false; // by the probe sweep or the repair
    };

    void endRun();
    // The queue of reads in flight a cursory scan asked for, where the
    // device serves one; said in the log once when it does not.
    void openQueue();
    // Takes one timed read into the section's statistics: false when it
    // failed (the section then ends with readError).
    bool takeRead(int index, Wording wording, int64_t offset, int64_t readResult, int64_t duration);
    bool scanSectionQueued(int index, Wording wording);
    int sectionCount() const;
    bool scanOneSection(int index, Wording wording);
    bool readError(int index, Wording wording);
    bool probeSection(int index, Wording wording);
    void closeSection(int index, Wording wording);
    // The section's verdict, then the further line on readings taken
    // during other I/O.
    void endSection(int index, Wording wording);
    void logPending(const char* heading);
    // False when the file could not take the scan's last lines.
    bool finishScan();
    bool askToStop(Wording wording, std::string* stamp);
    StopDecision stopProtocol(bool normal, const std::string& dataFile, const char* dataFileLine,
                              bool enableSystemItems, std::string* stamp);
    void terminate(const std::string& stamp, Wording wording);
    void waitWhilePaused();
    void refreshProgress(int64_t offset);
    void setSpinnerLocation(int64_t offset);
    void log(const char* format, ...) __attribute__((format(printf, 2, 3)));

    ScanController& controller_;
    ScanHost& host_;
    StoreHooks store_;
    RepairHook repair_;

    // Working state of one run.
    bool normal_ = false;
    std::string dataFile_;
    std::string recordWriteFailed_;
    std::string logFile_;
    std::vector<int64_t> times_;
    std::vector<std::string> pending_;
    int64_t refreshCounter_ = 0;
    std::string rangeText_; // the progress line being made
    SectionRun section_;
    std::unique_ptr<ReadQueue> queue_;
    // The window's buffers, one after another in one block of memory.
    AlignedBuffer queueMemory_;
    size_t queueSlots_ = 0;
    size_t queueStride_ = 0;
};

// Section statistics: minimum, maximum and total time from the microsecond
// values, the mean over the n good reads and the population standard
// deviation of the first n entries of times.
void processStatData(DiskContext& disk, int index, const std::vector<int64_t>& times, int64_t n,
                     int64_t minimum, int64_t maximum, int64_t sum);
// Unit statistics into disk.surfaceSummary over all sections: the means of
// minTime, maxTime, totalTime, avgTime and stdDev, the smallest minTime, the
// largest maxTime and their ratio.
void processSummaryData(DiskContext& disk);

} // namespace tolvarin
