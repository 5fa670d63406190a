#pragma once

#include "diagnostics/DiagResults.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tolvarin {

// A unit's diagnostics history (its ".dia" file, appended by every normal
// scan) read back into scan sets: everything from one surface scan start
// ("SRTS:") to the next, in file order. Each line holds one record; a record
// that is damaged (cut short by a crash, a field that is not a number of its
// kind, a line too long to be a record, text that is no record at all) is
// refused and named in refused(), never read as some other finding.
class DiagnosticsHistory {
  public:
    using ScanSet = std::vector<DiagResults>;

    // A record line is at most this long (the reader's 512-byte buffer).
    static constexpr std::size_t kMaximumLineBytes = 511;
    // A history larger than this is not read (a unit records a few lines per
    // finding; no real history comes near it).
    static constexpr std::size_t kMaximumFileBytes = 64 * 1024 * 1024;

    struct Refusal {
        int line = 0;       // 1-based line number
        std::string reason; // why it was not read
        std::string text;   // the line, cut to 80 bytes, without its line break
    };

    DiagnosticsHistory() = default;

    // loadDiagTestDataIntoArray:usingFile: reads the file at path (never
    // through a link). A file that cannot be read leaves the history empty
    // and says why in problem().
    static DiagnosticsHistory loadDiagTestDataIntoArray(const std::string& path);
    // The same reading of a file's text.
    static DiagnosticsHistory fromText(std::string_view text);

    // processDiagDataToArray:usingString:andDate: appends the record of one
    // line (its line break included or not) to scanSet. Answers the reason a
    // line with a record prefix is refused, empty when it was read; a line
    // without a record prefix adds nothing and answers "not a record".
    static std::string processDiagDataToArray(ScanSet& scanSet, std::string_view line,
                                              const std::string& date);
    // extractDiagDateFromString: the line from its sixth character on (the
    // text after "SRTS:" or "SKTS:"), without its line break.
    static std::string extractDiagDateFromString(std::string_view line);

    const std::vector<ScanSet>& scanSets() const { return scanSets_; }
    std::vector<ScanSet>& scanSets() { return scanSets_; }
    const std::vector<Refusal>& refused() const { return refused_; }
    // Why the file could not be read; empty when it was.
    const std::string& problem() const { return problem_; }
    // Records in all scan sets.
    std::size_t recordCount() const;
    // Whether every scan set is empty (or there is none).
    bool holdsNoFindings() const { return recordCount() == 0; }

    // writeDiagTestDataToSystemLog: the whole history on the system console
    // (a debugging aid).
    void writeDiagTestDataToSystemLog() const;

  private:
    void refuse(int line, std::string_view text, std::string reason);

    std::vector<ScanSet> scanSets_;
    std::vector<Refusal> refused_;
    std::string problem_;
};

} // namespace tolvarin
