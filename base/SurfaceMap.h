#pragma once

#include "base/LatencyHistogram.h"
#include "base/ScanTables.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tolvarin {

// How slow a place of the unit reads, in the classes disk testers colour
// their maps with: the time of a read below 5, 20, 50, 150 or 500 ms, from
// 500 ms on, a read that failed, and a place that was not read at all.
enum class LatencyClass : uint8_t {
    under5ms,
    under20ms,
    under50ms,
    under150ms,
    under500ms,
    from500ms,
    unreadable,
    notRead,
};
constexpr int kLatencyClassCount = 8;
// The classes a read can fall in (the six of the timings and unreadable).
constexpr int kReadClassCount = 7;

// The class of a read that brought data.
inline LatencyClass latencyClassOf(int64_t micros) {
    if (micros < 5000) {
        return LatencyClass::under5ms;
    }
    if (micros < 20000) {
        return LatencyClass::under20ms;
    }
    if (micros < 50000) {
        return LatencyClass::under50ms;
    }
    if (micros < 150000) {
        return LatencyClass::under150ms;
    }
    if (micros < 500000) {
        return LatencyClass::under500ms;
    }
    return LatencyClass::from500ms;
}
// "<5ms", "<20ms", "<50ms", "<150ms", "<500ms", ">=500ms", "unreadable",
// "not read": the names the stored measurements and --json use.
const char* latencyClassName(LatencyClass value);
std::optional<LatencyClass> latencyClassNamed(const std::string& name);

// One stretch of the unit (a scan section, a part of one, or several whole
// ones) and what its reads measured.
struct Stretch {
    int64_t start = 0;        // first byte
    int64_t end = 0;          // one past the last byte
    int section = 0;          // the (first) scan section it lies in
    uint32_t reads = 0;       // timed reads that brought data
    uint32_t failedReads = 0; // timed reads that failed
    uint32_t probes = 0;      // untimed probes of a failed section
    uint32_t failedProbes = 0;
    uint32_t doubtfulReads = 0; // reads taken while other I/O hit the unit
    int64_t bytes = 0;          // brought by the timed reads
    int64_t sumMicros = 0;
    int64_t minMicros = 0;
    int64_t maxMicros = 0;
    int64_t medianMicros = 0;                            // from the stretch's sketch
    int64_t slowestAt = -1;                              // offset of the slowest read
    bool slowestDoubtful = false;                        // that read was taken during other I/O
    std::array<uint32_t, kReadClassCount> classCounts{}; // reads per class

    // Unreadable when a read or probe failed, not read without reads, else
    // the class of its slowest read.
    LatencyClass latencyClass() const;
    // Bytes per second over the timed reads; 0 when nothing was timed.
    double rate() const;
    bool measured() const { return reads > 0 || failedReads > 0 || failedProbes > 0; }
};

// The surface map of a unit: at most a few thousand stretches, whatever the
// unit's size. A unit of few sections has each section cut into parts of
// whole read units (at least kMinimumReads each); a unit of more sections
// than the map holds has several whole sections to a stretch. The layout
// depends only on the section table, so two tests of a unit over the same
// stored layout have the same stretches.
class SurfaceMap {
  public:
    static constexpr int kMaximumStretches = 4096;
    static constexpr int kMaximumPartsPerSection = 100;
    static constexpr int64_t kMinimumReads = 8;

    SurfaceMap() = default;
    // The stretches of sections [0, sectionCount) of a table (ends inclusive,
    // as the table keeps them) for reads of readUnit bytes.
    static SurfaceMap forSections(const std::vector<ScanSection>& sections, int sectionCount,
                                  int64_t unitSize, int64_t readUnit,
                                  int maximumStretches = kMaximumStretches);

    // The stretch holding a byte, or -1 outside every stretch.
    int stretchAt(int64_t offset) const;

    int64_t unitSize() const { return unitSize_; }
    // Parts each section is cut into (1 when sections are whole or merged)
    // and whole sections to a stretch (1 unless merged).
    int partsPerSection() const { return partsPerSection_; }
    int sectionsPerStretch() const { return sectionsPerStretch_; }
    std::vector<Stretch>& stretches() { return stretches_; }
    const std::vector<Stretch>& stretches() const { return stretches_; }
    // Bytes the map holds, for the memory budget.
    size_t memoryBytes() const;
    // Whether two maps cut the unit the same way (same stretch bounds).
    bool sameLayout(const SurfaceMap& other) const;

    // A map read back from a file: the stretches as stored, and the layout
    // figures they were made with.
    static SurfaceMap fromStretches(int64_t unitSize, int partsPerSection, int sectionsPerStretch,
                                    std::vector<Stretch> stretches);

  private:
    int64_t unitSize_ = 0;
    int partsPerSection_ = 1;
    int sectionsPerStretch_ = 1;
    std::vector<Stretch> stretches_; // in order of their start
};

} // namespace tolvarin
