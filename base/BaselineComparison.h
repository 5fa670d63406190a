#pragma once

#include "base/SurfaceMap.h"
#include "base/TestMeasurements.h"

#include <vector>

namespace tolvarin {

// The change of a unit's surface against its baseline: each stretch's rate
// now over its rate in the baseline test and over its mean rate in the
// tests since (the baseline included), the running average of the stored
// tests. A stretch whose rate fell below kSlowedRatio of the baseline's
// (of the average's when the baseline did not read it) has slowed.
namespace BaselineComparison {

// Chosen from repeated tests of unchanged units (see README, "Slowed
// stretches"): their stretches never fell below 0.70 of an earlier test's
// rate, so a stretch at less than half its earlier rate has changed.
inline constexpr double kSlowedRatio = 0.5;

// now against baseline (may be null) and the earlier tests of the same
// layout; maps of another layout are left out with a note.
BaselineChange compare(const SurfaceMap& now, const SurfaceMap* baseline,
                       const std::vector<const SurfaceMap*>& earlier,
                       double threshold = kSlowedRatio);

} // namespace BaselineComparison

} // namespace tolvarin
