#pragma once

#include <string>
#include <string_view>

namespace tolvarin {

// The relative performance indices as the store keeps them: reading the RPI
// lines back from a scan file, and the two comparisons the report makes
// between the baseline's indices and the latest scan's. The scan controller
// forwards getSurfaceScanRPIsUsingFile:andSetLinear:andRatio: and
// getSeekScanRPIsUsingFile:andSetLinear:andRatio: here, the logger
// compareLINBetweenInitial:andCurrent: and compareRATBetweenInitial:andCurrent:.
class PerformanceIndex {
  public:
    PerformanceIndex() = delete;

    // A ratio index above this (strictly) is abnormally high.
    static constexpr double kRatioThreshold = 2.55;
    // The band within which a linear index counts as unchanged.
    static constexpr double kLinearLow = 0.95;
    static constexpr double kLinearHigh = 1.05;

    // Sets linear from the last line containing "RPISSLIN:" and ratio from
    // the last containing "RPISSRAT:" (seek: "RPISKLIN:", "RPISKRAT:"): the
    // number that remains when the key is taken out. An output whose line is
    // missing or holds no number keeps its value. Answers whether both were
    // found.
    static bool getSurfaceScanRPIsUsingFile(const std::string& path, double& linear, double& ratio);
    static bool getSeekScanRPIsUsingFile(const std::string& path, double& linear, double& ratio);
    static bool readRPIs(std::string_view text, std::string_view linearKey,
                         std::string_view ratioKey, double& linear, double& ratio);

    // current / initial below 0.95 -> 2 (faster than the baseline), above
    // 1.05 -> 1 (slower), else 0. A baseline of 0 (nothing to divide by)
    // compares as 1 when the current index is above it and as 0 otherwise;
    // values that are not numbers compare as 0.
    static int compareLINBetweenInitial(double initial, double current);
    // Against 2.55: both above -> 3; initial above, current not -> 2; current
    // above, initial not -> 1; neither -> 0.
    static int compareRATBetweenInitial(double initial, double current);
};

} // namespace tolvarin
