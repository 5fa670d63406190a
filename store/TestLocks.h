#pragma once

#include <string>

namespace tolvarin {

// Where the locks that keep tests apart live: hidden files in the data
// directory (the file utility never lists hidden names). A test holds the
// lock of its unit's device (both kinds of test) and, for a normal test,
// the lock of its file prefix; the catalogue of the data directory (scratch
// files cleared, headers matched and made, a unit's prefix lock taken) is
// built by one test start at a time under the directory's lock.
class TestLocks {
  public:
    TestLocks() = delete;

    static std::string catalogueLockPath(const std::string& tolvarinDir);
    static std::string unitLockPath(const std::string& tolvarinDir, const std::string& filePrefix);
    // key: FileLock::unitKey of the unit's device path.
    static std::string deviceLockPath(const std::string& tolvarinDir, const std::string& key);

    // Whether a test holds the unit with this prefix now.
    static bool unitUnderTest(const std::string& tolvarinDir, const std::string& filePrefix);
    // The prefix a data-directory name (or a hidden temporary copy of one,
    // ".NAME.XXXXXX") belongs to: what precedes its first ".".
    static std::string prefixOfName(const std::string& name);
};

} // namespace tolvarin
