#pragma once

#include "base/SurfaceMap.h"
#include "base/TestMeasurements.h"

#include <vector>

namespace tolvarin {

// The change of a unit's surface against its baseline: each stretch's
// typical speed now (the inverse of its median read time) over its typical
// speed in the baseline test and over its mean in the tests since (the
// baseline included), the running average of the stored tests. A stretch
// whose ratio fell below kSlowedRatio against the baseline (against the
// average when the baseline did not read it) has slowed. The median, not
// the mean rate, because a burst of other work on the machine slows a few
// reads of a stretch by much, and the mean with them; a stretch whose
// reads are slow only now and then shows in its latency class instead.
namespace BaselineComparison {

// Chosen by measurement (bench/stretch_spread.sh, see README, "Slowed
// stretches"): six tests of an unchanged unit on a shared virtual disk under
// load from other builds; of 1,000 stretch comparisons against the baseline
// the lowest median ratio was 0.38 (0.1% quantile 0.52), while the mean rate
// ratio fell to 0.07 and below 0.5 in 13% of them. Below 0.35 a stretch's
// typical read takes about three times as long as it did.
inline constexpr double kSlowedRatio = 0.35;

// A stretch's typical speed: reads per second of its median read (0 when
// it has no timed read).
double typicalSpeed(const Stretch& stretch);

// now against baseline (may be null) and the earlier tests of the same
// layout; maps of another layout are left out with a note.
BaselineChange compare(const SurfaceMap& now, const SurfaceMap* baseline,
                       const std::vector<const SurfaceMap*>& earlier,
                       double threshold = kSlowedRatio);

} // namespace BaselineComparison

} // namespace tolvarin
