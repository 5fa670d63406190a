#include "store/AverageFile.h"

#include "platform/SafeFile.h"
#include "platform/System.h"
#include "store/FileProcessor.h"

#include <algorithm>
#include <map>

namespace tolvarin {

namespace {

constexpr std::string_view kSampleSizeKey = "SMPLSZ:";

bool isStopLine(AverageFile::Kind kind, std::string_view line) {
    return line.empty() || DataFileFormat::startsWith(line, AverageFile::scanWord(kind)) ||
           DataFileFormat::startsWith(line, "RPI") ||
           DataFileFormat::startsWith(line, DataFileFormat::kTrailerStart);
}

void setWhy(std::string* why, const std::string& text) {
    if (why != nullptr) {
        *why = text;
    }
}

// The records of a current scan by index, from its third line up to the
// first line that is not a record.
template <typename Record, typename Parse>
std::map<int, Record> currentRecords(const std::vector<DataFileLine>& lines, Parse parse) {
    std::map<int, Record> records;
    for (std::size_t i = 2; i < lines.size(); ++i) {
        std::optional<Record> r = parse(lines[i].text);
        if (!r) {
            break;
        }
        records.emplace(r->index, *r);
    }
    return records;
}

// The record lines of a fold: each average record combined with the current
// record of its index, or carried over as it is.
template <typename Record, typename Parse, typename Combine, typename Format>
std::string foldRecords(AverageFile::Kind kind, const std::vector<DataFileLine>& average,
                        const std::vector<DataFileLine>& current, double n, Parse parse,
                        Combine combine, Format format) {
    std::map<int, Record> byIndex = currentRecords<Record>(current, parse);
    std::string out;
    for (std::size_t i = 4; i < average.size(); ++i) {
        std::string_view line = average[i].text;
        if (isStopLine(kind, line)) {
            break;
        }
        std::optional<Record> avg = parse(line);
        auto match = avg ? byIndex.find(avg->index) : byIndex.end();
        if (match != byIndex.end()) {
            out += format(combine(match->second, *avg, n));
        } else {
            out += line;
        }
        out += '\n';
    }
    return out;
}

bool readFile(const std::string& path, std::string* text, std::string* why) {
    std::string error;
    std::optional<std::string> data = SafeFile::read(path, &error);
    if (!data) {
        setWhy(why, error);
        return false;
    }
    *text = std::move(*data);
    return true;
}

} // namespace

std::string_view AverageFile::completeLine(Kind kind) {
    return kind == Kind::Surface ? "Surface Scan Complete" : "Seek Scan Complete";
}

std::string_view AverageFile::averageCompleteLine(Kind kind) {
    return kind == Kind::Surface ? "Surface Scan Average Complete" : "Seek Scan Average Complete";
}

std::string_view AverageFile::scanWord(Kind kind) {
    return kind == Kind::Surface ? "Surface Scan" : "Seek Scan";
}

std::optional<int> AverageFile::sampleSize(std::string_view averageText) {
    for (const DataFileLine& line : DataFileFormat::splitLines(averageText)) {
        if (!DataFileFormat::startsWith(line.text, kSampleSizeKey)) {
            continue;
        }
        std::string_view rest = line.text.substr(kSampleSizeKey.size());
        while (!rest.empty() && rest.front() == ' ') {
            rest.remove_prefix(1);
        }
        std::optional<int64_t> value = DataFileFormat::parseInteger(rest);
        if (!value || *value < 1 || *value > kMaxSampleSize) {
            return std::nullopt;
        }
        return static_cast<int>(*value);
    }
    return std::nullopt;
}

double AverageFile::combineValue(double current, double average, double n) {
    if (!(n >= 1)) {
        return current;
    }
    return ((n - 1) * average + current) / n;
}

SurfaceRecord AverageFile::combineSurface(const SurfaceRecord& current,
                                          const SurfaceRecord& average, double n) {
    SurfaceRecord r = current;
    r.minTime = combineValue(current.minTime, average.minTime, n);
    r.maxTime = combineValue(current.maxTime, average.maxTime, n);
    r.totalTime = combineValue(current.totalTime, average.totalTime, n);
    if (current.meanKnown() && average.meanKnown()) {
        r.avgTime = combineValue(current.avgTime, average.avgTime, n);
        r.stdDev = combineValue(current.stdDev, average.stdDev, n);
    } else {
        r.avgTime = r.stdDev = DataFileFormat::kNotMeasured;
    }
    return r;
}

SeekRecord AverageFile::combineSeek(const SeekRecord& current, const SeekRecord& average,
                                    double n) {
    if (!current.measured() || !average.measured()) {
        SeekRecord r;
        r.index = current.index;
        r.minTime = r.maxTime = r.avgTime = r.totalTime = DataFileFormat::kNotMeasured;
        r.clean = 1;
        r.passed = 0;
        return r;
    }
    SeekRecord r = current;
    r.minTime = combineValue(current.minTime, average.minTime, n);
    r.maxTime = combineValue(current.maxTime, average.maxTime, n);
    r.avgTime = combineValue(current.avgTime, average.avgTime, n);
    r.totalTime = combineValue(current.totalTime, average.totalTime, n);
    return r;
}

std::optional<std::string> AverageFile::firstAverageText(Kind kind, std::string_view scanText,
                                                         const std::string& fileName,
                                                         std::string* why) {
    if (!DataFileFormat::hasHeader(scanText)) {
        setWhy(why, "the scan file does not open with its warning line");
        return std::nullopt;
    }
    std::vector<DataFileLine> lines = DataFileFormat::splitLines(scanText);
    std::string out = DataFileFormat::header() + "SMPLSZ: 1\n\n";
    bool complete = false;
    for (std::size_t i = 2; i < lines.size(); ++i) {
        if (DataFileFormat::startsWith(lines[i].text, completeLine(kind))) {
            complete = true;
            break;
        }
        out += lines[i].text;
        out += '\n';
    }
    if (!complete) {
        // An average of a scan that never finished would stand for sections
        // that were never read.
        setWhy(why, "the scan file is not complete");
        return std::nullopt;
    }
    out += averageCompleteLine(kind);
    out += "\n\n";
    out += DataFileFormat::trailer(fileName);
    out += '\n';
    return out;
}

std::optional<std::string> AverageFile::foldText(Kind kind, std::string_view averageText,
                                                 std::string_view currentText,
                                                 const std::string& fileName, std::string* why) {
    std::vector<DataFileLine> average = DataFileFormat::splitLines(averageText);
    if (!DataFileFormat::hasHeader(averageText) || average.size() < 4 ||
        !DataFileFormat::startsWith(average[2].text, kSampleSizeKey) || !average[3].text.empty()) {
        setWhy(why, "the average file does not open with its warning and sample size");
        return std::nullopt;
    }
    std::optional<int> size = sampleSize(averageText);
    if (!size) {
        setWhy(why, "the average file names no usable sample size");
        return std::nullopt;
    }
    if (!DataFileFormat::hasHeader(currentText)) {
        setWhy(why, "the current scan file does not open with its warning line");
        return std::nullopt;
    }
    std::vector<DataFileLine> current = DataFileFormat::splitLines(currentText);
    int n = std::min(*size + 1, kMaxSampleSize);

    std::string out = DataFileFormat::header() + "SMPLSZ: " + std::to_string(n) + "\n\n";
    if (kind == Kind::Surface) {
        out += foldRecords<SurfaceRecord>(
            kind, average, current, n, DataFileFormat::parseSurfaceRecord,
            AverageFile::combineSurface, DataFileFormat::formatSurfaceRecord);
    } else {
        out += foldRecords<SeekRecord>(kind, average, current, n, DataFileFormat::parseSeekRecord,
                                       AverageFile::combineSeek, DataFileFormat::formatSeekRecord);
    }
    out += averageCompleteLine(kind);
    out += "\n\n";
    // The fold's trailer ends without a newline; the integrity check reads
    // the last line either way.
    out += DataFileFormat::trailer(fileName);
    return out;
}

bool AverageFile::createFirstAverage(Kind kind, const std::string& averagePath,
                                     const std::string& scanPath) {
    bool surface = kind == Kind::Surface;
    System::consoleLog((surface ? "SURFACE SCAN FILE: " : "SEEK SCAN FILE: ") + scanPath);
    System::consoleLog("AVERAGE FILE: " + averagePath);
    std::string scanText;
    std::string why;
    if (!readFile(scanPath, &scanText, &why)) {
        System::consoleLog(surface ? "COULDN'T OPEN SS FILE"
                                   : "COULDN'T OPEN INITIAL SEEK SCAN FILE");
        System::consoleLog(why);
        return false;
    }
    std::optional<std::string> text = firstAverageText(
        kind, scanText, FileProcessor::extractLastElementOfPath(averagePath), &why);
    if (!text) {
        System::consoleLog("No average made from " + scanPath + ": " + why);
        return false;
    }
    if (!SafeFile::replace(averagePath, *text, &why)) {
        System::consoleLog(surface ? "COULDN'T OPEN SSAVG FILE"
                                   : "COULDN'T OPEN SEEK SCAN AVERAGE FILE");
        System::consoleLog(why);
        return false;
    }
    return true;
}

bool AverageFile::fold(Kind kind, const std::string& newPath, const std::string& averagePath,
                       const std::string& currentPath) {
    std::string averageText;
    std::string currentText;
    std::string why;
    if (!readFile(averagePath, &averageText, &why) || !readFile(currentPath, &currentText, &why)) {
        System::consoleLog("No new average made: " + why);
        return false;
    }
    std::optional<std::string> text = foldText(
        kind, averageText, currentText, FileProcessor::extractLastElementOfPath(newPath), &why);
    if (!text) {
        System::consoleLog("No new average made from " + averagePath + ": " + why);
        return false;
    }
    if (!SafeFile::replace(newPath, *text, &why)) {
        System::consoleLog("No new average made: " + why);
        return false;
    }
    return true;
}

} // namespace tolvarin
