#pragma once

#include "base/LatencyHistogram.h"
#include "base/SurfaceMap.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace tolvarin {

// What the pictures are drawn from: plain values, so that the drawing code
// (a face's, or the headless module the report and the terminal load) needs
// nothing but these. Notes are drawn under a picture: what is missing from
// it, and why.

// One stretch of a surface map.
struct MapCell {
    int64_t start = 0;
    int64_t end = 0;
    LatencyClass latency = LatencyClass::notRead;
    bool doubtful = false; // its slowest read was taken during other I/O
};

// The surface map: the unit from its first to its last byte, each stretch
// coloured by its latency class; position is where reading is (or stopped),
// -1 for none.
struct SurfaceMapPicture {
    std::string title;
    int64_t unitSize = 0;
    std::vector<MapCell> cells;
    int64_t position = -1;
    std::vector<std::string> notes;
};

// A latency histogram (the buckets of LatencyHistogram).
struct HistogramPicture {
    std::string title;
    std::array<uint64_t, LatencyHistogram::kBuckets> counts{};
    std::vector<std::string> notes;
};

// One stretch of a baseline-change map: its rate now over its rate in the
// baseline test (not a number when either is unknown).
struct ChangeCell {
    int64_t start = 0;
    int64_t end = 0;
    double ratio = std::numeric_limits<double>::quiet_NaN();
    bool slowed = false;
};

struct BaselineChangePicture {
    std::string title;
    int64_t unitSize = 0;
    std::vector<ChangeCell> cells;
    double threshold = 0; // a ratio below this counts as slowed
    std::vector<std::string> notes;
};

// The four performance indices of one test (surface linear, surface ratio,
// seek linear, seek ratio), each when measured.
struct TrendPoint {
    std::string label;
    std::array<std::optional<double>, 4> indices;
};

struct TrendPicture {
    std::string title;
    std::vector<TrendPoint> points; // oldest first
    std::vector<std::string> notes;
};

} // namespace tolvarin
