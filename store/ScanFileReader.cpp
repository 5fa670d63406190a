#include "store/ScanFileReader.h"

#include "base/ScanTables.h"
#include "platform/SafeFile.h"
#include "platform/System.h"
#include "store/DataFileFormat.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace tolvarin {

namespace {

constexpr std::string_view kSurfaceComplete = "Surface Scan Complete";
constexpr std::string_view kSeekComplete = "Seek Scan Complete";
constexpr std::string_view kSurfaceTerminated = "Surface Scan Terminated by User";
constexpr std::string_view kSeekTerminated = "Seek Scan Terminated by User";

// The records of a scan file that can be trusted, and what the file must be
// cut back to.
template <typename Record> struct Collected {
    std::vector<Record> records;
    bool complete = false;
    bool rewrite = false;
    std::string kept;
};

template <typename Record, typename Parse>
Collected<Record> collect(std::string_view text, std::string_view terminated, std::size_t tableSize,
                          Parse parse) {
    Collected<Record> c;
    c.complete = ScanFileReader::isScanCompleteText(text);
    c.kept = DataFileFormat::header();
    if (DataFileFormat::hasHeader(text)) {
        std::vector<DataFileLine> lines = DataFileFormat::splitLines(text);
        for (std::size_t i = 2; i < lines.size(); ++i) {
            const DataFileLine& line = lines[i];
            if (DataFileFormat::startsWith(line.text, terminated) || !line.terminated) {
                break;
            }
            std::optional<Record> r = parse(line.text);
            std::size_t next = c.records.size();
            if (!r || static_cast<std::size_t>(r->index) != next || next >= tableSize) {
                break;
            }
            c.records.push_back(*r);
            c.kept += line.text;
            c.kept += '\n';
        }
    }
    // A finished file stays as it is; an unfinished one keeps its header and
    // the records loaded from it, and nothing else.
    c.rewrite = !c.complete && c.kept != text;
    if (c.complete) {
        c.kept.clear();
    }
    return c;
}

void applySurface(const std::vector<SurfaceRecord>& records, ScanTables& disk) {
    int errors = 0;
    int irregularities = 0;
    for (const SurfaceRecord& r : records) {
        ScanSection& s = disk.sections[static_cast<std::size_t>(r.index)];
        s.minTime = r.minTime;
        s.maxTime = r.maxTime;
        s.maxTimePosition = r.maxTimePosition;
        s.avgTime = r.avgTime;
        s.stdDev = r.stdDev;
        s.totalTime = r.totalTime;
        s.passed = r.passed;
        s.clean = r.clean;
        s.irregularityCount = r.irregularityCount;
        s.errorCount = r.errorCount;
        // Counts come from the file; saturate rather than wrap on a file
        // that claims more than an int can hold.
        errors = r.errorCount > INT32_MAX - errors ? INT32_MAX : errors + r.errorCount;
        irregularities = r.irregularityCount > INT32_MAX - irregularities
                             ? INT32_MAX
                             : irregularities + r.irregularityCount;
    }
    disk.surfaceErrors = disk.totalErrors = errors;
    disk.surfaceIrregularities = disk.totalIrregularities = irregularities;
}

void applySeek(const std::vector<SeekRecord>& records, ScanTables& disk, int& errorCount) {
    for (const SeekRecord& r : records) {
        SeekPair& p = disk.seekPairs[static_cast<std::size_t>(r.index)];
        p.minTime = r.minTime;
        p.maxTime = r.maxTime;
        p.avgTime = r.avgTime;
        p.totalTime = r.totalTime;
        p.passed = r.passed;
        p.clean = r.clean;
        if (r.clean == 0) {
            ++disk.seekIrregularities;
            ++disk.totalIrregularities;
        }
        if (r.passed == 0) {
            ++errorCount;
            ++disk.seekErrors;
            ++disk.totalErrors;
        }
    }
}

template <typename Record> ScanFileReader::Resume resumeOf(const Collected<Record>& c) {
    ScanFileReader::Resume r;
    r.records = static_cast<int>(c.records.size());
    r.complete = c.complete;
    r.rewrite = c.rewrite;
    r.kept = c.kept;
    return r;
}

std::optional<std::string> readScanFile(const std::string& path) {
    std::string error;
    std::optional<std::string> text = SafeFile::read(path, &error);
    if (!text) {
        System::consoleLog("Scan file not read: " + error);
    }
    return text;
}

// Cuts an unfinished file back before anything is loaded from it, so that
// what the scan state holds is always what the file holds.
template <typename Record> bool cutBack(const std::string& path, const Collected<Record>& c) {
    if (!c.rewrite) {
        return true;
    }
    std::string error;
    if (!SafeFile::replace(path, c.kept, &error)) {
        System::consoleLog("Scan file could not be prepared for resuming: " + error);
        return false;
    }
    return true;
}

} // namespace

bool ScanFileReader::isScanCompleteText(std::string_view text) {
    for (const DataFileLine& line : DataFileFormat::splitLines(text)) {
        if (DataFileFormat::startsWith(line.text, kSurfaceComplete) ||
            DataFileFormat::startsWith(line.text, kSeekComplete)) {
            return true;
        }
    }
    return false;
}

bool ScanFileReader::isScanCompleteOnFile(const std::string& path) {
    std::string error;
    std::optional<std::string> text = SafeFile::read(path, &error);
    return text && isScanCompleteText(*text);
}

ScanFileReader::Resume ScanFileReader::resumeSurfaceText(std::string_view text, ScanTables& disk) {
    auto c = collect<SurfaceRecord>(text, kSurfaceTerminated, disk.sections.size(),
                                    DataFileFormat::parseSurfaceRecord);
    applySurface(c.records, disk);
    return resumeOf(c);
}

ScanFileReader::Resume ScanFileReader::resumeSeekText(std::string_view text, ScanTables& disk,
                                                      int& errorCount) {
    auto c = collect<SeekRecord>(text, kSeekTerminated, disk.seekPairs.size(),
                                 DataFileFormat::parseSeekRecord);
    applySeek(c.records, disk, errorCount);
    return resumeOf(c);
}

int ScanFileReader::extractSurfaceDataFromFile(const std::string& path, ScanTables& disk) {
    if (disk.sections.empty()) {
        return 0;
    }
    std::optional<std::string> text = readScanFile(path);
    if (!text) {
        return 0;
    }
    auto c = collect<SurfaceRecord>(*text, kSurfaceTerminated, disk.sections.size(),
                                    DataFileFormat::parseSurfaceRecord);
    if (!cutBack(path, c)) {
        return 0;
    }
    applySurface(c.records, disk);
    return static_cast<int>(c.records.size());
}

int ScanFileReader::extractSeekDataFromFile(const std::string& path, ScanTables& disk,
                                            int& errorCount) {
    if (disk.seekPairs.empty()) {
        return 0;
    }
    std::optional<std::string> text = readScanFile(path);
    if (!text) {
        return 0;
    }
    auto c = collect<SeekRecord>(*text, kSeekTerminated, disk.seekPairs.size(),
                                 DataFileFormat::parseSeekRecord);
    if (!cutBack(path, c)) {
        return 0;
    }
    applySeek(c.records, disk, errorCount);
    return static_cast<int>(c.records.size());
}

} // namespace tolvarin
