#include "diagnostics/BadBlockRepair.h"

#include "engine/DiskContext.h"
#include "engine/ScanController.h"
#include "logging/Logger.h"
#include "platform/AlignedBuffer.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <optional>
#include <utility>
#include <vector>

namespace tolvarin {

namespace {

bool allZero(const std::byte* data, int64_t length) {
    return std::all_of(data, data + length, [](std::byte b) { return b == std::byte{0}; });
}

} // namespace

BadBlockRepair::BadBlockRepair(ScanController& controller) : controller_(controller) {}

void BadBlockRepair::doDiskRepairOnIndex(int sectionIndex, const char* logFile) {
    logFile_ = logFile != nullptr ? logFile : "";
    rewritten_ = 0;
    verified_ = false;

    DiskContext* context = controller_.disk();
    if (context == nullptr || sectionIndex < 0 ||
        sectionIndex >= static_cast<int>(context->sections.size())) {
        return;
    }
    DiskContext& disk = *context;
    ScanSection& section = disk.sections[static_cast<std::size_t>(sectionIndex)];
    const int64_t start = section.start;
    const int64_t end = section.end;
    const int64_t sectionLength = end - start;
    const int64_t entryPosition = disk.position;
    auto fraction = [&](int64_t offset) {
        return disk.deviceSize > 0
                   ? static_cast<double>(offset) / static_cast<double>(disk.deviceSize)
                   : 0.0;
    };

    // Byte ranges this repair rewrote, so the verification can check that
    // they read back as the zeros written.
    std::vector<std::pair<int64_t, int64_t>> written;

    log("\n   ***** STARTING REPAIR ON DEFECTIVE UNIT *****\n");
    log("\n   ***** ENTERING 512 BYTE SCANNING/REPAIR MODE *****\n");

    bool aborted = false;
    while (start + disk.position < end) {
        const int64_t offset = start + disk.position;
        const long long at = offset;
        log("   EVALUATING 512 BYTE SECTOR AT: %lld\n", at);
        setRange("   Evaluating Sector at %.3f GB", static_cast<double>(offset) / 1e9);
        controller_.setSurfacePercentDone(fraction(offset));
        controller_.updateGUI();

        RawDevice* device = disk.device.get();
        if (device == nullptr || device->seek(offset) < 0) {
            log("   SECTOR COULD NOT BE REPAIRED AT: %lld\n", at);
            log("      REASON: UNABLE TO SEEK TO TARGETED POSITION\n");
            setRange("COULD NOT SEEK TO TARGETED SECTOR AT %.3f GB",
                     static_cast<double>(offset) / 1e9);
            disk.position = sectionLength;
            controller_.setSurfacePercentDone(fraction(end));
            countError(disk, sectionIndex);
            controller_.updateErrorCount();
            controller_.updateGUI();
            aborted = true;
            break;
        }
        if (readSector(disk)) {
            disk.position += kSectorSize;
            continue;
        }

        log("      SCAN FAILED AT: %lld\n", at);
        log("         ATTEMPTING REPAIR AT: %lld\n", at);
        setRange("ATTEMPTING REPAIR AT %.3f GB", static_cast<double>(offset) / 1e9);
        controller_.updateGUI();
        if (std::optional<std::pair<int64_t, int64_t>> range =
                writeZeros(disk, offset, start, end)) {
            written.push_back(*range);
            ++rewritten_;
            disk.position += kSectorSize;
            continue;
        }

        setRange("   REPAIR FAILED AT %.3f GB", static_cast<double>(offset) / 1e9);
        log("            REPAIR FAILED AT: %lld\n", at);
        log("            BAD SECTOR COULD NOT BE RE-MAPPED TO SPARE SECTORS.\n");
        countError(disk, sectionIndex);
        disk.position = sectionLength;
        controller_.setSurfacePercentDone(fraction(end));
        controller_.updateErrorCount();
        controller_.updateGUI();
        aborted = true;
        break;
    }

    if (aborted) {
        log("      THIS DISK CANNOT BE REPAIRED BY TOLVARIN\n");
        log("      ABORTING REPAIR ON THIS SCAN SECTION\n");
        return;
    }

    // Verification: the same stretch once more; every sector must read, and
    // every sector this repair wrote must read back as zeros.
    disk.position = entryPosition;
    log("   ATTEMPTING TO EVALUATE REPAIRS IN SCAN SECTION\n");
    bool failed = false;
    while (start + disk.position < end) {
        const int64_t offset = start + disk.position;
        setRange("Verifying Sector at %.3f GB", static_cast<double>(offset) / 1e9);
        controller_.setSurfacePercentDone(fraction(offset));
        controller_.updateGUI();

        RawDevice* device = disk.device.get();
        bool good = device != nullptr && device->seek(offset) >= 0 && readSector(disk);
        if (good) {
            bool wasWritten = std::any_of(written.begin(), written.end(), [&](const auto& range) {
                return offset >= range.first && offset < range.second;
            });
            if (wasWritten && (disk.lastReadResult != kSectorSize ||
                               !allZero(disk.sectorBuffer.data(), kSectorSize))) {
                good = false;
            }
        }
        if (!good) {
            log("      VERIFICATION OF REPAIRED AREAS FAILED.\n");
            log("      THIS UNIT CANNOT BE REPAIRED BY TOLVARIN - ABORTING REPAIRS ON SCAN "
                "SECTION\n");
            disk.position = sectionLength;
            setRangeText("   UNIT REPAIR FAILED VERIFICATION");
            controller_.setSurfacePercentDone(fraction(end));
            // An unreadable sector is still there: with repair chosen the
            // surface scan leaves the counting to the repair, so count it.
            countError(disk, sectionIndex);
            controller_.updateErrorCount();
            controller_.updateGUI();
            failed = true;
            break;
        }
        disk.position += kSectorSize;
    }

    verified_ = !failed;
    if (failed) {
        log("   ATTEMPTS TO REPAIR THIS UNIT WERE NOT SUCCESSFUL.\n");
    } else {
        log("   THIS UNIT APPEARS TO HAVE BEEN SUCCESSFULLY REPAIRED.\n");
    }
    // The walk ends at the section end in every case.
    disk.position = sectionLength;
}

bool BadBlockRepair::readSector(DiskContext& disk) {
    if (disk.sectorBuffer.size() < static_cast<std::size_t>(kSectorSize)) {
        disk.sectorBuffer.allocate(static_cast<std::size_t>(kSectorSize));
    }
    disk.lastReadResult = disk.device->read(disk.sectorBuffer.data(), kSectorSize);
    return disk.lastReadResult != -1;
}

std::optional<std::pair<int64_t, int64_t>> BadBlockRepair::writeZeros(DiskContext& disk,
                                                                      int64_t offset,
                                                                      int64_t sectionStart,
                                                                      int64_t sectionEnd) {
    RawDevice* device = disk.device.get();
    // On a unit whose logical block is larger than a sector the whole block
    // failed to read (reads are widened to it), and a smaller write would
    // have to read it first: write the enclosing block, as long as it lies
    // inside the section.
    int64_t block = std::max<int64_t>(kSectorSize, device->logicalBlockSize());
    int64_t writeStart = offset;
    int64_t writeLength = kSectorSize;
    if (block > kSectorSize) {
        int64_t blockStart = offset / block * block;
        if (blockStart >= sectionStart && blockStart + block - 1 <= sectionEnd) {
            writeStart = blockStart;
            writeLength = block;
        }
    }
    AlignedBuffer zeros(static_cast<std::size_t>(writeLength));
    if (device->seek(writeStart) < 0) {
        return std::nullopt;
    }
    // Anything short of the whole length leaves the sector unrepaired.
    if (device->write(zeros.data(), writeLength) != writeLength) {
        return std::nullopt;
    }
    return std::make_pair(writeStart, writeStart + writeLength);
}

void BadBlockRepair::setRange(const char* format, double gigabytes) {
    char text[128] = {};
    std::snprintf(text, sizeof text, format, gigabytes);
    controller_.setCurrentTestRange(text);
}

void BadBlockRepair::setRangeText(const char* text) {
    controller_.setCurrentTestRange(text);
}

void BadBlockRepair::countError(DiskContext& disk, int sectionIndex) {
    ++disk.surfaceErrors;
    ++disk.sections[static_cast<std::size_t>(sectionIndex)].errorCount;
    ++disk.totalErrors;
}

void BadBlockRepair::log(const char* format, ...) {
    va_list args;
    va_start(args, format);
    Logger::vwriteDataToLogFile(logFile_, format, args);
    va_end(args);
}

} // namespace tolvarin
