#pragma once

#include "engine/SurfaceScan.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace tolvarin {

class ScanController;
class ScanHost;
struct DiskContext;

// The cursory test: a one-off check of a unit whose results go only to the
// log. It runs the surface scan (whole, or limited to the sections that cover
// a range given in gigabytes), the seek scan with 30 locations, or both, as
// the owner's cursory options say; failed sections may be probed or, when
// the user chose so, repaired. Nothing is written to the data directory.
class CursoryScan {
  public:
    static constexpr int64_t kGigabyte = 1000000000;
    static constexpr int kTestCompletedMessage = 1;

    CursoryScan(ScanController& controller, ScanHost& host);

    // Makes doCursoryScanTest the controller's cursory thread body.
    static void installOn(ScanController& controller, SurfaceScan::RepairHook repair = nullptr);
    // What mends a failed section when the user chose to repair (the bad
    // block repair of the diagnostics, handed in by the owner); without one
    // a failed section is only reported.
    void setRepairHook(SurfaceScan::RepairHook repair) { repair_ = std::move(repair); }

    // doCursoryScanTest: the scan thread's body for a cursory test. Ends in
    // every case with message 1 and the post-test reset.
    void doCursoryScanTest();

    // doLimitedSurfaceScanTest: scans whole the sections that hold the
    // owner's limited start and end (an end beyond the unit means up to the
    // last section). Answers true when the range was scanned to its end,
    // false when the user stopped it or the range holds no section of the
    // unit (logged).
    bool doLimitedSurfaceScanTest();

    // The first and last section index covering the byte range start..end
    // (an end beyond the last section selects the last one); nullopt when
    // the start lies in no section or the range is reversed.
    static std::optional<std::pair<int, int>> limitedSectionRange(const DiskContext& disk,
                                                                  int64_t start, int64_t end);

  private:
    void log(const char* format, ...) __attribute__((format(printf, 2, 3)));

    ScanController& controller_;
    ScanHost& host_;
    std::string logFile_;
    SurfaceScan::RepairHook repair_;
};

} // namespace tolvarin
