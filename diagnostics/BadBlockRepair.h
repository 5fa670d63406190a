#pragma once

#include <cstdint>
#include <optional>
#include <utility>

namespace tolvarin {

class ScanController;
struct DiskContext;

// Bad block repair, run by a cursory surface scan at a failed read when the
// user chose to repair: walks the rest of the failing section in 512-byte
// sectors, overwrites every sector that cannot be read with zeros (so that
// the drive re-maps it to a spare), then reads the stretch again to verify.
// It writes nothing outside the failing section and never writes a sector
// that reads well. The unit must have been opened for writing (the sizing
// sweep does so when repair is chosen); otherwise every repair write fails
// and the section is reported as not repairable.
class BadBlockRepair {
  public:
    static constexpr int64_t kSectorSize = 512;

    explicit BadBlockRepair(ScanController& controller);

    // doDiskRepairOnIndex:usingLogFile: repairs section sectionIndex from
    // the context's position (the offset of the failed read, relative to the
    // section start) to its end, logging to logFile. On return the position
    // is at the section's end.
    void doDiskRepairOnIndex(int sectionIndex, const char* logFile);

    // What the last repair did (tests and summaries).
    int64_t sectorsRewritten() const { return rewritten_; }
    bool verified() const { return verified_; }

  private:
    // Reads the sector at the device's position; false when the read failed.
    bool readSector(DiskContext& disk);
    // Overwrites the failed sector at offset with zeros; answers the byte
    // range written [first, second), nullopt when the write failed.
    std::optional<std::pair<int64_t, int64_t>> writeZeros(DiskContext& disk, int64_t offset,
                                                          int64_t sectionStart, int64_t sectionEnd);
    void setRange(const char* format, double gigabytes);
    void setRangeText(const char* text);
    void countError(DiskContext& disk, int sectionIndex);
    void log(const char* format, ...) __attribute__((format(printf, 2, 3)));

    ScanController& controller_;
    const char* logFile_ = "";
    int64_t rewritten_ = 0;
    bool verified_ = false;
};

} // namespace tolvarin
