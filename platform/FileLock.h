#pragma once

#include "platform/UniqueFd.h"

#include <string>

namespace tolvarin {

// An exclusive lock on a small file (flock): held by this process until it
// is released or the process ends, however it ends, so a killed test never
// leaves a lock behind. The lock file is created for the launching user
// when missing and is never opened through a link.
class FileLock {
  public:
    enum class Outcome { acquired, held, failed };

    FileLock() = default;
    FileLock(FileLock&&) noexcept = default;
    FileLock& operator=(FileLock&&) noexcept = default;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Takes the lock at path. wait: until it is free; else an answer at
    // once, Outcome::held when another holds it. Failures say why in error.
    static FileLock acquire(const std::string& path, bool wait, Outcome* outcome,
                            std::string* error = nullptr);
    // Whether another open of the file (another process, or another lock
    // in this one) holds it now. A missing file is held by nobody.
    static bool heldElsewhere(const std::string& path);

    bool locked() const { return fd_.valid(); }
    void release() { fd_.reset(); }

    // A name for the unit at path that is the same for every path of it: a
    // block or character device by its device number ("dev-8-16"), a file
    // by its file system and inode ("file-2049-131077"), anything else by
    // the path itself with "/" made "_". Empty when path cannot be looked at.
    static std::string unitKey(const std::string& path);

  private:
    UniqueFd fd_;
};

} // namespace tolvarin
