#include "store/DataFileFormat.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace tolvarin {

namespace {

// Splits a record line on single blanks and answers its fields, skipping
// empty ones.
std::vector<std::string_view> fields(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t start = 0;
    while (start <= line.size()) {
        std::size_t blank = line.find(' ', start);
        std::size_t end = blank == std::string_view::npos ? line.size() : blank;
        if (end > start) {
            out.push_back(line.substr(start, end - start));
        }
        if (blank == std::string_view::npos) {
            break;
        }
        start = blank + 1;
    }
    return out;
}

// Reads one field exactly once: a second field with the same key makes the
// line ambiguous.
std::optional<std::string_view> uniqueField(const std::vector<std::string_view>& all,
                                            std::string_view key) {
    std::optional<std::string_view> found;
    for (std::string_view f : all) {
        if (DataFileFormat::startsWith(f, key)) {
            if (found) {
                return std::nullopt;
            }
            found = f.substr(key.size());
        }
    }
    return found;
}

bool fieldInt(const std::vector<std::string_view>& all, std::string_view key, int64_t low,
              int64_t high, int64_t* out) {
    auto text = uniqueField(all, key);
    if (!text) {
        return false;
    }
    auto value = DataFileFormat::parseInteger(*text);
    if (!value || *value < low || *value > high) {
        return false;
    }
    *out = *value;
    return true;
}

bool fieldTime(const std::vector<std::string_view>& all, std::string_view key, double* out) {
    auto text = uniqueField(all, key);
    if (!text) {
        return false;
    }
    auto value = DataFileFormat::parseDouble(*text);
    if (!value || *value < 0) {
        return false;
    }
    *out = *value;
    return true;
}

// A time that may read "N/A" (stored as the sentinel).
bool fieldTimeOrNA(const std::vector<std::string_view>& all, std::string_view key, double* out) {
    auto text = uniqueField(all, key);
    if (!text) {
        return false;
    }
    if (*text == DataFileFormat::kNotAvailable) {
        *out = DataFileFormat::kNotMeasured;
        return true;
    }
    auto value = DataFileFormat::parseDouble(*text);
    if (!value || *value < 0) {
        return false;
    }
    *out = *value;
    return true;
}

bool onlyKnownKeys(const std::vector<std::string_view>& all,
                   std::initializer_list<std::string_view> keys) {
    for (std::string_view f : all) {
        bool known = false;
        for (std::string_view k : keys) {
            if (DataFileFormat::startsWith(f, k)) {
                known = true;
                break;
            }
        }
        if (!known) {
            return false;
        }
    }
    return true;
}

constexpr int64_t kIntMax = std::numeric_limits<int>::max();
constexpr int64_t kInt64Max = std::numeric_limits<int64_t>::max();

} // namespace

bool SurfaceRecord::meanKnown() const {
    return avgTime <= DataFileFormat::kNotMeasuredThreshold &&
           stdDev <= DataFileFormat::kNotMeasuredThreshold;
}

bool SeekRecord::measured() const {
    return minTime <= DataFileFormat::kNotMeasuredThreshold;
}

std::string DataFileFormat::header() {
    return std::string(kWarningLine) + "\n\n";
}

std::string DataFileFormat::trailer(const std::string& fileName) {
    return std::string(kTrailerStart) + fileName;
}

bool DataFileFormat::hasHeader(std::string_view text) {
    return startsWith(text, header());
}

std::vector<DataFileLine> DataFileFormat::splitLines(std::string_view text) {
    std::vector<DataFileLine> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t nl = text.find('\n', start);
        if (nl == std::string_view::npos) {
            lines.push_back({text.substr(start), false});
            break;
        }
        lines.push_back({text.substr(start, nl - start), true});
        start = nl + 1;
    }
    return lines;
}

bool DataFileFormat::startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

std::optional<std::string_view> DataFileFormat::fieldValue(std::string_view line,
                                                           std::string_view key) {
    for (std::string_view f : fields(line)) {
        if (startsWith(f, key)) {
            return f.substr(key.size());
        }
    }
    return std::nullopt;
}

std::optional<int64_t> DataFileFormat::parseInteger(std::string_view text) {
    if (!text.empty() && text.front() == '+') {
        return std::nullopt;
    }
    int64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> DataFileFormat::parseDouble(std::string_view text) {
    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value,
                                     std::chars_format::fixed | std::chars_format::scientific);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty() ||
        !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<SurfaceRecord> DataFileFormat::parseSurfaceRecord(std::string_view line) {
    if (!startsWith(line, "I:")) {
        return std::nullopt;
    }
    std::vector<std::string_view> all = fields(line);
    if (!onlyKnownKeys(all,
                       {"I:", "MN:", "MX:", "MXP:", "A:", "S:", "T:", "O:", "E:", "OC:", "EC:"})) {
        return std::nullopt;
    }
    SurfaceRecord r;
    int64_t index = 0, position = 0, clean = 0, passed = 0, oc = 0, ec = 0;
    if (!fieldInt(all, "I:", 0, kIntMax, &index) || !fieldTime(all, "MN:", &r.minTime) ||
        !fieldTime(all, "MX:", &r.maxTime) || !fieldInt(all, "MXP:", 0, kInt64Max, &position) ||
        !fieldTimeOrNA(all, "A:", &r.avgTime) || !fieldTimeOrNA(all, "S:", &r.stdDev) ||
        !fieldTime(all, "T:", &r.totalTime) || !fieldInt(all, "O:", 0, 1, &clean) ||
        !fieldInt(all, "E:", 0, 1, &passed) || !fieldInt(all, "OC:", 0, kIntMax, &oc) ||
        !fieldInt(all, "EC:", 0, kIntMax, &ec)) {
        return std::nullopt;
    }
    if (all.size() != 11) {
        return std::nullopt;
    }
    r.index = static_cast<int>(index);
    r.maxTimePosition = position;
    r.clean = static_cast<int>(clean);
    r.passed = static_cast<int>(passed);
    r.irregularityCount = static_cast<int>(oc);
    r.errorCount = static_cast<int>(ec);
    return r;
}

std::optional<SeekRecord> DataFileFormat::parseSeekRecord(std::string_view line) {
    if (!startsWith(line, "I:")) {
        return std::nullopt;
    }
    std::vector<std::string_view> all = fields(line);
    if (all.size() != 7 || !onlyKnownKeys(all, {"I:", "MN:", "MX:", "AV:", "T:", "O:", "E:"})) {
        return std::nullopt;
    }
    SeekRecord r;
    int64_t index = 0, clean = 0, passed = 0;
    if (!fieldInt(all, "I:", 0, kIntMax, &index) || !fieldInt(all, "O:", 0, 1, &clean) ||
        !fieldInt(all, "E:", 0, 1, &passed)) {
        return std::nullopt;
    }
    auto mn = uniqueField(all, "MN:");
    if (!mn) {
        return std::nullopt;
    }
    if (*mn == kNotAvailable) {
        // An unmeasured pair: its four timings are the sentinel, whatever
        // the rest of the line says.
        r.minTime = r.maxTime = r.avgTime = r.totalTime = kNotMeasured;
    } else if (!fieldTime(all, "MN:", &r.minTime) || !fieldTime(all, "MX:", &r.maxTime) ||
               !fieldTime(all, "AV:", &r.avgTime) || !fieldTime(all, "T:", &r.totalTime)) {
        return std::nullopt;
    }
    r.index = static_cast<int>(index);
    r.clean = static_cast<int>(clean);
    r.passed = static_cast<int>(passed);
    return r;
}

std::string DataFileFormat::formatFixed(double value) {
    // Six decimals of the largest finite double fit in 320 characters.
    char buffer[400];
    auto [end, ec] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
    if (ec != std::errc()) {
        return "N/A";
    }
    return std::string(buffer, end);
}

std::string DataFileFormat::formatSurfaceRecord(const SurfaceRecord& r) {
    std::string line = "I:" + std::to_string(r.index) + " MN:" + formatFixed(r.minTime) +
                       " MX:" + formatFixed(r.maxTime) +
                       " MXP:" + std::to_string(r.maxTimePosition);
    if (r.meanKnown()) {
        line += " A:" + formatFixed(r.avgTime) + " S:" + formatFixed(r.stdDev);
    } else {
        line += " A:N/A S:N/A";
    }
    line += " T:" + formatFixed(r.totalTime) + " O:" + std::to_string(r.clean) +
            " E:" + std::to_string(r.passed) + " OC:" + std::to_string(r.irregularityCount) +
            " EC:" + std::to_string(r.errorCount);
    return line;
}

std::string DataFileFormat::formatSeekRecord(const SeekRecord& r) {
    if (!r.measured()) {
        return "I:" + std::to_string(r.index) + " MN:N/A MX:N/A AV:N/A T:N/A O:1 E:0";
    }
    return "I:" + std::to_string(r.index) + " MN:" + formatFixed(r.minTime) +
           " MX:" + formatFixed(r.maxTime) + " AV:" + formatFixed(r.avgTime) +
           " T:" + formatFixed(r.totalTime) + " O:" + std::to_string(r.clean) +
           " E:" + std::to_string(r.passed);
}

} // namespace tolvarin
