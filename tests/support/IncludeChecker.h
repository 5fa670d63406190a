#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tolvarin {

// The order of the code's folders: a folder includes only itself and the
// folders below it (never one beside it), only platform/ includes
// Linux-specific headers, and only the faces include Qt.
//   base -> platform -> unitprobe | logging -> store -> engine
//        -> diagnostics | report -> app -> cli | qt
class IncludeChecker {
  public:
    // What is wrong with one include line of a file (its path relative to
    // the source tree); nullopt when the line is allowed or is no include.
    static std::optional<std::string> violation(const std::string& file, const std::string& line);
    // Every violation in the source files under root, as "file:line: why".
    static std::vector<std::string> scanTree(const std::string& root);
};

} // namespace tolvarin
