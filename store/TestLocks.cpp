#include "store/TestLocks.h"

#include "platform/FileLock.h"

namespace tolvarin {

std::string TestLocks::catalogueLockPath(const std::string& tolvarinDir) {
    return tolvarinDir + "/.catalogue.lock";
}

std::string TestLocks::unitLockPath(const std::string& tolvarinDir, const std::string& filePrefix) {
    return tolvarinDir + "/." + filePrefix + ".lock";
}

std::string TestLocks::deviceLockPath(const std::string& tolvarinDir, const std::string& key) {
    return tolvarinDir + "/.unit-" + key + ".lock";
}

bool TestLocks::unitUnderTest(const std::string& tolvarinDir, const std::string& filePrefix) {
    return !filePrefix.empty() && FileLock::heldElsewhere(unitLockPath(tolvarinDir, filePrefix));
}

std::string TestLocks::prefixOfName(const std::string& name) {
    std::string bare = !name.empty() && name.front() == '.' ? name.substr(1) : name;
    return bare.substr(0, bare.find('.'));
}

} // namespace tolvarin
