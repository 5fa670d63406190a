#include "base/BaselineComparison.h"

#include <limits>

namespace tolvarin {

namespace BaselineComparison {

double typicalSpeed(const Stretch& stretch) {
    return stretch.reads > 0 && stretch.medianMicros > 0
               ? 1e6 / static_cast<double>(stretch.medianMicros)
               : 0;
}

BaselineChange compare(const SurfaceMap& now, const SurfaceMap* baseline,
                       const std::vector<const SurfaceMap*>& earlier, double threshold) {
    constexpr double kUnknown = std::numeric_limits<double>::quiet_NaN();
    BaselineChange change;
    change.threshold = threshold;
    if (baseline != nullptr && !baseline->sameLayout(now)) {
        change.note = "the baseline test cut the unit into other stretches";
        baseline = nullptr;
    }
    std::vector<const SurfaceMap*> same;
    for (const SurfaceMap* map : earlier) {
        if (map != nullptr && map->sameLayout(now)) {
            same.push_back(map);
        }
    }
    if (baseline == nullptr && same.empty()) {
        if (change.note.empty()) {
            change.note = "no earlier test of this unit has measurements to compare with";
        }
        return change;
    }
    change.available = true;
    change.averagedTests = static_cast<int>(same.size());
    const std::vector<Stretch>& stretches = now.stretches();
    for (size_t i = 0; i < stretches.size(); ++i) {
        StretchChange c;
        c.stretch = static_cast<int>(i);
        double rate = typicalSpeed(stretches[i]);
        c.baselineRatio = kUnknown;
        c.averageRatio = kUnknown;
        if (rate > 0 && baseline != nullptr) {
            double then = typicalSpeed(baseline->stretches()[i]);
            if (then > 0) {
                c.baselineRatio = rate / then;
            }
        }
        double sum = 0;
        int counted = 0;
        for (const SurfaceMap* map : same) {
            double then = typicalSpeed(map->stretches()[i]);
            if (then > 0) {
                sum += then;
                ++counted;
            }
        }
        if (rate > 0 && counted > 0) {
            c.averageRatio = rate / (sum / counted);
        }
        double judged = c.baselineRatio == c.baselineRatio ? c.baselineRatio : c.averageRatio;
        c.slowed = judged == judged && judged < threshold;
        if (c.slowed) {
            change.slowed.push_back(c.stretch);
        }
        change.stretches.push_back(c);
    }
    return change;
}

} // namespace BaselineComparison

} // namespace tolvarin
