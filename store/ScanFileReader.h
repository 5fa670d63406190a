#pragma once

#include <string>
#include <string_view>

namespace tolvarin {

struct ScanTables;

// The resume readers of the scan files: whether a scan file is finished, and
// loading a partly written one back into the scan state so that a stopped
// scan continues after its last recorded section or location pair. The scan
// controller forwards isScanCompleteOnFile:, extractSurfaceDataFromFile: and
// extractSeekDataFromFile: here with the state they change.
//
// A record is taken only when it is whole: a complete line, every field
// readable, and its index the next one in sequence inside the context's
// table. Everything after the last such record in an unfinished file (the
// termination lines and trailer of a stopped scan, or a line torn by a crash)
// is cut away, so the scan appends to a file that holds exactly what was
// loaded. A finished file is only read, never rewritten.
class ScanFileReader {
  public:
    ScanFileReader() = delete;

    // What one resume read found.
    struct Resume {
        int records = 0;       // records loaded: the index to continue from
        bool complete = false; // the file carries its completion line
        bool rewrite = false;  // the file must be cut back to `kept`
        std::string kept;      // header and loaded records of an unfinished file
    };

    // YES when some line begins "Surface Scan Complete" or "Seek Scan
    // Complete"; NO without one or when the file cannot be read.
    static bool isScanCompleteOnFile(const std::string& path);
    static bool isScanCompleteText(std::string_view text);

    // Loads the recorded surface sections into disk.sections (minimum,
    // maximum, slowest position, mean, spread, total, pass and clean flags,
    // counts; an unmeasured mean or spread as 9.999e99) and sets
    // surfaceErrors and totalErrors to the sum of their error counts,
    // surfaceIrregularities and totalIrregularities to the sum of their
    // irregularity counts. Answers the index after the last record, 0 when
    // the file holds none or cannot be read. With an empty section table
    // nothing is loaded and the file is left alone.
    static int extractSurfaceDataFromFile(const std::string& path, ScanTables& disk);
    // The same for a seek file and disk.seekPairs: an unmeasured pair loads
    // as 9.999e99 in all four timings; every pair with O:0 adds one
    // irregularity to seekIrregularities and totalIrregularities, every pair
    // with E:0 one error to errorCount, seekErrors and totalErrors.
    static int extractSeekDataFromFile(const std::string& path, ScanTables& disk, int& errorCount);

    // The reads above on a file's text; the caller writes `kept` back when
    // `rewrite` is set.
    static Resume resumeSurfaceText(std::string_view text, ScanTables& disk);
    static Resume resumeSeekText(std::string_view text, ScanTables& disk, int& errorCount);
};

} // namespace tolvarin
