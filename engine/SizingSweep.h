#pragma once

#include <cstdint>
#include <string>

namespace tolvarin {

struct DiskContext;

// Finds the size of a unit by itself and cuts it into scan sections.
//
// The sizing sweep opens the raw device (unless a device is already installed
// in the context) and probes it with 512-byte reads in halving strides until
// it has pinned down the last readable block; its result code tells which
// parts of the unit could not be read. The sector allocation sweep builds the
// section table, freshly or from the unit's ".ssx" file.
class SizingSweep {
  public:
    static constexpr int64_t kInitialStride = 1073741824; // 1 GiB
    static constexpr int64_t kSectionSize = 1048576000;   // 4,000 read units
    static constexpr int kStartFailed = -2;
    static constexpr int kIntermediateFailed = -4;
    static constexpr int kEndFailed = -8;
    static constexpr int kOpenFailed = -1;

    // doSizingSweepWithLogFile: opens disk.rawDevicePath (read-only, or
    // read-write when forWriting, for bad block repair) and sizes the unit.
    // Answers 0, the sum of the partial codes -2 (start), -4 (intermediate)
    // and -8 (end), or -1 when the unit cannot be opened or holds no readable
    // block. Logs to logFile.
    static int doSizingSweepWithLogFile(DiskContext& disk, const char* logFile,
                                        bool forWriting = false);

    // doSweepSectorAllocationWithFile: a fresh layout of 1,048,576,000-byte
    // sections when ssxPath is empty; otherwise the layout the ".ssx" file
    // records. A file that is missing, unreadable or unusable gives the fresh
    // layout and a log line.
    static void doSweepSectorAllocationWithFile(DiskContext& disk, const std::string& ssxPath,
                                                const char* logFile);

    // The message that reports a sizing result: 0 for r >= 0, 1000 for -1,
    // 1000 - r / 2 (1001 to 1007) for the other codes.
    static int messageNumberForResult(int result);
    // Shows that message; answers whether the test may go on (r >= 0, or the
    // user chose "OK" on 1001 to 1007; never after 1000).
    static bool confirmSizingResult(int result);
};

} // namespace tolvarin
