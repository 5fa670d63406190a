#include "app/UnitForgetter.h"

#include "app/GUIController.h"
#include "logging/MessageCenter.h"
#include "platform/FileLock.h"
#include "platform/Paths.h"
#include "store/DataFilePrefix.h"
#include "store/DriveProcessor.h"
#include "store/MeasurementFile.h"
#include "store/TestLocks.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tolvarin {

namespace {

constexpr int kForgetMessage = 1015;

bool isRegularFile(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The names in dir that belong to prefix: "PREFIX.*" and the hidden
// temporaries ".PREFIX.*" a killed replacement leaves.
std::vector<std::string> namesOf(const std::string& dir, const std::string& prefix) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        std::string name = entry.path().filename().string();
        if (name.rfind(prefix + ".", 0) == 0 || name.rfind("." + prefix + ".", 0) == 0) {
            names.push_back(name);
        }
    }
    return names;
}

} // namespace

UnitForgetter::Result UnitForgetter::forgetSelectedUnit() {
    Result result;
    std::string home = hub_.userHomeDir();
    const std::string dir =
        (home.empty() ? Paths::homeDirectory() : home) + DriveProcessor::kDataDirectoryTail;
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0) {
        result.outcome = Outcome::nothingStored;
        return result;
    }
    if (!S_ISDIR(st.st_mode)) {
        result.problem = "The data directory could not be used: " + dir + " is not a folder.";
        return result;
    }

    FileLock::Outcome locked = FileLock::Outcome::failed;
    std::string error;
    FileLock catalogue =
        FileLock::acquire(TestLocks::catalogueLockPath(dir), true, &locked, &error);
    if (locked != FileLock::Outcome::acquired) {
        result.problem = "The data directory could not be used: " + error;
        return result;
    }
    const std::vector<std::string> target = hub_.selection().targetDriveInfo();
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        std::string path = entry.path().string();
        if (entry.path().extension() == ".hdr" && isRegularFile(path) &&
            DataFilePrefix::headerMatches(DataFilePrefix::headerLines(path), target)) {
            result.prefix = DataFilePrefix::prefixOfPath(path);
            break;
        }
    }
    if (result.prefix.empty()) {
        result.outcome = Outcome::nothingStored;
        return result;
    }
    FileLock unit =
        FileLock::acquire(TestLocks::unitLockPath(dir, result.prefix), false, &locked, &error);
    if (locked == FileLock::Outcome::held) {
        result.problem = "Another test is using the data files of this unit (" + result.prefix +
                         "); nothing was removed.";
        return result;
    }
    if (locked != FileLock::Outcome::acquired) {
        result.problem = "The data directory could not be used: " + error;
        return result;
    }
    if (MessageCenter::generateAlertDialogWithNumber(kForgetMessage) !=
        MessageCenter::kDefaultAnswer) {
        result.outcome = Outcome::cancelled;
        return result;
    }

    // Backups first and the header last: a removal cut short leaves a unit
    // that is still recognised and can be forgotten again.
    const std::string header = dir + "/" + result.prefix + ".hdr";
    std::vector<std::string> paths;
    // The unit's measurement files and their folder go first: they only
    // describe tests the other files record.
    const std::string measurements = MeasurementArchive(dir, result.prefix).folder();
    if (::lstat(measurements.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(measurements, ec)) {
            paths.push_back(entry.path().string());
        }
        paths.push_back(measurements);
    }
    for (const std::string& name : namesOf(dir + "/prev", result.prefix)) {
        paths.push_back(dir + "/prev/" + name);
    }
    for (const std::string& name : namesOf(dir, result.prefix)) {
        if (dir + "/" + name != header) {
            paths.push_back(dir + "/" + name);
        }
    }
    paths.push_back(header);
    for (const std::string& path : paths) {
        if (::lstat(path.c_str(), &st) != 0) {
            continue;
        }
        int gone = S_ISDIR(st.st_mode) ? ::rmdir(path.c_str()) : ::unlink(path.c_str());
        if (gone != 0) {
            result.problem = "Could not remove " + path + ": " + std::strerror(errno);
            return result;
        }
        ++result.removed;
    }
    ::unlink(TestLocks::unitLockPath(dir, result.prefix).c_str());
    result.outcome = Outcome::forgotten;
    return result;
}

} // namespace tolvarin
