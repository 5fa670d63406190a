#pragma once

#include <memory>
#include <string>
#include <vector>

namespace tolvarin {

class CurrentDriveInfo;

// Finds the file prefix of the unit under test: the name of the first drive
// header among the current data files whose lines the unit's target drive
// description matches. The prefix names every data file of the unit, so a
// wrong one would put a test's results into another unit's files.
class DataFilePrefix {
  public:
    DataFilePrefix() = delete;

    // The header lines are read in pieces of at most this many bytes.
    static constexpr std::size_t kLineLength = 255;

    // Every line of target is the beginning of at least one header line. A
    // unit without a description matches nothing.
    static bool headerMatches(const std::vector<std::string>& headerLines,
                              const std::vector<std::string>& target);
    // The last path element up to its first ".": /a/b/X12.ABC.iss -> X12.
    static std::string prefixOfPath(const std::string& path);
    // The header's lines as the match reads them; a file that cannot be read
    // has none.
    static std::vector<std::string> headerLines(const std::string& path);
    // The prefix of the first matching header among files, in their order;
    // empty when none matches.
    static std::string find(const std::vector<std::shared_ptr<CurrentDriveInfo>>& files,
                            const std::vector<std::string>& target);
};

} // namespace tolvarin
