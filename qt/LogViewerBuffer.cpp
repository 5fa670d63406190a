#include "qt/LogViewerBuffer.h"

namespace tolvarin {

void LogViewerBuffer::add(const std::string& piece) {
    std::lock_guard<std::mutex> lock(mutex_);
    pieces_.push_back(piece);
    while (pieces_.size() > kMaxPieces) {
        pieces_.pop_front();
    }
}

void LogViewerBuffer::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    pieces_.clear();
}

std::string LogViewerBuffer::text() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string all;
    for (const std::string& piece : pieces_) {
        all += piece;
    }
    return all;
}

std::size_t LogViewerBuffer::lineCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pieces_.size();
}

} // namespace tolvarin
