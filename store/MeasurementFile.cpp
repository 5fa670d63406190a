#include "store/MeasurementFile.h"

#include "base/BaselineComparison.h"
#include "platform/SafeFile.h"
#include "store/DataFilePrefix.h"
#include "store/DataFileSet.h"
#include "store/DriveProcessor.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <limits>
#include <nlohmann/json.hpp>

namespace tolvarin {

namespace {

using nlohmann::json;

constexpr std::array<const char*, 22> kStretchFields = {
    "start",        "end",           "section",         "reads",     "failedReads", "probes",
    "failedProbes", "doubtfulReads", "bytes",           "sumMicros", "minMicros",   "medianMicros",
    "maxMicros",    "slowestAt",     "slowestDoubtful", "under5ms",  "under20ms",   "under50ms",
    "under150ms",   "under500ms",    "from500ms",       "unreadable"};
constexpr std::array<const char*, 4> kIndexNames = {"surfaceLinear", "surfaceRatio", "seekLinear",
                                                    "seekRatio"};

json number(double value) {
    return std::isfinite(value) ? json(value) : json(nullptr);
}

json histogramJson(const LatencyHistogram& h) {
    return {{"bucketsPerDecade", LatencyHistogram::kPerDecade}, {"counts", h.counts()}};
}

json smartJson(const SmartReading& s) {
    json values = json::object();
    for (const auto& [name, value] : s.values) {
        values[name] = value;
    }
    return {{"available", s.available}, {"problem", s.problem}, {"values", values}};
}

// Reading: every getter checks the type and range and remembers the first
// thing that was wrong.
class Reader {
  public:
    std::string problem;

    bool fail(const std::string& what) {
        if (problem.empty()) {
            problem = what;
        }
        return false;
    }
    const json* member(const json& object, const char* key, bool required = true) {
        if (!object.is_object()) {
            fail(std::string("not an object where \"") + key + "\" should be");
            return nullptr;
        }
        auto it = object.find(key);
        if (it == object.end()) {
            if (required) {
                fail(std::string("\"") + key + "\" is missing");
            }
            return nullptr;
        }
        return &*it;
    }
    bool integer(const json& value, int64_t lo, int64_t hi, int64_t* out, const char* what) {
        int64_t v = 0;
        if (value.is_number_unsigned()) {
            uint64_t u = value.get<uint64_t>();
            if (u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
                return fail(std::string(what) + " is out of range");
            }
            v = static_cast<int64_t>(u);
        } else if (value.is_number_integer()) {
            v = value.get<int64_t>();
        } else {
            return fail(std::string(what) + " is not a whole number");
        }
        if (v < lo || v > hi) {
            return fail(std::string(what) + " is out of range");
        }
        *out = v;
        return true;
    }
    template <typename T>
    bool field(const json& object, const char* key, T* out, int64_t lo, int64_t hi) {
        const json* v = member(object, key);
        int64_t value = 0;
        if (v == nullptr || !integer(*v, lo, hi, &value, key)) {
            return false;
        }
        *out = static_cast<T>(value);
        return true;
    }
    bool text(const json& object, const char* key, std::string* out, bool required = true) {
        const json* v = member(object, key, required);
        if (v == nullptr) {
            return !required;
        }
        if (!v->is_string()) {
            return fail(std::string("\"") + key + "\" is not a text");
        }
        *out = v->get<std::string>();
        return true;
    }
    bool flag(const json& object, const char* key, bool* out) {
        const json* v = member(object, key);
        if (v == nullptr) {
            return false;
        }
        if (!v->is_boolean()) {
            return fail(std::string("\"") + key + "\" is not true or false");
        }
        *out = v->get<bool>();
        return true;
    }
    // A number or null (not a number).
    bool real(const json& value, double* out, const char* what) {
        if (value.is_null()) {
            *out = std::numeric_limits<double>::quiet_NaN();
            return true;
        }
        if (!value.is_number()) {
            return fail(std::string(what) + " is not a number");
        }
        *out = value.get<double>();
        return true;
    }
    bool histogram(const json& object, const char* key, LatencyHistogram* out) {
        const json* h = member(object, key);
        if (h == nullptr) {
            return false;
        }
        int per = 0;
        if (!field(*h, "bucketsPerDecade", &per, 0, 1000)) {
            return false;
        }
        if (per != LatencyHistogram::kPerDecade) {
            return fail("a histogram of another scale");
        }
        const json* counts = member(*h, "counts");
        if (counts == nullptr || !counts->is_array() ||
            counts->size() != static_cast<size_t>(LatencyHistogram::kBuckets)) {
            return fail("a histogram without its buckets");
        }
        std::array<uint64_t, LatencyHistogram::kBuckets> values{};
        for (size_t i = 0; i < values.size(); ++i) {
            int64_t c = 0;
            if (!integer((*counts)[i], 0, std::numeric_limits<int64_t>::max() / 1024, &c,
                         "a histogram count")) {
                return false;
            }
            values[i] = static_cast<uint64_t>(c);
        }
        out->setCounts(values);
        return true;
    }
    bool smart(const json& object, const char* key, SmartReading* out) {
        const json* s = member(object, key);
        if (s == nullptr || !flag(*s, "available", &out->available) ||
            !text(*s, "problem", &out->problem)) {
            return false;
        }
        const json* values = member(*s, "values");
        if (values == nullptr || !values->is_object()) {
            return fail("S.M.A.R.T. values are not an object");
        }
        for (const auto& item : values->items()) {
            const std::string& name = item.key();
            const json& value = item.value();
            if (std::find_if(kSmartAttributeNames.begin(), kSmartAttributeNames.end(),
                             [&](const char* known) { return name == known; }) ==
                kSmartAttributeNames.end()) {
                return fail("an unknown S.M.A.R.T. attribute");
            }
            int64_t v = 0;
            if (!integer(value, std::numeric_limits<int64_t>::min(),
                         std::numeric_limits<int64_t>::max(), &v, "a S.M.A.R.T. value")) {
                return false;
            }
            out->values[name] = v;
        }
        return true;
    }
};

constexpr int64_t kMaxCount = std::numeric_limits<uint32_t>::max();
constexpr int64_t kMaxValue = std::numeric_limits<int64_t>::max() / 4;

bool readStretch(Reader& r, const json& row, Stretch* s) {
    if (!row.is_array() || row.size() != kStretchFields.size()) {
        return r.fail("a stretch of another shape");
    }
    int64_t v[kStretchFields.size()] = {};
    for (size_t i = 0; i < kStretchFields.size(); ++i) {
        int64_t lo = (i == 13) ? -1 : 0; // slowestAt may be -1
        if (i == 14) {
            if (!row[i].is_boolean()) {
                return r.fail("slowestDoubtful is not true or false");
            }
            v[i] = row[i].get<bool>() ? 1 : 0;
            continue;
        }
        bool isCount = (i >= 3 && i <= 7) || i >= 15;
        if (!r.integer(row[i], lo, isCount ? kMaxCount : kMaxValue, &v[i], kStretchFields[i])) {
            return false;
        }
    }
    s->start = v[0];
    s->end = v[1];
    s->section = static_cast<int>(std::min<int64_t>(v[2], std::numeric_limits<int>::max()));
    s->reads = static_cast<uint32_t>(v[3]);
    s->failedReads = static_cast<uint32_t>(v[4]);
    s->probes = static_cast<uint32_t>(v[5]);
    s->failedProbes = static_cast<uint32_t>(v[6]);
    s->doubtfulReads = static_cast<uint32_t>(v[7]);
    s->bytes = v[8];
    s->sumMicros = v[9];
    s->minMicros = v[10];
    s->medianMicros = v[11];
    s->maxMicros = v[12];
    s->slowestAt = v[13];
    s->slowestDoubtful = v[14] != 0;
    for (size_t k = 0; k < s->classCounts.size(); ++k) {
        s->classCounts[k] = static_cast<uint32_t>(v[15 + k]);
    }
    if (s->start >= s->end) {
        return r.fail("a stretch that ends before it starts");
    }
    return true;
}

bool readMap(Reader& r, const json& surface, TestMeasurements* m) {
    const json* map = r.member(surface, "map");
    if (map == nullptr) {
        return false;
    }
    int64_t unitSize = 0;
    int parts = 1;
    int perStretch = 1;
    if (!r.field(*map, "unitSize", &unitSize, 0, kMaxValue) ||
        !r.field(*map, "partsPerSection", &parts, 1, 1 << 20) ||
        !r.field(*map, "sectionsPerStretch", &perStretch, 1, 1 << 30)) {
        return false;
    }
    const json* fields = r.member(*map, "fields");
    const json* rows = r.member(*map, "stretches");
    if (fields == nullptr || rows == nullptr) {
        return false;
    }
    if (!fields->is_array() || fields->size() != kStretchFields.size()) {
        return r.fail("stretches of another layout");
    }
    for (size_t i = 0; i < kStretchFields.size(); ++i) {
        if (!(*fields)[i].is_string() || (*fields)[i].get<std::string>() != kStretchFields[i]) {
            return r.fail("stretches of another layout");
        }
    }
    if (!rows->is_array() || rows->size() > static_cast<size_t>(1 << 20)) {
        return r.fail("stretches are not a list");
    }
    std::vector<Stretch> stretches;
    stretches.reserve(rows->size());
    int64_t previousEnd = 0;
    for (const json& row : *rows) {
        Stretch s;
        if (!readStretch(r, row, &s)) {
            return false;
        }
        if (s.start < previousEnd || (unitSize > 0 && s.end > unitSize)) {
            return r.fail("stretches overlap or lie beyond the unit");
        }
        previousEnd = s.end;
        stretches.push_back(s);
    }
    m->map = SurfaceMap::fromStretches(unitSize, parts, perStretch, std::move(stretches));
    return true;
}

bool readBaseline(Reader& r, const json& object, TestMeasurements* m) {
    const json* b = r.member(object, "baseline");
    if (b == nullptr) {
        return false;
    }
    BaselineChange& c = m->baseline;
    if (!r.flag(*b, "available", &c.available) || !r.text(*b, "note", &c.note) ||
        !r.text(*b, "baselineStarted", &c.baselineStamp) ||
        !r.field(*b, "averagedTests", &c.averagedTests, 0, 1 << 20)) {
        return false;
    }
    const json* threshold = r.member(*b, "threshold");
    if (threshold == nullptr || !r.real(*threshold, &c.threshold, "the threshold")) {
        return false;
    }
    const json* rows = r.member(*b, "stretches");
    if (rows == nullptr || !rows->is_array()) {
        return r.fail("baseline stretches are not a list");
    }
    if (!rows->empty() && rows->size() != m->map.stretches().size()) {
        return r.fail("baseline stretches do not match the map");
    }
    for (size_t i = 0; i < rows->size(); ++i) {
        const json& row = (*rows)[i];
        StretchChange s;
        s.stretch = static_cast<int>(i);
        if (!row.is_array() || row.size() != 3 || !r.real(row[0], &s.baselineRatio, "a ratio") ||
            !r.real(row[1], &s.averageRatio, "a ratio") || !row[2].is_boolean()) {
            return r.fail("a baseline stretch of another shape");
        }
        s.slowed = row[2].get<bool>();
        if (s.slowed) {
            c.slowed.push_back(s.stretch);
        }
        c.stretches.push_back(s);
    }
    return true;
}

bool readOtherIO(Reader& r, const json& object, TestMeasurements* m) {
    const json* o = r.member(object, "otherIO");
    if (o == nullptr || !r.flag(*o, "watched", &m->activityWatched) ||
        !r.text(*o, "note", &m->activityNote) ||
        !r.field(*o, "readsDuringOtherIO", &m->readsDuringOtherIO, 0, kMaxValue) ||
        !r.field(*o, "doubtfulCount", &m->doubtfulCount, 0, kMaxValue)) {
        return false;
    }
    const json* list = r.member(*o, "doubtful");
    if (list == nullptr || !list->is_array() || list->size() > TestMeasurements::kMaximumDoubtful) {
        return r.fail("doubtful readings are not a list of the allowed length");
    }
    for (const json& d : *list) {
        DoubtfulReading reading;
        if (!r.field(d, "offset", &reading.offset, 0, kMaxValue) ||
            !r.field(d, "micros", &reading.micros, 0, kMaxValue) ||
            !r.field(d, "otherReadSectors", &reading.otherReadSectors, 0, kMaxValue) ||
            !r.field(d, "otherWriteSectors", &reading.otherWriteSectors, 0, kMaxValue) ||
            !r.field(d, "inFlight", &reading.inFlight, 0, kMaxValue)) {
            return false;
        }
        m->doubtful.push_back(reading);
    }
    if (m->doubtfulCount < m->doubtful.size()) {
        return r.fail("fewer doubtful readings counted than listed");
    }
    return true;
}

bool readUnit(Reader& r, const json& object, TestMeasurements* m) {
    const json* u = r.member(object, "unit");
    if (u == nullptr || !r.text(*u, "transport", &m->unit.transport) ||
        !r.flag(*u, "usbBridge", &m->unit.usbBridge) || !r.flag(*u, "nvme", &m->unit.nvme) ||
        !r.flag(*u, "imageFile", &m->unit.imageFile)) {
        return false;
    }
    const json* rotational = r.member(*u, "rotational");
    if (rotational == nullptr) {
        return false;
    }
    if (rotational->is_boolean()) {
        m->unit.rotational = rotational->get<bool>();
    } else if (!rotational->is_null()) {
        return r.fail("\"rotational\" is not true, false or null");
    }
    return true;
}

bool readRecord(Reader& r, const json& root, TestMeasurements* m) {
    std::string format;
    int version = 0;
    if (!root.is_object()) {
        return r.fail("not a JSON object");
    }
    if (!r.text(root, "format", &format) || format != MeasurementFile::kFormatName) {
        return r.fail("not a measurement file");
    }
    if (!r.field(root, "version", &version, 0, 1 << 20) ||
        version != TestMeasurements::kFormatVersion) {
        return r.fail("a measurement file of another version");
    }
    if (!r.text(root, "kind", &m->kind) || !r.text(root, "outcome", &m->outcome) ||
        !r.flag(root, "initialScan", &m->initialScan) || !r.text(root, "device", &m->device) ||
        !r.text(root, "filePrefix", &m->filePrefix) || !r.text(root, "verdict", &m->verdict)) {
        return false;
    }
    const json* started = r.member(root, "started");
    const json* ended = r.member(root, "ended");
    if (started == nullptr || ended == nullptr ||
        !r.field(*started, "wallMicros", &m->startWallMicros, 0, kMaxValue) ||
        !r.text(*started, "stamp", &m->startStamp) ||
        !r.field(*ended, "wallMicros", &m->endWallMicros, 0, kMaxValue) ||
        !r.text(*ended, "stamp", &m->endStamp)) {
        return false;
    }
    if (!readUnit(r, root, m)) {
        return false;
    }
    const json* surface = r.member(root, "surface");
    const json* seek = r.member(root, "seek");
    if (surface == nullptr || seek == nullptr || !r.flag(*surface, "scanned", &m->surfaceScanned) ||
        !r.field(*surface, "lastPosition", &m->lastPosition, -1, kMaxValue) ||
        !r.histogram(*surface, "histogram", &m->surfaceReads) || !readMap(r, *surface, m) ||
        !r.flag(*seek, "scanned", &m->seekScanned) ||
        !r.histogram(*seek, "histogram", &m->seekRoundTrips)) {
        return false;
    }
    if (!readOtherIO(r, root, m)) {
        return false;
    }
    const json* smart = r.member(root, "smart");
    if (smart == nullptr || !r.smart(*smart, "before", &m->smartBefore) ||
        !r.smart(*smart, "after", &m->smartAfter)) {
        return false;
    }
    // The changes follow from the two readings.
    m->smartChanges = smartChangesBetween(m->smartBefore, m->smartAfter);
    const json* counts = r.member(root, "counts");
    if (counts == nullptr || !r.field(*counts, "surfaceErrors", &m->surfaceErrors, 0, 1 << 30) ||
        !r.field(*counts, "surfaceIrregularities", &m->surfaceIrregularities, 0, 1 << 30) ||
        !r.field(*counts, "seekErrors", &m->seekErrors, 0, 1 << 30) ||
        !r.field(*counts, "seekIrregularities", &m->seekIrregularities, 0, 1 << 30) ||
        !r.field(*counts, "totalErrors", &m->totalErrors, 0, 1 << 30) ||
        !r.field(*counts, "totalIrregularities", &m->totalIrregularities, 0, 1 << 30)) {
        return false;
    }
    const json* indices = r.member(root, "indices");
    if (indices == nullptr) {
        return false;
    }
    for (size_t i = 0; i < kIndexNames.size(); ++i) {
        const json* v = r.member(*indices, kIndexNames[i]);
        double value = 0;
        if (v == nullptr || !r.real(*v, &value, kIndexNames[i])) {
            return false;
        }
        if (std::isfinite(value)) {
            m->indices[i] = value;
        }
    }
    if (!readBaseline(r, root, m)) {
        return false;
    }
    const json* notes = r.member(root, "notes");
    if (notes == nullptr || !notes->is_array()) {
        return r.fail("notes are not a list");
    }
    for (const json& note : *notes) {
        if (!note.is_string()) {
            return r.fail("a note is not a text");
        }
        m->notes.push_back(note.get<std::string>());
    }
    return true;
}

// The test's start in UTC to the microsecond: two tests begun within one
// second (short cursory tests of a small unit) must not share a file, and a
// test's saves must keep finding its own.
std::string utcName(int64_t wallMicros) {
    int64_t micros = wallMicros % 1000000;
    int64_t whole = wallMicros / 1000000;
    if (micros < 0) {
        micros += 1000000;
        whole -= 1;
    }
    time_t seconds = static_cast<time_t>(whole);
    struct tm parts {};
    gmtime_r(&seconds, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &parts);
    char fraction[16];
    std::snprintf(fraction, sizeof fraction, "-%06lld", static_cast<long long>(micros));
    return std::string(text) + fraction;
}

} // namespace

namespace MeasurementFile {

std::string toJson(const TestMeasurements& m) {
    json stretches = json::array();
    for (const Stretch& s : m.map.stretches()) {
        json row = {s.start,     s.end,          s.section,       s.reads,     s.failedReads,
                    s.probes,    s.failedProbes, s.doubtfulReads, s.bytes,     s.sumMicros,
                    s.minMicros, s.medianMicros, s.maxMicros,     s.slowestAt, s.slowestDoubtful};
        for (uint32_t c : s.classCounts) {
            row.push_back(c);
        }
        stretches.push_back(std::move(row));
    }
    json doubtful = json::array();
    for (const DoubtfulReading& d : m.doubtful) {
        doubtful.push_back({{"offset", d.offset},
                            {"micros", d.micros},
                            {"otherReadSectors", d.otherReadSectors},
                            {"otherWriteSectors", d.otherWriteSectors},
                            {"inFlight", d.inFlight}});
    }
    json changes = json::array();
    for (const StretchChange& c : m.baseline.stretches) {
        changes.push_back({number(c.baselineRatio), number(c.averageRatio), c.slowed});
    }
    json indices = json::object();
    for (size_t i = 0; i < kIndexNames.size(); ++i) {
        indices[kIndexNames[i]] = m.indices[i] ? number(*m.indices[i]) : json(nullptr);
    }
    json smartChanges = json::array();
    for (const SmartChange& c : m.smartChanges) {
        smartChanges.push_back({{"name", c.name}, {"before", c.before}, {"after", c.after}});
    }
    json root = {
        {"format", kFormatName},
        {"version", TestMeasurements::kFormatVersion},
        {"kind", m.kind},
        {"outcome", m.outcome},
        {"initialScan", m.initialScan},
        {"started", {{"wallMicros", m.startWallMicros}, {"stamp", m.startStamp}}},
        {"ended", {{"wallMicros", m.endWallMicros}, {"stamp", m.endStamp}}},
        {"device", m.device},
        {"filePrefix", m.filePrefix},
        {"unit",
         {{"transport", m.unit.transport},
          {"rotational", m.unit.rotational ? json(*m.unit.rotational) : json(nullptr)},
          {"usbBridge", m.unit.usbBridge},
          {"nvme", m.unit.nvme},
          {"imageFile", m.unit.imageFile}}},
        {"surface",
         {{"scanned", m.surfaceScanned},
          {"lastPosition", m.lastPosition},
          {"histogram", histogramJson(m.surfaceReads)},
          {"map",
           {{"unitSize", m.map.unitSize()},
            {"partsPerSection", m.map.partsPerSection()},
            {"sectionsPerStretch", m.map.sectionsPerStretch()},
            {"fields", kStretchFields},
            {"stretches", std::move(stretches)}}}}},
        {"seek", {{"scanned", m.seekScanned}, {"histogram", histogramJson(m.seekRoundTrips)}}},
        {"otherIO",
         {{"watched", m.activityWatched},
          {"note", m.activityNote},
          {"readsDuringOtherIO", m.readsDuringOtherIO},
          {"doubtfulCount", m.doubtfulCount},
          {"doubtful", std::move(doubtful)}}},
        {"smart",
         {{"before", smartJson(m.smartBefore)},
          {"after", smartJson(m.smartAfter)},
          {"changes", std::move(smartChanges)}}},
        {"counts",
         {{"surfaceErrors", m.surfaceErrors},
          {"surfaceIrregularities", m.surfaceIrregularities},
          {"seekErrors", m.seekErrors},
          {"seekIrregularities", m.seekIrregularities},
          {"totalErrors", m.totalErrors},
          {"totalIrregularities", m.totalIrregularities}}},
        {"indices", indices},
        {"verdict", m.verdict},
        {"baseline",
         {{"available", m.baseline.available},
          {"note", m.baseline.note},
          {"threshold", number(m.baseline.threshold)},
          {"baselineStarted", m.baseline.baselineStamp},
          {"averagedTests", m.baseline.averagedTests},
          {"stretches", std::move(changes)}}},
        {"notes", m.notes},
    };
    // Text that is not UTF-8 (a device name) must not make the write throw.
    return root.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

std::optional<TestMeasurements> fromJson(std::string_view text, std::string* why) {
    auto fail = [&](const std::string& what) -> std::optional<TestMeasurements> {
        if (why != nullptr) {
            *why = what;
        }
        return std::nullopt;
    };
    if (text.size() > kMaximumBytes) {
        return fail("the file is too large to be a measurement file");
    }
    json root = json::parse(text.begin(), text.end(), nullptr, false);
    if (root.is_discarded()) {
        return fail("the file is not JSON (cut short or damaged)");
    }
    TestMeasurements m;
    Reader r;
    try {
        if (!readRecord(r, root, &m)) {
            return fail(r.problem.empty() ? "the file is not a whole measurement record"
                                          : r.problem);
        }
    } catch (const json::exception& e) {
        return fail(std::string("the file could not be read: ") + e.what());
    }
    return m;
}

} // namespace MeasurementFile

MeasurementArchive::MeasurementArchive(std::string dataDirectory, std::string filePrefix)
    : dataDirectory_(std::move(dataDirectory)), filePrefix_(std::move(filePrefix)) {}

bool MeasurementArchive::usable() const {
    return !dataDirectory_.empty() && DataFileSet::isUsablePrefix(filePrefix_);
}

std::string MeasurementArchive::folder() const {
    return dataDirectory_ + "/" + kFolderName + "/" + filePrefix_;
}

std::string MeasurementArchive::fileNameFor(const TestMeasurements& m) const {
    std::string kind;
    for (char c : m.kind) {
        kind += (std::isalnum(static_cast<unsigned char>(c)) != 0) ? c : '_';
    }
    return utcName(m.startWallMicros) + "-" + (kind.empty() ? "test" : kind) + ".json";
}

std::string MeasurementArchive::write(const TestMeasurements& m, std::string* why) const {
    if (!usable()) {
        if (why != nullptr) {
            *why = "the unit has no stored files to keep measurements beside";
        }
        return {};
    }
    std::string error;
    if (!SafeFile::makeDirectories(folder(), &error)) {
        if (why != nullptr) {
            *why = error;
        }
        return {};
    }
    std::string path = folder() + "/" + fileNameFor(m);
    if (!SafeFile::replace(path, MeasurementFile::toJson(m), &error)) {
        if (why != nullptr) {
            *why = error;
        }
        return {};
    }
    return path;
}

std::vector<MeasurementArchive::Entry> MeasurementArchive::entries() const {
    std::vector<Entry> out;
    if (!usable()) {
        return out;
    }
    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder(), ec), end; !ec && it != end;
         it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (!name.empty() && name.front() != '.' && name.size() > 5 &&
            name.compare(name.size() - 5, 5, ".json") == 0) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        Entry entry;
        entry.path = folder() + "/" + name;
        std::string error;
        std::optional<std::string> text = SafeFile::read(entry.path, &error);
        if (!text) {
            entry.problem = error;
        } else if (std::optional<TestMeasurements> m = MeasurementFile::fromJson(*text, &error)) {
            entry.test = std::make_shared<const TestMeasurements>(std::move(*m));
        } else {
            entry.problem = error;
        }
        out.push_back(std::move(entry));
    }
    // By the tests' own start; a file that could not be read keeps its
    // place by name (the name is its start).
    std::stable_sort(out.begin(), out.end(), [](const Entry& a, const Entry& b) {
        if (a.test && b.test) {
            return a.test->startWallMicros < b.test->startWallMicros;
        }
        return false;
    });
    return out;
}

BaselineChange MeasurementArchive::changeAgainstBaseline(const TestMeasurements& now) const {
    std::vector<Entry> all = entries();
    // The latest complete initial test before now is the baseline; the
    // running average is over it and the complete normal tests since.
    const TestMeasurements* baseline = nullptr;
    std::vector<std::string> unreadable;
    for (const Entry& e : all) {
        if (!e.test) {
            unreadable.push_back(std::filesystem::path(e.path).filename().string() + " (" +
                                 e.problem + ")");
            continue;
        }
        const TestMeasurements& t = *e.test;
        if (t.startWallMicros >= now.startWallMicros) {
            continue;
        }
        if (t.kind == "normal" && t.outcome == "completed" && t.initialScan) {
            baseline = &t;
        }
    }
    std::vector<const SurfaceMap*> earlier;
    for (const Entry& e : all) {
        if (!e.test) {
            continue;
        }
        const TestMeasurements& t = *e.test;
        if (t.startWallMicros >= now.startWallMicros || t.kind != "normal" ||
            t.outcome != "completed" || !t.surfaceScanned) {
            continue;
        }
        if (baseline == nullptr || t.startWallMicros >= baseline->startWallMicros) {
            earlier.push_back(&t.map);
        }
    }
    BaselineChange change = BaselineComparison::compare(
        now.map, baseline != nullptr ? &baseline->map : nullptr, earlier);
    if (baseline != nullptr) {
        change.baselineStamp = baseline->startStamp;
    } else {
        std::string missing = "the measurements of the unit's baseline test are missing";
        if (change.available) {
            missing += "; compared with the running average of the tests since";
        }
        change.note =
            change.note.empty() || change.available ? missing : missing + "; " + change.note;
    }
    if (!unreadable.empty()) {
        std::string list;
        for (const std::string& u : unreadable) {
            list += (list.empty() ? "" : "; ") + u;
        }
        change.note += (change.note.empty() ? "" : "; ") +
                       std::string("measurement files that could not be read: ") + list;
    }
    return change;
}

std::string MeasurementArchive::findPrefix(const std::string& dataDirectory,
                                           const std::vector<std::string>& target) {
    if (dataDirectory.empty() || target.empty()) {
        return {};
    }
    std::vector<std::string> headers;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(dataDirectory, ec), end; !ec && it != end;
         it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (DriveProcessor::isHeaderName(name)) {
            headers.push_back(name);
        }
    }
    std::sort(headers.begin(), headers.end());
    for (const std::string& name : headers) {
        if (DataFilePrefix::headerMatches(DataFilePrefix::headerLines(dataDirectory + "/" + name),
                                          target)) {
            return DataFilePrefix::prefixOfPath(name);
        }
    }
    return {};
}

} // namespace tolvarin
