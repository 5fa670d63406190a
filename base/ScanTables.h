#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace tolvarin {

// One scan section of the device: its byte range and the statistics the
// surface scan records for it (the data-file keys in comments).
struct ScanSection {
    int64_t start = 0;           // first byte
    int64_t end = 0;             // last byte, inclusive
    int count = 0;               // total number of sections
    int index = 0;               // 0-based
    double minTime = 0;          // MN, seconds
    double maxTime = 0;          // MX
    double avgTime = 0;          // A
    double totalTime = 0;        // T
    double spare = 0;            // kept for the record layout
    double stdDev = 0;           // S
    int passed = 1;              // E: 1 = no read error
    int clean = 0;               // O: 1 = no irregularity
    int errorCount = 0;          // EC
    int irregularityCount = 0;   // OC
    int64_t maxTimePosition = 0; // MXP: absolute offset of the slowest read
    int64_t endPosition = 0;     // where reading stopped, or the failed read
    int endReadIndex = 0;        // reads done when it stopped
};

// One pair of seek locations and its timings.
struct SeekPair {
    int64_t offsetA = 0;
    int64_t offsetB = 0;
    double minTime = 0;
    double maxTime = 0;
    double avgTime = 0;
    double totalTime = 0;
    int passed = 0; // E
    int clean = 0;  // O
};

// What a test measures of a unit and what its data files record: the
// sizes, the section and seek tables, the counters and the indices. The
// device context of a test is one (with its buffers and device besides);
// the data file readers and writers work on this part alone.
struct ScanTables {
    static constexpr int kSeekLocationCount = 30;

    int64_t deviceSize = 0;
    int64_t sectionSize = 0;
    int64_t lastSectionSize = 0;
    int64_t detectedSize = 0;
    int sectionCount = 0;
    std::vector<ScanSection> sections;
    std::array<double, 8> surfaceSummary{};
    std::vector<SeekPair> seekPairs;
    int sizingErrors = 0;
    int surfaceErrors = 0;
    int seekErrors = 0;
    int surfaceIrregularities = 0;
    int seekIrregularities = 0;
    int totalErrors = 0;
    int totalIrregularities = 0;
    int seekLocationCount = kSeekLocationCount;
    double surfaceLinearRPI = 0;
    double surfaceRatioRPI = 0;
    double seekLinearRPI = 0;
    double seekRatioRPI = 0;
};

} // namespace tolvarin
