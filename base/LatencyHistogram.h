#pragma once

#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace tolvarin {

// How long operations took, on a logarithmic scale: ten buckets per factor
// of ten from 1 microsecond to 100 seconds, one bucket below (under 1 us)
// and one above (100 s and more). Adding a reading is a table search and
// two increments, cheap enough for every read of a scan.
class LatencyHistogram {
  public:
    static constexpr int kPerDecade = 10;
    static constexpr int kDecades = 8; // 1 us .. 100 s
    static constexpr int kBuckets = kPerDecade * kDecades + 2;

    // The bucket of a reading: 0 below 1 us, kBuckets - 1 from 100 s on,
    // else 1 + floor(kPerDecade * log10(micros)). Called after every read,
    // when the read's copy has pushed the tables out of the nearer caches:
    // the reading's power of two names its first candidate and three
    // independent comparisons settle it, where a search over the bounds
    // made seven loads one after another.
    static int bucketOf(int64_t micros) {
        if (micros < 1) {
            return 0;
        }
        if (micros >= kTopMicros) {
            return kBuckets - 1;
        }
        const Steps& t = kSteps;
        auto value = static_cast<uint64_t>(micros);
        int first = t.startOfPower[static_cast<size_t>(std::bit_width(value) - 1)];
        auto at = static_cast<size_t>(first);
        return first + static_cast<int>(value >= t.firstMicros[at + 1]) +
               static_cast<int>(value >= t.firstMicros[at + 2]) +
               static_cast<int>(value >= t.firstMicros[at + 3]);
    }
    // The bounds of a bucket in microseconds: [lower, upper). The bucket
    // below 1 us starts at 0; the one from 100 s on ends at infinity.
    static double lowerMicros(int bucket);
    static double upperMicros(int bucket);

    void add(int64_t micros) { addToBucket(bucketOf(micros)); }
    void addToBucket(int bucket) {
        ++counts_[static_cast<size_t>(bucket)];
        ++total_;
    }
    void merge(const LatencyHistogram& other);
    void clear();

    uint64_t total() const { return total_; }
    const std::array<uint64_t, kBuckets>& counts() const { return counts_; }
    // Replaces the counts (a histogram read back from a file).
    void setCounts(const std::array<uint64_t, kBuckets>& counts);
    // The reading below which the given share (0..1) of the readings lies,
    // interpolated on the logarithmic scale inside its bucket; 0 when
    // empty.
    double quantileMicros(double share) const;

  private:
    static constexpr int64_t kTopMicros = 100000000; // 100 s
    // bounds()[i] = 10^((i - 1) / kPerDecade) us for i = 1 .. kBuckets - 1.
    static const std::array<double, kBuckets>& bounds();
    // A power of two spans log10(2) of a decade: at most four buckets.
    static constexpr int kPowers = 27; // 2^26 < 100 s < 2^27 us
    struct Steps {
        // The least whole number of microseconds in each bucket (bucket 0
        // and the places past the last bucket hold values no reading
        // reaches here).
        std::array<uint64_t, kBuckets + 3> firstMicros{};
        // The bucket of 2^k us.
        std::array<uint8_t, kPowers> startOfPower{};
    };
    static const Steps kSteps;

    std::array<uint64_t, kBuckets> counts_{};
    uint64_t total_ = 0;
};

// The share quantile of counts laid out as the histogram's buckets, as
// LatencyHistogram::quantileMicros (shared with the per-stretch sketches).
template <typename Count, size_t N>
double histogramQuantile(const std::array<Count, N>& counts, double share) {
    static_assert(N == LatencyHistogram::kBuckets);
    uint64_t total = 0;
    for (Count c : counts) {
        total += c;
    }
    if (total == 0) {
        return 0;
    }
    share = share < 0 ? 0 : (share > 1 ? 1 : share);
    double wanted = share * static_cast<double>(total);
    double below = 0;
    for (size_t i = 0; i < N; ++i) {
        double here = static_cast<double>(counts[i]);
        if (here > 0 && below + here >= wanted) {
            double lower = LatencyHistogram::lowerMicros(static_cast<int>(i));
            double upper = LatencyHistogram::upperMicros(static_cast<int>(i));
            double within = (wanted - below) / here;
            if (lower <= 0 || !std::isfinite(upper)) {
                // The open ends have no scale to interpolate on.
                return lower <= 0 ? upper * within : lower;
            }
            return lower * std::pow(upper / lower, within);
        }
        below += here;
    }
    return LatencyHistogram::lowerMicros(static_cast<int>(N) - 1);
}

} // namespace tolvarin
