#pragma once

#include "platform/RawDevice.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

namespace tolvarin {

// Holds the scan thread inside one read, so that a test can look at the
// window while a read is overdue: a read on a worker thread that overlaps the
// armed range waits until release() (or a minute, so nothing hangs for ever).
// Each arm() catches one read. Reads on the main thread pass (the sizing
// sweep runs there).
class ReadGate {
  public:
    void arm(int64_t start, int64_t end);
    // Whether a reader is held right now.
    bool holding() const;
    // Lets the held reader go (and disarms).
    void release();
    // How many reads were held so far.
    int held() const;

    // device behind this gate.
    std::unique_ptr<RawDevice> wrap(std::unique_ptr<RawDevice> device);

    // Called by the wrapper before each read.
    void pass(int64_t position, int64_t length);

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool armed_ = false;
    bool holding_ = false;
    // Releases so far; a held reader waits for the next one.
    int releases_ = 0;
    int64_t start_ = 0;
    int64_t end_ = 0;
    int held_ = 0;
};

} // namespace tolvarin
