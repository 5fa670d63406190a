#include "engine/SizingSweep.h"

#include "engine/DiskContext.h"
#include "logging/Logger.h"
#include "logging/MessageCenter.h"
#include "platform/PosixRawDevice.h"
#include "platform/SafeFile.h"
#include "platform/System.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>

namespace tolvarin {

namespace {

// The separator line that closes each part of a test's log.
const std::string kRule(79, '-');

// Without a size from the system the coarse walk still has to end somewhere
// (a character device that answers every read would otherwise keep it going
// for ever): no unit this program meets is larger than 1 PiB.
constexpr int64_t kUnknownSizeBound = int64_t{1} << 50;

// A unit that answers every read with an error must not keep the walks going
// for millions of probes (each can take seconds on a failing disk): a
// refinement walk leaves off after this many failures in a row, and a unit
// of which nothing at all could be read after this many probes is given up.
constexpr int kFailuresInARowPerWalk = 4;
constexpr int kFailuresBeforeUnreadable = 16;

// A hand-edited ".ssx" must not make the scan allocate without limit: a
// section may be at most this many standard sections long.
constexpr int64_t kMaxSectionFactor = 64;
constexpr int64_t kMaxRecordedSections = 1000000;

void logLine(const char* logFile, const char* format, ...) __attribute__((format(printf, 2, 3)));
void logLine(const char* logFile, const char* format, ...) {
    va_list args;
    va_start(args, format);
    Logger::vwriteDataToLogFile(logFile != nullptr ? logFile : "", format, args);
    va_end(args);
}

// One 512-byte probe of the sizing walks. Answers the bytes read, 0 for "past
// the end of the unit" and -1 for a place that cannot be read.
//
// Past the end means: a read that returns end-of-file, a block that is not
// whole (an image whose size is not a multiple of 512 ends before it), a
// failed positioning, and - for devices that answer reads past their end
// with an error instead of end-of-file - a failed read at or beyond the size
// the system reports. Offsets beyond bound are not read at all.
int64_t probe(DiskContext& disk, int64_t offset, int64_t bound) {
    if (offset > bound) {
        return 0;
    }
    RawDevice& device = *disk.device;
    if (device.seek(offset) == -1) {
        return 0;
    }
    int64_t n = device.read(disk.sectorBuffer.data(), disk.sectorReadSize);
    if (n == -1) {
        int64_t reported = device.reportedSize();
        return reported > 0 && offset >= reported ? 0 : -1;
    }
    return n < disk.sectorReadSize ? 0 : n;
}

std::optional<int64_t> parseNumber(std::string_view text) {
    std::string copy(text);
    const char* begin = copy.c_str();
    char* end = nullptr;
    errno = 0;
    long long value = std::strtoll(begin, &end, 10);
    if (end == begin || errno == ERANGE) {
        return std::nullopt;
    }
    while (*end == ' ' || *end == '\t' || *end == '\r') {
        ++end;
    }
    if (*end != '\0') {
        return std::nullopt;
    }
    return value;
}

struct RecordedLayout {
    std::optional<int64_t> sectionSize;
    std::optional<int64_t> sectionCount;
    std::optional<int64_t> lastSize; // as stored: the size minus one
};

RecordedLayout readLayout(const std::string& contents) {
    RecordedLayout layout;
    size_t pos = 0;
    while (pos < contents.size()) {
        size_t nl = contents.find('\n', pos);
        size_t end = nl == std::string::npos ? contents.size() : nl;
        std::string_view line(contents.data() + pos, end - pos);
        pos = end + 1;
        auto take = [&](std::string_view key, std::optional<int64_t>& into) {
            if (line.substr(0, key.size()) == key) {
                into = parseNumber(line.substr(key.size()));
            }
        };
        take("SWPSZ:", layout.sectionSize);
        take("SWPCNT:", layout.sectionCount);
        take("LASTSZ:", layout.lastSize);
    }
    return layout;
}

// Checks a recorded layout against the unit; answers why it cannot be used,
// or an empty text.
std::string layoutProblem(const RecordedLayout& layout, int64_t deviceSize) {
    if (!layout.sectionCount) {
        return "no usable SWPCNT: line";
    }
    if (!layout.sectionSize) {
        return "no usable SWPSZ: line";
    }
    int64_t size = *layout.sectionSize;
    int64_t count = *layout.sectionCount;
    int64_t last = layout.lastSize ? *layout.lastSize + 1 : 0;
    if (size <= 0 || size % 512 != 0 || size > SizingSweep::kSectionSize * kMaxSectionFactor) {
        return "section size " + std::to_string(size) + " is not usable";
    }
    // A hand-edited file with tiny sections could ask for a table of billions
    // of entries on a large unit; a million sections cover a petabyte.
    if (count < 1 || count > kMaxRecordedSections) {
        return "section count " + std::to_string(count) + " is not usable";
    }
    if (last < 0 || last > size) {
        return "last section size " + std::to_string(last) + " is not usable";
    }
    // Whole sections beyond the end of the unit: the file describes another
    // (larger) unit.
    if (count - 1 > deviceSize / size || (count - 1) * size >= deviceSize) {
        return "the layout of " + std::to_string(count) + " sections is larger than the unit";
    }
    return "";
}

void buildSections(DiskContext& disk) {
    disk.sections.assign(static_cast<size_t>(disk.sectionCount), ScanSection{});
    for (int i = 0; i < disk.sectionCount; ++i) {
        ScanSection& s = disk.sections[static_cast<size_t>(i)];
        s.start = static_cast<int64_t>(i) * disk.sectionSize;
        s.end = (static_cast<int64_t>(i) + 1) * disk.sectionSize - 1;
        s.count = disk.sectionCount;
        s.index = i;
        s.passed = 1;
        s.clean = 0;
    }
    if (disk.lastSectionSize > 0 && disk.sectionCount > 0) {
        ScanSection& last = disk.sections.back();
        last.end = last.start + disk.lastSectionSize - 1;
    }
}

void freshLayout(DiskContext& disk) {
    disk.sectionSize = SizingSweep::kSectionSize;
    disk.sectionCount = static_cast<int>(disk.deviceSize / disk.sectionSize);
    disk.lastSectionSize = disk.deviceSize % disk.sectionSize;
    if (disk.lastSectionSize > 0) {
        disk.sectionCount += 1;
    }
}

} // namespace

int SizingSweep::doSizingSweepWithLogFile(DiskContext& disk, const char* logFile, bool forWriting) {
    disk.sizingErrors = 0;
    // Everything the sweep has to say belongs between its start and end lines.
    logLine(logFile, "SIZING SCAN START\n");

    if (!disk.device) {
        int err = 0;
        std::string why;
        auto access =
            forWriting ? PosixRawDevice::Access::ReadWrite : PosixRawDevice::Access::ReadOnly;
        auto device = PosixRawDevice::open(disk.rawDevicePath, access, &err, &why);
        if (!device && forWriting && (err == EACCES || err == EROFS || err == EPERM)) {
            // Repair was asked for but the unit is not writable: scan it
            // anyway; the repair then reports every bad sector as not
            // repairable.
            logLine(logFile,
                    "SIZING SCAN WARNING: Could not open device for writing (%s); bad "
                    "blocks cannot be repaired.\n\n",
                    why.c_str());
            device = PosixRawDevice::open(disk.rawDevicePath, PosixRawDevice::Access::ReadOnly,
                                          &err, &why);
        }
        if (!device) {
            logLine(logFile, "SIZING SCAN CRITICAL ERROR: Could not open device for reading.\n\n");
            logLine(logFile, "   %s\n\n", why.c_str());
            logLine(logFile, "SIZING SCAN ABORTING TEST!\n\n");
            System::consoleLog("Sizing scan: " + why);
            disk.sizingErrors += 1;
            return kOpenFailed;
        }
        disk.fd = device->fd();
        disk.installDevice(std::move(device));
    }
    if (disk.sectorBuffer.size() < static_cast<size_t>(disk.sectorReadSize)) {
        disk.sectorBuffer.allocate(static_cast<size_t>(disk.sectorReadSize));
    }
    RawDevice& device = *disk.device;

    int64_t reported = device.reportedSize();
    int64_t bound = reported > 0 ? reported + kInitialStride : kUnknownSizeBound;

    // Start probe.
    int startCode = 0;
    int64_t first = -1;
    if (device.seek(0) != -1) {
        first = device.read(disk.sectorBuffer.data(), disk.sectorReadSize);
    }
    bool anyRead = first > 0;
    // Nothing of the unit could be read so far: leave off, and say so, once
    // enough probes have failed.
    auto unreadable = [&] { return !anyRead && disk.sizingErrors >= kFailuresBeforeUnreadable; };
    if (first == -1) {
        disk.sizingErrors += 1;
        logLine(logFile, "SIZING SCAN CRITICAL ERROR: Could not access byte 0 of unit.\n");
        startCode = kStartFailed;
    } else if (first < disk.sectorReadSize) {
        // An empty unit (a zero-length image): there is no block to size and
        // nothing to scan, which is no unit to test at all.
        logLine(logFile, "SIZING SCAN CRITICAL ERROR: The unit holds no readable 512-byte "
                         "block.\n\n");
        logLine(logFile, "SIZING SCAN ABORTING TEST!\n\n");
        System::consoleLog(std::string("Sizing scan: ") + disk.rawDevicePath + " is empty");
        disk.sizingErrors += 1;
        return kOpenFailed;
    }

    // Coarse walk in 1 GiB strides. Every probe lies exactly on a stride so
    // that the refinement below pins the last block down to the byte.
    int intermediateCode = 0;
    disk.sizingStep = kInitialStride;
    disk.readCount = 0;
    disk.lastReadResult = 1;
    int64_t offset = 0;
    while (disk.lastReadResult > 0 && !unreadable()) {
        offset += disk.sizingStep;
        disk.readCount += 1;
        disk.lastReadResult = probe(disk, offset, bound);
        anyRead = anyRead || disk.lastReadResult > 0;
        if (disk.lastReadResult == -1) {
            logLine(logFile, "SIZING SCAN ERROR: Could not read bytes a %lld\n",
                    static_cast<long long>(disk.readCount * disk.sizingStep));
            disk.lastReadResult = 1;
            disk.sizingErrors += 1;
            intermediateCode = kIntermediateFailed;
        }
    }
    disk.deviceSize = (disk.readCount - 1) * disk.sizingStep;

    // Refinement: halve the stride down to 512 bytes, each walk starting at
    // the last offset known to be readable.
    int endCode = 0;
    while (disk.sizingStep > disk.sectorReadSize && !unreadable()) {
        disk.sizingStep >>= 1;
        offset = disk.deviceSize;
        disk.readCount = 0;
        disk.lastReadResult = 1;
        int failuresInARow = 0;
        while (disk.lastReadResult > 0 && !unreadable()) {
            offset += disk.sizingStep;
            disk.readCount += 1;
            disk.lastReadResult = probe(disk, offset, bound);
            if (disk.lastReadResult > 0) {
                disk.deviceSize = offset;
                anyRead = true;
                failuresInARow = 0;
            } else if (disk.lastReadResult == -1) {
                disk.sizingErrors += 1;
                logLine(logFile, "SIZING SCAN CRITICAL ERROR: Could not properly access final "
                                 "bytes of unit.\n");
                endCode = kEndFailed;
                // A run of failures is an unreadable stretch up to the end:
                // the last readable block lies before it.
                disk.lastReadResult = ++failuresInARow < kFailuresInARowPerWalk ? 1 : 0;
            }
        }
    }
    if (!anyRead) {
        logLine(logFile,
                "SIZING SCAN CRITICAL ERROR: No part of the unit could be read "
                "(%d reads failed).\n\n",
                disk.sizingErrors);
        logLine(logFile, "SIZING SCAN ABORTING TEST!\n\n");
        System::consoleLog(std::string("Sizing scan: nothing of ") + disk.rawDevicePath +
                           " could be read");
        return kOpenFailed;
    }

    disk.deviceSize += disk.sectorReadSize;
    disk.detectedSize = disk.deviceSize;
    disk.sectorCount = disk.deviceSize / 512;
    disk.scanUnitCount = disk.deviceSize / disk.scanReadSize;
    disk.scanUnitRemainder = disk.deviceSize - disk.scanUnitCount * disk.scanReadSize;

    logLine(logFile, "\nSizing Scan Results:\n");
    logLine(logFile, " Detected size: %lld\n", static_cast<long long>(disk.detectedSize));
    logLine(logFile, " Number of 512 byte sectors: %lld\n",
            static_cast<long long>(disk.sectorCount));
    if (startCode < 0 || intermediateCode < 0 || endCode < 0) {
        logLine(logFile, "WARNING: SIZING SCAN COMPLETED WITH ERRORS, DATA MAY BE UNRELIABLE.\n\n");
    } else {
        logLine(logFile, "Sizing Scan Completed Normally.\n");
    }
    logLine(logFile, "\nSIZING SCAN END\n\n");
    logLine(logFile, "%s\n\n", kRule.c_str());

    return startCode + intermediateCode + endCode;
}

void SizingSweep::doSweepSectorAllocationWithFile(DiskContext& disk, const std::string& ssxPath,
                                                  const char* logFile) {
    if (ssxPath.empty()) {
        freshLayout(disk);
        buildSections(disk);
        return;
    }

    std::string error;
    std::optional<std::string> contents = SafeFile::read(ssxPath, &error);
    std::string problem;
    RecordedLayout layout;
    if (!contents) {
        problem = error.empty() ? "the file cannot be read" : error;
    } else {
        layout = readLayout(*contents);
        problem = layoutProblem(layout, disk.deviceSize);
    }
    if (!problem.empty()) {
        // A normal scan cannot go on without sections; the standard layout is
        // the one the file would have recorded for this unit.
        logLine(logFile,
                "SECTOR ALLOCATION WARNING: Could not use the section layout of %s (%s); "
                "using the standard layout.\n\n",
                ssxPath.c_str(), problem.c_str());
        freshLayout(disk);
        buildSections(disk);
        return;
    }
    disk.sectionSize = *layout.sectionSize;
    disk.sectionCount = static_cast<int>(*layout.sectionCount);
    disk.lastSectionSize = layout.lastSize ? *layout.lastSize + 1 : 0;
    buildSections(disk);
}

int SizingSweep::messageNumberForResult(int result) {
    if (result >= 0) {
        return 0;
    }
    if (result == kOpenFailed) {
        return 1000;
    }
    return 1000 - result / 2;
}

bool SizingSweep::confirmSizingResult(int result) {
    if (result >= 0) {
        return true;
    }
    int answer = MessageCenter::generateAlertDialogWithNumber(messageNumberForResult(result));
    if (result == kOpenFailed) {
        return false;
    }
    return answer != 0;
}

} // namespace tolvarin
