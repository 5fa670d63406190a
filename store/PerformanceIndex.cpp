#include "store/PerformanceIndex.h"

#include "platform/SafeFile.h"
#include "store/DataFileFormat.h"

#include <cmath>
#include <optional>

namespace tolvarin {

namespace {

// The number left on a line once key is taken out, blanks around it ignored.
std::optional<double> valueWithout(std::string_view line, std::size_t keyAt, std::size_t keySize) {
    std::string rest(line.substr(0, keyAt));
    rest += line.substr(keyAt + keySize);
    std::size_t first = rest.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return std::nullopt;
    }
    std::size_t last = rest.find_last_not_of(" \t\r");
    // Every index is a mean time or the logarithm of a ratio of at least one:
    // a negative one (like an infinite one) is damage, not a measurement.
    std::optional<double> value =
        DataFileFormat::parseDouble(std::string_view(rest).substr(first, last - first + 1));
    if (!value || *value < 0) {
        return std::nullopt;
    }
    return value;
}

bool readFileRPIs(const std::string& path, std::string_view linearKey, std::string_view ratioKey,
                  double& linear, double& ratio) {
    std::optional<std::string> text = SafeFile::read(path);
    if (!text) {
        return false;
    }
    return PerformanceIndex::readRPIs(*text, linearKey, ratioKey, linear, ratio);
}

} // namespace

bool PerformanceIndex::readRPIs(std::string_view text, std::string_view linearKey,
                                std::string_view ratioKey, double& linear, double& ratio) {
    bool foundLinear = false;
    bool foundRatio = false;
    for (const DataFileLine& line : DataFileFormat::splitLines(text)) {
        std::size_t at = line.text.find(linearKey);
        if (at != std::string_view::npos) {
            if (auto v = valueWithout(line.text, at, linearKey.size())) {
                linear = *v;
                foundLinear = true;
            }
        }
        at = line.text.find(ratioKey);
        if (at != std::string_view::npos) {
            if (auto v = valueWithout(line.text, at, ratioKey.size())) {
                ratio = *v;
                foundRatio = true;
            }
        }
    }
    return foundLinear && foundRatio;
}

bool PerformanceIndex::getSurfaceScanRPIsUsingFile(const std::string& path, double& linear,
                                                   double& ratio) {
    return readFileRPIs(path, "RPISSLIN:", "RPISSRAT:", linear, ratio);
}

bool PerformanceIndex::getSeekScanRPIsUsingFile(const std::string& path, double& linear,
                                                double& ratio) {
    return readFileRPIs(path, "RPISKLIN:", "RPISKRAT:", linear, ratio);
}

int PerformanceIndex::compareLINBetweenInitial(double initial, double current) {
    if (std::isnan(initial) || std::isnan(current)) {
        return 0;
    }
    if (initial == 0) {
        return current > 0 ? 1 : 0;
    }
    double r = current / initial;
    if (r < kLinearLow) {
        return 2;
    }
    if (r > kLinearHigh) {
        return 1;
    }
    return 0;
}

int PerformanceIndex::compareRATBetweenInitial(double initial, double current) {
    bool initialHigh = initial > kRatioThreshold;
    bool currentHigh = current > kRatioThreshold;
    if (initialHigh && currentHigh) {
        return 3;
    }
    if (initialHigh) {
        return 2;
    }
    if (currentHigh) {
        return 1;
    }
    return 0;
}

} // namespace tolvarin
