#include "cli/MeasurementJson.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

namespace tolvarin {

namespace MeasurementJson {

namespace {

using nlohmann::json;

// How many of the slowest stretches the summary names.
constexpr size_t kSlowestListed = 10;

json number(double value) {
    return std::isfinite(value) ? json(value) : json(nullptr);
}

json orNull(const std::optional<double>& value) {
    return value ? number(*value) : json(nullptr);
}

json indicesOf(const TestMeasurements& m) {
    return {{"surfaceLinear", orNull(m.indices[0])},
            {"surfaceRatio", orNull(m.indices[1])},
            {"seekLinear", orNull(m.indices[2])},
            {"seekRatio", orNull(m.indices[3])}};
}

json stretchOf(const TestMeasurements& m, size_t index) {
    const Stretch& s = m.map.stretches()[index];
    return {{"index", index},
            {"start", s.start},
            {"end", s.end},
            {"class", latencyClassName(s.latencyClass())},
            {"reads", s.reads},
            {"minMicros", s.minMicros},
            {"medianMicros", s.medianMicros},
            {"maxMicros", s.maxMicros},
            {"slowestAt", s.slowestAt},
            {"bytesPerSecond", number(s.rate())},
            {"doubtful", s.slowestDoubtful}};
}

json smartOf(const SmartReading& s) {
    json values = json::object();
    for (const auto& [name, value] : s.values) {
        values[name] = value;
    }
    return {{"available", s.available},
            {"problem", s.problem.empty() ? json(nullptr) : json(s.problem)},
            {"values", values}};
}

json changesOf(const std::vector<SmartChange>& changes) {
    json out = json::array();
    for (const SmartChange& c : changes) {
        out.push_back({{"name", c.name}, {"before", c.before}, {"after", c.after}});
    }
    return out;
}

json countsOf(const TestMeasurements& m) {
    return {{"surfaceErrors", m.surfaceErrors}, {"surfaceIrregularities", m.surfaceIrregularities},
            {"seekErrors", m.seekErrors},       {"seekIrregularities", m.seekIrregularities},
            {"totalErrors", m.totalErrors},     {"totalIrregularities", m.totalIrregularities}};
}

json mapOf(const TestMeasurements& m) {
    if (!m.surfaceScanned) {
        return nullptr;
    }
    const std::vector<Stretch>& stretches = m.map.stretches();
    json classes = json::object();
    for (int i = 0; i < kLatencyClassCount; ++i) {
        classes[latencyClassName(static_cast<LatencyClass>(i))] = 0;
    }
    json unreadable = json::array();
    std::vector<size_t> order;
    for (size_t i = 0; i < stretches.size(); ++i) {
        LatencyClass c = stretches[i].latencyClass();
        classes[latencyClassName(c)] = classes[latencyClassName(c)].get<int>() + 1;
        if (c == LatencyClass::unreadable) {
            unreadable.push_back(stretchOf(m, i));
        }
        if (stretches[i].reads > 0) {
            order.push_back(i);
        }
    }
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return stretches[a].maxMicros > stretches[b].maxMicros;
    });
    json slowest = json::array();
    for (size_t k = 0; k < order.size() && k < kSlowestListed; ++k) {
        slowest.push_back(stretchOf(m, order[k]));
    }
    return {{"unitSize", m.map.unitSize()},
            {"stretches", stretches.size()},
            {"partsPerSection", m.map.partsPerSection()},
            {"sectionsPerStretch", m.map.sectionsPerStretch()},
            {"lastPosition", m.lastPosition},
            {"classes", classes},
            {"slowest", slowest},
            {"unreadable", unreadable}};
}

json doubtfulOf(const TestMeasurements& m) {
    json readings = json::array();
    for (const DoubtfulReading& d : m.doubtful) {
        readings.push_back({{"offset", d.offset},
                            {"micros", d.micros},
                            {"stretch", m.map.stretchAt(d.offset)},
                            {"otherReadSectors", d.otherReadSectors},
                            {"otherWriteSectors", d.otherWriteSectors},
                            {"inFlight", d.inFlight}});
    }
    return {{"watched", m.activityWatched},
            {"note", m.activityNote.empty() ? json(nullptr) : json(m.activityNote)},
            {"readsDuringOtherIO", m.readsDuringOtherIO},
            {"count", m.doubtfulCount},
            {"readings", readings}};
}

json baselineOf(const TestMeasurements& m) {
    const BaselineChange& b = m.baseline;
    json slowed = json::array();
    for (int index : b.slowed) {
        if (index < 0 || static_cast<size_t>(index) >= m.map.stretches().size() ||
            static_cast<size_t>(index) >= b.stretches.size()) {
            continue;
        }
        const Stretch& s = m.map.stretches()[static_cast<size_t>(index)];
        const StretchChange& c = b.stretches[static_cast<size_t>(index)];
        slowed.push_back({{"index", index},
                          {"start", s.start},
                          {"end", s.end},
                          {"baselineRatio", number(c.baselineRatio)},
                          {"averageRatio", number(c.averageRatio)}});
    }
    return {{"available", b.available},
            {"note", b.note.empty() ? json(nullptr) : json(b.note)},
            {"threshold", number(b.threshold)},
            {"baselineStarted", b.baselineStamp.empty() ? json(nullptr) : json(b.baselineStamp)},
            {"averagedTests", b.averagedTests},
            {"slowed", slowed}};
}

} // namespace

json ofHistogram(const LatencyHistogram& h) {
    json lower = json::array();
    for (int i = 0; i < LatencyHistogram::kBuckets; ++i) {
        lower.push_back(LatencyHistogram::lowerMicros(i));
    }
    return {{"bucketsPerDecade", LatencyHistogram::kPerDecade},
            {"lowerMicros", lower},
            {"counts", h.counts()},
            {"total", h.total()},
            {"medianMicros", h.total() > 0 ? json(h.quantileMicros(0.5)) : json(nullptr)},
            {"p99Micros", h.total() > 0 ? json(h.quantileMicros(0.99)) : json(nullptr)}};
}

json ofMeasurements(const TestMeasurements& m) {
    return {{"kind", m.kind},
            {"outcome", m.outcome},
            {"unit",
             {{"transport", m.unit.transport},
              {"rotational", m.unit.rotational ? json(*m.unit.rotational) : json(nullptr)},
              {"usbBridge", m.unit.usbBridge},
              {"nvme", m.unit.nvme},
              {"imageFile", m.unit.imageFile},
              {"seekTimesMeaningful", m.unit.seekTimesMeaningful()}}},
            {"surfaceHistogram", m.surfaceScanned ? ofHistogram(m.surfaceReads) : json(nullptr)},
            {"seekHistogram", m.seekScanned ? ofHistogram(m.seekRoundTrips) : json(nullptr)},
            {"map", mapOf(m)},
            {"doubtful", doubtfulOf(m)},
            {"smart",
             {{"before", smartOf(m.smartBefore)},
              {"after", smartOf(m.smartAfter)},
              {"changes", changesOf(m.smartChanges)}}},
            {"baseline", baselineOf(m)},
            {"notes", m.notes}};
}

json ofTest(const TestResults& results) {
    return results.measurements ? ofMeasurements(*results.measurements) : json(nullptr);
}

json historyEntry(const MeasurementArchive::Entry& entry) {
    std::string file = std::filesystem::path(entry.path).filename().string();
    if (!entry.test) {
        return {{"file", file}, {"problem", entry.problem}};
    }
    const TestMeasurements& m = *entry.test;
    return {{"file", file},
            {"problem", nullptr},
            {"started", m.startStamp},
            {"startedWallMicros", m.startWallMicros},
            {"kind", m.kind},
            {"outcome", m.outcome},
            {"initialScan", m.initialScan},
            {"indices", indicesOf(m)},
            {"counts", countsOf(m)},
            {"verdict", m.verdict.empty() ? json(nullptr) : json(m.verdict)},
            {"smartChanges", changesOf(m.smartChanges)},
            {"slowedStretches", m.baseline.slowed.size()},
            {"doubtfulReadings", m.doubtfulCount}};
}

json ofHistory(const std::string& unit, const UnitHistory& history) {
    json tests = json::array();
    for (const MeasurementArchive::Entry& e : history.entries) {
        tests.push_back(historyEntry(e));
    }
    return {{"command", "history"},
            {"unit", unit},
            {"filePrefix", history.filePrefix.empty() ? json(nullptr) : json(history.filePrefix)},
            {"folder", history.folder.empty() ? json(nullptr) : json(history.folder)},
            {"tests", tests}};
}

} // namespace MeasurementJson

} // namespace tolvarin
