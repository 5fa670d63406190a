#include "diagnostics/DiagnosticsHistory.h"

#include "base/TextFormat.h"
#include "platform/SafeFile.h"
#include "platform/System.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvarin {

namespace {

constexpr std::string_view kSurfaceStart = "SRTS:";
constexpr std::string_view kSeekStart = "SKTS:";
constexpr std::size_t kShownBytes = 80;
// A recorded read time longer than this (over eleven days) is no time a
// read took.
constexpr double kLongestDuration = 1e6;

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

std::string_view withoutLineBreak(std::string_view line) {
    if (!line.empty() && line.back() == '\n') {
        line.remove_suffix(1);
    }
    return line;
}

std::vector<std::string_view> fields(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t start = 0;
    for (;;) {
        std::size_t colon = line.find(':', start);
        out.push_back(line.substr(start, colon == std::string_view::npos ? colon : colon - start));
        if (colon == std::string_view::npos) {
            return out;
        }
        start = colon + 1;
    }
}

// A byte offset or an index: digits only, no sign, within range.
template <typename T> std::optional<T> whole(std::string_view text) {
    if (text.empty() || text.front() < '0' || text.front() > '9') {
        return std::nullopt;
    }
    T value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// A read time in seconds as the scans write it ("%f").
std::optional<double> seconds(std::string_view text) {
    if (text.empty() || text.size() > 32 ||
        text.find_first_not_of("0123456789.") != std::string_view::npos) {
        return std::nullopt;
    }
    std::string copy(text);
    char* end = nullptr;
    double value = std::strtod(copy.c_str(), &end);
    if (end != copy.c_str() + copy.size() || !std::isfinite(value) || value < 0 ||
        value > kLongestDuration) {
        return std::nullopt;
    }
    return value;
}

std::string shown(std::string_view text) {
    text = withoutLineBreak(text);
    std::string out(text.substr(0, kShownBytes));
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) == 0x7f) {
            c = '?';
        }
    }
    if (text.size() > kShownBytes) {
        out += "...";
    }
    return out;
}

} // namespace

std::string DiagnosticsHistory::extractDiagDateFromString(std::string_view line) {
    line = withoutLineBreak(line);
    return line.size() > kSurfaceStart.size() ? std::string(line.substr(kSurfaceStart.size()))
                                              : std::string();
}

std::string DiagnosticsHistory::processDiagDataToArray(ScanSet& scanSet, std::string_view line,
                                                       const std::string& date) {
    std::vector<std::string_view> f = fields(withoutLineBreak(line));
    const std::string_view kind = f.front();
    const bool surfaceError = kind == "SSE";
    const bool surfaceIrregularity = kind == "SSI";
    const bool seekError = kind == "SKE";
    const bool seekIrregularity = kind == "SKI";
    if (!surfaceError && !surfaceIrregularity && !seekError && !seekIrregularity) {
        return "not a record";
    }
    const std::size_t wanted = surfaceIrregularity ? 4 : 3;
    if (f.size() != wanted) {
        return formatText("%zu fields where the record has %zu", f.size() - 1, wanted - 1);
    }
    std::optional<int64_t> first = whole<int64_t>(f[1]);
    if (!first) {
        return "the offset is not a byte count";
    }
    if (surfaceError || surfaceIrregularity) {
        std::optional<double> duration = DiagResults::kErrorDuration;
        if (surfaceIrregularity) {
            duration = seconds(f[2]);
            if (!duration) {
                return "the read time is not a time in seconds";
            }
        }
        if (!whole<int>(f[wanted - 1])) {
            return "the section index is not an index";
        }
        scanSet.emplace_back(date, DiagResults::kSurfaceScan,
                             surfaceError ? DiagResults::kError : DiagResults::kIrregularity,
                             *first, *first, *duration);
        return std::string();
    }
    std::optional<int64_t> second = whole<int64_t>(f[2]);
    if (!second) {
        return "the second offset is not a byte count";
    }
    scanSet.emplace_back(
        date, DiagResults::kSeekScan, seekError ? DiagResults::kError : DiagResults::kIrregularity,
        *first, *second,
        seekError ? DiagResults::kErrorDuration : DiagResults::kSeekIrregularityDuration);
    return std::string();
}

void DiagnosticsHistory::refuse(int line, std::string_view text, std::string reason) {
    refused_.push_back(Refusal{line, std::move(reason), shown(text)});
}

DiagnosticsHistory DiagnosticsHistory::fromText(std::string_view text) {
    DiagnosticsHistory history;
    std::optional<ScanSet> open;
    std::string date;
    int number = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        const bool complete = end != std::string_view::npos;
        std::string_view line = text.substr(start, complete ? end - start + 1 : end);
        start = complete ? end + 1 : text.size();
        ++number;
        std::string_view body = withoutLineBreak(line);
        if (body.empty()) {
            continue;
        }
        if (body.size() > kMaximumLineBytes) {
            history.refuse(number, line, "longer than a record can be");
            continue;
        }
        if (startsWith(body, kSurfaceStart)) {
            if (open) {
                history.scanSets_.push_back(std::move(*open));
            }
            open.emplace();
            date = extractDiagDateFromString(line);
            continue;
        }
        if (startsWith(body, kSeekStart)) {
            date = extractDiagDateFromString(line);
            continue;
        }
        if (!complete) {
            // Every record is written with its line break in one append: a
            // last line without one was cut short.
            history.refuse(number, line, "the record was cut short");
            continue;
        }
        if (!open) {
            ScanSet none;
            std::string reason = processDiagDataToArray(none, line, date);
            history.refuse(number, line,
                           reason.empty() ? "recorded before the first surface scan start"
                                          : reason);
            continue;
        }
        std::string reason = processDiagDataToArray(*open, line, date);
        if (!reason.empty()) {
            history.refuse(number, line, reason);
        }
    }
    if (open) {
        history.scanSets_.push_back(std::move(*open));
    }
    return history;
}

DiagnosticsHistory DiagnosticsHistory::loadDiagTestDataIntoArray(const std::string& path) {
    DiagnosticsHistory history;
    std::string error;
    UniqueFd fd = SafeFile::openForRead(path, &error);
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0) {
        history.problem_ = fd ? path + ": " + std::strerror(errno) : error;
        return history;
    }
    if (static_cast<std::size_t>(st.st_size) > kMaximumFileBytes) {
        history.problem_ = path + ": larger than any diagnostics history (" +
                           std::to_string(st.st_size) + " bytes)";
        return history;
    }
    std::string text;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd.get(), buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            history.problem_ = path + ": " + std::strerror(errno);
            return history;
        }
        if (n == 0 || text.size() + static_cast<std::size_t>(n) > kMaximumFileBytes) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return fromText(text);
}

std::size_t DiagnosticsHistory::recordCount() const {
    std::size_t count = 0;
    for (const ScanSet& set : scanSets_) {
        count += set.size();
    }
    return count;
}

void DiagnosticsHistory::writeDiagTestDataToSystemLog() const {
    const std::string dashes(56, '-');
    System::consoleLog(dashes);
    for (std::size_t i = 0; i < scanSets_.size(); ++i) {
        System::consoleLog(
            formatText("Test data count in array element %zu is %zu", i, scanSets_[i].size()));
        System::consoleLog(dashes);
        for (const DiagResults& r : scanSets_[i]) {
            System::consoleLog("Date of test: " + r.dateOfTest());
            System::consoleLog("Type of test: " + r.typeOfTest());
            System::consoleLog("Data classification: " + r.errorOrIrregularity());
            System::consoleLog(
                formatText("Problem location: %lld", static_cast<long long>(r.startRange())));
            System::consoleLog(
                formatText("Range location: %lld", static_cast<long long>(r.stopRange())));
            System::consoleLog(formatText("Duration: %f", r.duration()));
            System::consoleLog(dashes);
        }
    }
}

} // namespace tolvarin
