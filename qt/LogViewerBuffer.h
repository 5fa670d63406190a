#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <string>

namespace tolvarin {

// What the log viewer holds: the most recent pieces of log text, one piece
// per logger call (a line, part of a line or several lines), at most
// kMaxPieces, oldest first. Writers on any thread add; the window reads.
class LogViewerBuffer {
  public:
    static constexpr std::size_t kMaxPieces = 40;

    void add(const std::string& piece);
    void clear();
    // The held pieces, concatenated.
    std::string text() const;
    std::size_t lineCount() const;

  private:
    mutable std::mutex mutex_;
    std::deque<std::string> pieces_;
};

} // namespace tolvarin
