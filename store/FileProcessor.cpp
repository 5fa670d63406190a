#include "store/FileProcessor.h"

#include "base/ScanTables.h"
#include "platform/SafeFile.h"
#include "platform/System.h"
#include "store/AverageFile.h"
#include "store/DataFileFormat.h"

#include <cerrno>
#include <cstdio>
#include <limits>
#include <sys/stat.h>

namespace tolvarin {

namespace {

std::string unitPath(const std::string& directory, const std::string& prefix,
                     const std::string& suffix) {
    return directory + "/" + prefix + suffix;
}

bool writeWhole(const std::string& path, const std::string& text) {
    std::string error;
    if (!SafeFile::replace(path, text, &error)) {
        System::consoleLog("Could not write " + path + ": " + error);
        return false;
    }
    return true;
}

// The value after key on its own line ("CSZ: 123"), read as a whole number.
std::optional<int64_t> keyedValue(const std::vector<DataFileLine>& lines, std::string_view key) {
    for (const DataFileLine& line : lines) {
        if (!DataFileFormat::startsWith(line.text, key)) {
            continue;
        }
        std::string_view rest = line.text.substr(key.size());
        while (!rest.empty() && rest.front() == ' ') {
            rest.remove_prefix(1);
        }
        return DataFileFormat::parseInteger(rest);
    }
    return std::nullopt;
}

bool pathExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 || errno != ENOENT;
}

} // namespace

std::string FileProcessor::extractLastElementOfPath(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// --- .siz -------------------------------------------------------------------

std::optional<FileProcessor::SizingValues> FileProcessor::readSizingValues(std::string_view text) {
    std::vector<DataFileLine> lines = DataFileFormat::splitLines(text);
    std::optional<int64_t> csz = keyedValue(lines, "CSZ:");
    std::optional<int64_t> psz = keyedValue(lines, "PSZ:");
    std::optional<int64_t> org = keyedValue(lines, "ORG:");
    std::optional<int64_t> cnt = keyedValue(lines, "CNT:");
    if (!csz || !psz || !org || !cnt || *csz < 0 || *psz < 0 || *org < 0 || *cnt < 0 ||
        *cnt >= std::numeric_limits<int>::max()) {
        return std::nullopt;
    }
    return SizingValues{*csz, *psz, *org, static_cast<int>(*cnt)};
}

FileProcessor::SizingValues FileProcessor::updatedSizingValues(const SizingValues& old,
                                                               int64_t size, std::string* outcome) {
    SizingValues now = old;
    if (old.current != size || old.current != old.previous) {
        now.count = old.count + 1;
        now.previous = old.current;
        now.current = size;
        char text[200];
        std::snprintf(text, sizeof text,
                      "WARNING: Size change detected: %lld bytes to %lld bytes, change count: %d",
                      static_cast<long long>(old.current), static_cast<long long>(size), now.count);
        *outcome = text;
    } else {
        *outcome = "Sizing operation detected no size variations.";
    }
    return now;
}

std::string FileProcessor::sizingFileText(const SizingValues& v, const std::string& prefix) {
    return DataFileFormat::header() + "CSZ: " + std::to_string(v.current) +
           "\nPSZ: " + std::to_string(v.previous) + "\nORG: " + std::to_string(v.original) +
           "\nCNT: " + std::to_string(v.count) + "\n\n" + DataFileFormat::trailer(prefix + ".siz") +
           "\n";
}

bool FileProcessor::processSizFileWithPath(const std::string& directory, const std::string& prefix,
                                           int64_t size) {
    std::string path = unitPath(directory, prefix, ".siz");
    if (!pathExists(path)) {
        SizingValues fresh{size, size, size, 0};
        if (!writeWhole(path, sizingFileText(fresh, prefix))) {
            setSizingReturnString("ERROR: The sizing file could not be written.");
            return false;
        }
        setSizingReturnString("New .siz file created");
        return true;
    }

    std::string error;
    std::optional<std::string> text = SafeFile::read(path, &error);
    std::optional<SizingValues> old = text ? readSizingValues(*text) : std::nullopt;
    if (!old) {
        System::consoleLog(
            "Sizing file left as it is: " + path +
            (error.empty() ? std::string(" holds no readable sizes") : ": " + error));
        setSizingReturnString("ERROR: The sizing file could not be read; it was left as it is.");
        return false;
    }
    std::string outcome;
    SizingValues now = updatedSizingValues(*old, size, &outcome);
    if (!writeWhole(path, sizingFileText(now, prefix))) {
        setSizingReturnString("ERROR: The sizing file could not be written.");
        return false;
    }
    setSizingReturnString(outcome);
    return true;
}

// --- .ssx and .skx ------------------------------------------------------------

std::string FileProcessor::ssxFileText(int64_t sweepSize, int sweepCount, int64_t lastSize,
                                       const std::string& prefix) {
    return DataFileFormat::header() + "SWPSZ: " + std::to_string(sweepSize) +
           "\nSWPCNT: " + std::to_string(sweepCount) + "\nLASTSZ: " + std::to_string(lastSize) +
           "\n\n" + DataFileFormat::trailer(prefix + ".ssx") + "\n";
}

std::string FileProcessor::skxFileText(int count, int64_t intervalSize, int64_t start, int64_t end,
                                       const std::string& prefix) {
    return DataFileFormat::header() + "CNT: " + std::to_string(count) +
           "\nISZ: " + std::to_string(intervalSize) + "\nSTRT: " + std::to_string(start) +
           "\nEND: " + std::to_string(end) + "\n\n" + DataFileFormat::trailer(prefix + ".skx") +
           "\n";
}

bool FileProcessor::processSsxFileWithPath(const std::string& directory, const std::string& prefix,
                                           ScanTables& disk) {
    if (disk.deviceSize <= 0) {
        System::consoleLog("No surface sweep index written for a unit without a size.");
        return false;
    }
    int64_t count = disk.deviceSize / kSweepSize;
    int64_t remainder = disk.deviceSize % kSweepSize;
    if (remainder > 0) {
        ++count;
    }
    if (count > std::numeric_limits<int>::max()) {
        System::consoleLog("No surface sweep index written: the unit is too large.");
        return false;
    }
    if (!writeWhole(unitPath(directory, prefix, ".ssx"),
                    ssxFileText(kSweepSize, static_cast<int>(count), remainder - 1, prefix))) {
        return false;
    }
    disk.sectionSize = kSweepSize;
    disk.sectionCount = static_cast<int>(count);
    disk.lastSectionSize = remainder;
    return true;
}

bool FileProcessor::processSkxFileWithPath(const std::string& directory, const std::string& prefix,
                                           const ScanTables& disk) {
    int count = disk.seekLocationCount;
    if (count < 1) {
        System::consoleLog("No seek index written without a seek location count.");
        return false;
    }
    int64_t sectors = disk.deviceSize / kSectorSize;
    int64_t interval = sectors / count;
    int64_t end = interval * (count - 1) * kSectorSize;
    return writeWhole(unitPath(directory, prefix, ".skx"),
                      skxFileText(count, interval, 0, end, prefix));
}

// --- derived copies -----------------------------------------------------------

bool FileProcessor::generateFileFromType(const std::string& oldSuffix, const std::string& newSuffix,
                                         const std::string& path) {
    if (oldSuffix.empty() || path.size() <= oldSuffix.size() ||
        path.compare(path.size() - oldSuffix.size(), oldSuffix.size(), oldSuffix) != 0) {
        System::consoleLog("No copy made: " + path + " does not end in " + oldSuffix);
        return false;
    }
    std::string target = path.substr(0, path.size() - oldSuffix.size()) + newSuffix;
    std::string error;
    std::optional<std::string> text = SafeFile::read(path, &error);
    if (!text) {
        System::consoleLog("No copy made: " + error);
        return false;
    }
    std::string targetName = extractLastElementOfPath(target);
    std::string out;
    out.reserve(text->size() + newSuffix.size());
    for (const DataFileLine& line : DataFileFormat::splitLines(*text)) {
        std::size_t at = line.text.find(DataFileFormat::kTrailerStart);
        if (at == std::string_view::npos) {
            out += line.text;
        } else {
            out += line.text.substr(0, at);
            out += DataFileFormat::trailer(targetName);
        }
        if (line.terminated) {
            out += '\n';
        }
    }
    return writeWhole(target, out);
}

// --- averages -------------------------------------------------------------------

bool FileProcessor::createNewSSAFileWithFileName(const std::string& averagePath,
                                                 const std::string& surfaceScanPath) {
    return AverageFile::createFirstAverage(AverageFile::Kind::Surface, averagePath,
                                           surfaceScanPath);
}

bool FileProcessor::createNewSKAFileWithFileName(const std::string& averagePath,
                                                 const std::string& seekScanPath) {
    return AverageFile::createFirstAverage(AverageFile::Kind::Seek, averagePath, seekScanPath);
}

bool FileProcessor::createNewSSTFileWithFileName(const std::string& newAveragePath,
                                                 const std::string& averagePath,
                                                 const std::string& cssPath) {
    return AverageFile::fold(AverageFile::Kind::Surface, newAveragePath, averagePath, cssPath);
}

bool FileProcessor::createNewSKTFileWithFileName(const std::string& newAveragePath,
                                                 const std::string& averagePath,
                                                 const std::string& cskPath) {
    return AverageFile::fold(AverageFile::Kind::Seek, newAveragePath, averagePath, cskPath);
}

std::optional<std::string> FileProcessor::calculateAveragesWithCSSString(const std::string& css,
                                                                         const std::string& ssa,
                                                                         double sampleSize) {
    auto current = DataFileFormat::parseSurfaceRecord(css);
    auto average = DataFileFormat::parseSurfaceRecord(ssa);
    if (!current || !average) {
        return std::nullopt;
    }
    return DataFileFormat::formatSurfaceRecord(
        AverageFile::combineSurface(*current, *average, sampleSize));
}

std::optional<std::string> FileProcessor::calculateAveragesWithCSKString(const std::string& csk,
                                                                         const std::string& ska,
                                                                         double sampleSize) {
    auto current = DataFileFormat::parseSeekRecord(csk);
    auto average = DataFileFormat::parseSeekRecord(ska);
    if (!current || !average) {
        return std::nullopt;
    }
    return DataFileFormat::formatSeekRecord(
        AverageFile::combineSeek(*current, *average, sampleSize));
}

double FileProcessor::calculateAveragesWithCSSValue(double current, double average,
                                                    double sampleSize) {
    return AverageFile::combineValue(current, average, sampleSize);
}

double FileProcessor::calculateAveragesWithCSKValue(double current, double average,
                                                    double sampleSize) {
    return AverageFile::combineValue(current, average, sampleSize);
}

} // namespace tolvarin
