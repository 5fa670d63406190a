#pragma once

#include "base/LatencyHistogram.h"
#include "base/SurfaceMap.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tolvarin {

// S.M.A.R.T. attributes read once, or why they could not be read. The
// values kept are those that tell of a unit getting worse: see
// kSmartAttributeNames.
struct SmartReading {
    bool available = false;
    std::string problem;
    std::map<std::string, int64_t> values;
};

// The attribute names a SmartReading may hold, in the order they are shown.
inline constexpr std::array<const char*, 6> kSmartAttributeNames = {
    "reallocatedSectors", "pendingSectors", "uncorrectableSectors",
    "crcErrors",          "mediaErrors",    "temperature"};

struct SmartChange {
    std::string name;
    int64_t before = 0;
    int64_t after = 0;
};

// The attributes whose value differs between two readings (both present).
std::vector<SmartChange> smartChangesBetween(const SmartReading& before, const SmartReading& after);

// How the unit is attached and what it is.
struct UnitDescription {
    std::string transport = "unknown"; // sata, scsi, usb, nvme, virtio, loop, mmc, file, unknown
    std::optional<bool> rotational;
    bool usbBridge = false;
    bool nvme = false;
    bool imageFile = false;

    // Seek times tell of heads moving only on a rotating unit reached
    // directly (not an image file or a loop device over one).
    bool seekTimesMeaningful() const;
    // "USB bridge, rotational" and the like.
    std::string summary() const;
};

// A slow read taken while other I/O hit the same unit.
struct DoubtfulReading {
    int64_t offset = 0;
    int64_t micros = 0;
    int64_t otherReadSectors = 0;  // sectors others read meanwhile
    int64_t otherWriteSectors = 0; // sectors others wrote meanwhile
    int64_t inFlight = 0;          // others' requests under way at a sample
};

// One stretch against the unit's baseline test and its running average:
// the rate now over the rate then (not a number when unknown).
struct StretchChange {
    int stretch = 0;
    double baselineRatio = 0;
    double averageRatio = 0;
    bool slowed = false;
};

struct BaselineChange {
    bool available = false;
    std::string note;          // why not, when not
    double threshold = 0;      // a ratio below this counts as slowed
    std::string baselineStamp; // when the baseline test ran
    int averagedTests = 0;     // earlier tests in the running average
    std::vector<StretchChange> stretches;
    std::vector<int> slowed; // indices of the slowed stretches
};

// Everything one test measured beyond what the designed files keep: the
// latency histograms, the surface map, the readings taken during other
// I/O, the unit's S.M.A.R.T. attributes before and after, how the unit is
// attached, and for the unit's history its counts, indices and verdict.
struct TestMeasurements {
    static constexpr int kFormatVersion = 1;
    // The doubtful readings listed at most; more are only counted.
    static constexpr size_t kMaximumDoubtful = 1000;

    std::string kind;         // normal, cursory, limited
    std::string outcome;      // completed, stopped, saved
    bool initialScan = false; // a normal test that stored the unit's baseline
    int64_t startWallMicros = 0;
    int64_t endWallMicros = 0;
    std::string startStamp;
    std::string endStamp;
    std::string device;
    std::string filePrefix;
    UnitDescription unit;

    bool surfaceScanned = false;
    SurfaceMap map;
    int64_t lastPosition = -1;
    LatencyHistogram surfaceReads;
    bool seekScanned = false;
    LatencyHistogram seekRoundTrips;

    bool activityWatched = false; // the unit's I/O counters could be read
    std::string activityNote;
    std::vector<DoubtfulReading> doubtful;
    uint64_t doubtfulCount = 0; // listed and not listed
    uint64_t readsDuringOtherIO = 0;

    SmartReading smartBefore;
    SmartReading smartAfter;
    std::vector<SmartChange> smartChanges;

    int surfaceErrors = 0;
    int surfaceIrregularities = 0;
    int seekErrors = 0;
    int seekIrregularities = 0;
    int totalErrors = 0;
    int totalIrregularities = 0;
    // surface linear, surface ratio, seek linear, seek ratio; each when
    // measured by this test.
    std::array<std::optional<double>, 4> indices;
    std::string verdict; // PASSED, PASSED WITH IRREGULARITIES, FAILED, or empty

    BaselineChange baseline;
    std::vector<std::string> notes;
};

} // namespace tolvarin
