#pragma once

#include "base/Clock.h"
#include "base/ScanTables.h"
#include "platform/AlignedBuffer.h"
#include "platform/RawDevice.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tolvarin {

// The per-test device context: buffers, sizes, the section and seek tables,
// the counters and the indices of one test of one unit. The scan controller
// owns it from preparation to the post-test reset.
struct DiskContext : ScanTables {
    static constexpr std::size_t kDataDirectorySize = 256;
    static constexpr std::size_t kFilePrefixSize = 128;
    static constexpr std::size_t kRawDevicePathSize = 128;
    static constexpr std::size_t kLogFilePathSize = 512;

    static constexpr int64_t kSectorReadSize = 512;
    static constexpr int64_t kScanReadSize = 262144;
    static constexpr int64_t kSeekReadSize = 1024;
    static constexpr int64_t kSizingStep = 1073741824;

    // The descriptor number of a POSIX device, or a positive stand-in for a
    // simulated one; the engine reads through device.
    int fd = 0;
    AlignedBuffer sectorBuffer;
    int64_t sectorReadSize = kSectorReadSize;
    AlignedBuffer scanBuffer;
    AlignedBuffer seekBuffer;
    int64_t scanReadSize = kScanReadSize;
    int64_t seekReadSize = kSeekReadSize;
    int64_t lastReadResult = 1;
    int64_t sizingStep = kSizingStep;
    int64_t position = 0;
    int64_t readCount = 0;
    int64_t sectorCount = 0;
    int64_t scanUnitCount = 0;
    int64_t scanUnitRemainder = 0;
    char dataDirectory[kDataDirectorySize] = {};
    char filePrefix[kFilePrefixSize] = {};
    char rawDevicePath[kRawDevicePathSize] = {};
    char logFilePath[kLogFilePathSize] = {};

    // What the timed reads are measured with; the scan controller hands in
    // its owner's clock.
    const Clock* clock = &Clock::system();

    // The opened unit. Released (and so closed) with the context.
    std::unique_ptr<RawDevice> device;
    // Called when a call on the unit finds it gone (unplugged, detached);
    // the scan controller installs it.
    std::function<void()> unitGone;

    // Installs device, watched for the unit going away.
    void installDevice(std::unique_ptr<RawDevice> opened);

    // Copies text into one of the fixed text areas, cut to fit and always
    // terminated. Answers false when it had to cut.
    template <std::size_t N> static bool copyText(char (&area)[N], const std::string& text) {
        return copyTextInto(area, N, text);
    }
    static bool copyTextInto(char* area, std::size_t size, const std::string& text);

    void setDataDirectory(const std::string& text) { copyText(dataDirectory, text); }
    void setFilePrefix(const std::string& text) { copyText(filePrefix, text); }
    void setRawDevicePath(const std::string& text) { copyText(rawDevicePath, text); }
    void setLogFilePath(const std::string& text) { copyText(logFilePath, text); }
};

// Puts every field at its initial value, allocates the three buffers and
// clears the text areas, tables and counters. A device already installed is
// closed.
void initialize(DiskContext& disk);

// Releases the context and everything it holds, closing the device; the
// pointer is empty afterwards. Safe on an empty pointer.
void deInitialize(std::unique_ptr<DiskContext>& disk);

// Result codes of doLowLevelSeekTest.
constexpr int kSeekTestPassed = 1;
constexpr int kSeekTestSlow = 2;
constexpr int kSeekTestReadFailed = -1;
constexpr int kSeekTestSeekFailed = -2;
// A cycle longer than this (strictly) makes the test slow.
constexpr double kSeekCycleThreshold = 0.5;

// The timed seek test between two offsets: 25 cycles of 5 back-and-forth
// trips from A to B. Fills the out values (seconds) and answers 1 (passed) or
// 2 (slowest cycle above 0.5 s); on the first failing seek -2, on the first
// failing read -1, leaving the out values untouched. The caller holds the
// scan controller's lock. cycleMicros, when given, receives the duration of
// every timed cycle measured.
int doLowLevelSeekTest(double* min, double* max, double* total, double* avg, DiskContext& disk,
                       int64_t offsetA, int64_t offsetB,
                       std::vector<int64_t>* cycleMicros = nullptr);

} // namespace tolvarin
