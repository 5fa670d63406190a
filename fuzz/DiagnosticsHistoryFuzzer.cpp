// The reader of the diagnostics history on arbitrary file contents: every
// record it keeps is a sound finding, and what it keeps reads back the same
// when written out again.
#include "diagnostics/DiagnosticsHistory.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

using namespace tolvarin;

namespace {

void fail(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    __builtin_trap();
}

// The records of a history as the scans write them (dates left out).
std::string written(const DiagnosticsHistory& history) {
    std::string out;
    char line[128];
    for (const DiagnosticsHistory::ScanSet& set : history.scanSets()) {
        out += "SRTS:stamp\n";
        for (const DiagResults& r : set) {
            const long long start = r.startRange();
            const long long stop = r.stopRange();
            if (r.isSurfaceScan() && r.isError()) {
                std::snprintf(line, sizeof(line), "SSE:%lld:0\n", start);
            } else if (r.isSurfaceScan()) {
                std::snprintf(line, sizeof(line), "SSI:%lld:%f:0\n", start, r.duration());
            } else if (r.isError()) {
                std::snprintf(line, sizeof(line), "SKE:%lld:%lld\n", start, stop);
            } else {
                std::snprintf(line, sizeof(line), "SKI:%lld:%lld\n", start, stop);
            }
            out += line;
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    DiagnosticsHistory history = DiagnosticsHistory::fromText(text);

    std::size_t lines = 0;
    for (char c : text) {
        lines += c == '\n' ? 1 : 0;
    }
    if (history.refused().size() + history.recordCount() > lines + 1) {
        fail("more records and refusals than lines");
    }
    for (const DiagnosticsHistory::ScanSet& set : history.scanSets()) {
        for (const DiagResults& r : set) {
            if (r.startRange() < 0 || r.stopRange() < 0 || !std::isfinite(r.duration()) ||
                r.duration() < 0) {
                fail("a record with an impossible field was kept");
            }
            if ((!r.isSurfaceScan() && !r.isSeekScan()) || (!r.isError() && !r.isIrregularity())) {
                fail("a record of no known kind was kept");
            }
            if (r.isSurfaceScan() && r.startRange() != r.stopRange()) {
                fail("a surface record spans a range");
            }
        }
    }

    const std::string once = written(history);
    DiagnosticsHistory again = DiagnosticsHistory::fromText(once);
    if (!again.refused().empty()) {
        fail("a kept record was refused when read again");
    }
    if (again.scanSets().size() != history.scanSets().size() ||
        again.recordCount() != history.recordCount()) {
        fail("the records changed when read again");
    }
    if (written(again) != once) {
        fail("the records are not stable");
    }
    return 0;
}
