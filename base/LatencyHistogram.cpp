#include "base/LatencyHistogram.h"

#include <cmath>
#include <limits>

namespace tolvarin {

const std::array<double, LatencyHistogram::kBuckets>& LatencyHistogram::bounds() {
    static const std::array<double, kBuckets> table = [] {
        std::array<double, kBuckets> b{};
        for (int i = 1; i < kBuckets; ++i) {
            // Whole decades exactly, so that 10 us lies in the bucket it names.
            b[static_cast<size_t>(i)] =
                (i - 1) % kPerDecade == 0 ? std::pow(10.0, (i - 1) / kPerDecade)
                                          : std::pow(10.0, static_cast<double>(i - 1) / kPerDecade);
        }
        return b;
    }();
    return table;
}

// Built from bounds() at start-up, so that a reading lands where a search
// of the bounds would put it.
const LatencyHistogram::Steps LatencyHistogram::kSteps = [] {
    Steps t;
    const auto& b = bounds();
    t.firstMicros.fill(std::numeric_limits<uint64_t>::max());
    t.firstMicros[0] = 0;
    for (size_t i = 1; i < static_cast<size_t>(kBuckets); ++i) {
        t.firstMicros[i] = static_cast<uint64_t>(std::ceil(b[i]));
    }
    for (size_t k = 0; k < static_cast<size_t>(kPowers); ++k) {
        uint64_t power = uint64_t{1} << k;
        size_t bucket = 1;
        while (bucket + 1 < static_cast<size_t>(kBuckets) && t.firstMicros[bucket + 1] <= power) {
            ++bucket;
        }
        t.startOfPower[k] = static_cast<uint8_t>(bucket);
    }
    return t;
}();

double LatencyHistogram::lowerMicros(int bucket) {
    if (bucket <= 0) {
        return 0;
    }
    if (bucket >= kBuckets) {
        bucket = kBuckets - 1;
    }
    return bounds()[static_cast<size_t>(bucket)];
}

double LatencyHistogram::upperMicros(int bucket) {
    if (bucket >= kBuckets - 1) {
        return std::numeric_limits<double>::infinity();
    }
    return bounds()[static_cast<size_t>(bucket < 0 ? 1 : bucket + 1)];
}

void LatencyHistogram::merge(const LatencyHistogram& other) {
    for (size_t i = 0; i < counts_.size(); ++i) {
        counts_[i] += other.counts_[i];
    }
    total_ += other.total_;
}

void LatencyHistogram::clear() {
    counts_.fill(0);
    total_ = 0;
}

void LatencyHistogram::setCounts(const std::array<uint64_t, kBuckets>& counts) {
    counts_ = counts;
    total_ = 0;
    for (uint64_t c : counts_) {
        total_ += c;
    }
}

double LatencyHistogram::quantileMicros(double share) const {
    return histogramQuantile(counts_, share);
}

} // namespace tolvarin
