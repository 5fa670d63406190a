#include "base/SurfaceMap.h"

#include <algorithm>

namespace tolvarin {

namespace {

constexpr const char* kClassNames[kLatencyClassCount] = {
    "<5ms", "<20ms", "<50ms", "<150ms", "<500ms", ">=500ms", "unreadable", "not read"};

} // namespace

const char* latencyClassName(LatencyClass value) {
    auto i = static_cast<size_t>(value);
    return i < kLatencyClassCount ? kClassNames[i] : "not read";
}

std::optional<LatencyClass> latencyClassNamed(const std::string& name) {
    for (int i = 0; i < kLatencyClassCount; ++i) {
        if (name == kClassNames[i]) {
            return static_cast<LatencyClass>(i);
        }
    }
    return std::nullopt;
}

LatencyClass Stretch::latencyClass() const {
    if (failedReads > 0 || failedProbes > 0) {
        return LatencyClass::unreadable;
    }
    if (reads == 0) {
        return LatencyClass::notRead;
    }
    return latencyClassOf(maxMicros);
}

double Stretch::rate() const {
    if (reads == 0 || bytes <= 0) {
        return 0;
    }
    // A stretch read faster than the clock can tell counts one tick a read.
    auto micros = static_cast<double>(std::max<int64_t>(sumMicros, reads));
    return static_cast<double>(bytes) / micros * 1e6;
}

SurfaceMap SurfaceMap::forSections(const std::vector<ScanSection>& sections, int sectionCount,
                                   int64_t unitSize, int64_t readUnit, int maximumStretches) {
    SurfaceMap map;
    map.unitSize_ = unitSize;
    int n = std::clamp(sectionCount, 0, static_cast<int>(sections.size()));
    if (n == 0 || maximumStretches < 1) {
        return map;
    }
    readUnit = std::max<int64_t>(readUnit, 1);
    if (n > maximumStretches) {
        // More sections than the map holds: whole sections to a stretch.
        int per = (n + maximumStretches - 1) / maximumStretches;
        map.sectionsPerStretch_ = per;
        for (int first = 0; first < n; first += per) {
            int last = std::min(first + per, n) - 1;
            Stretch s;
            s.start = sections[static_cast<size_t>(first)].start;
            s.end = sections[static_cast<size_t>(last)].end + 1;
            s.section = first;
            map.stretches_.push_back(s);
        }
        return map;
    }
    int parts = std::clamp(maximumStretches / n, 1, kMaximumPartsPerSection);
    map.partsPerSection_ = parts;
    map.stretches_.reserve(static_cast<size_t>(n) * static_cast<size_t>(parts));
    for (int i = 0; i < n; ++i) {
        const ScanSection& section = sections[static_cast<size_t>(i)];
        int64_t length = std::max<int64_t>(section.end - section.start + 1, 1);
        int64_t units = (length + readUnit - 1) / readUnit;
        // Never parts of fewer than kMinimumReads reads: their timings
        // would say little.
        int64_t here =
            std::clamp<int64_t>(std::min<int64_t>(parts, units / kMinimumReads), 1, parts);
        int64_t partUnits = (units + here - 1) / here;
        int64_t partLength = partUnits * readUnit;
        for (int64_t start = section.start; start <= section.end; start += partLength) {
            Stretch s;
            s.start = start;
            s.end = std::min(start + partLength, section.end + 1);
            s.section = i;
            map.stretches_.push_back(s);
        }
    }
    return map;
}

SurfaceMap SurfaceMap::fromStretches(int64_t unitSize, int partsPerSection, int sectionsPerStretch,
                                     std::vector<Stretch> stretches) {
    SurfaceMap map;
    map.unitSize_ = unitSize;
    map.partsPerSection_ = std::max(partsPerSection, 1);
    map.sectionsPerStretch_ = std::max(sectionsPerStretch, 1);
    map.stretches_ = std::move(stretches);
    std::stable_sort(map.stretches_.begin(), map.stretches_.end(),
                     [](const Stretch& a, const Stretch& b) { return a.start < b.start; });
    return map;
}

int SurfaceMap::stretchAt(int64_t offset) const {
    // The last stretch that starts at or before the offset.
    auto it = std::upper_bound(stretches_.begin(), stretches_.end(), offset,
                               [](int64_t value, const Stretch& s) { return value < s.start; });
    if (it == stretches_.begin()) {
        return -1;
    }
    --it;
    if (offset >= it->end) {
        return -1;
    }
    return static_cast<int>(it - stretches_.begin());
}

size_t SurfaceMap::memoryBytes() const {
    return sizeof(*this) + stretches_.capacity() * sizeof(Stretch);
}

bool SurfaceMap::sameLayout(const SurfaceMap& other) const {
    if (unitSize_ != other.unitSize_ || stretches_.size() != other.stretches_.size()) {
        return false;
    }
    for (size_t i = 0; i < stretches_.size(); ++i) {
        if (stretches_[i].start != other.stretches_[i].start ||
            stretches_[i].end != other.stretches_[i].end) {
            return false;
        }
    }
    return true;
}

} // namespace tolvarin
