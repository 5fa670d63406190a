#include "store/TestFileBackup.h"

#include "logging/Logger.h"
#include "platform/SafeFile.h"
#include "platform/System.h"
#include "store/DataFileSet.h"
#include "store/IntegrityChecker.h"
#include "store/Quarrykit.h"

#include <algorithm>

namespace tolvarin {

TestFileBackup::TestFileBackup(Quarrykit& quarrykit, const std::string& tolvarinDir)
    : quarrykit_(quarrykit), tolvarinDir_(tolvarinDir) {}

std::string TestFileBackup::backupDirectory() const {
    return tolvarinDir_ + "/prev";
}

std::vector<std::string> TestFileBackup::unitFilesIn(const std::string& directory,
                                                     const std::string& prefix, bool regularOnly) {
    std::vector<std::string> names;
    quarrykit_.setDirContents(directory);
    for (const std::string& name : quarrykit_.dirContents()) {
        if (DataFileSet(directory, prefix).holdsName(name) &&
            (!regularOnly || quarrykit_.isFile(directory + "/" + name))) {
            names.push_back(name);
        }
    }
    return names;
}

bool TestFileBackup::backupCurrentTestFilesWithFilePrefix(const std::string& prefix) {
    std::string prev = backupDirectory();
    quarrykit_.makeDirectoryAtPath(prev);
    Logger::adjustFileOwnershipOnFile(prev);
    deleteCurrentBackupFilesWithFilePrefix(prefix);
    bool all = true;
    for (const std::string& name : unitFilesIn(tolvarinDir_, prefix, true)) {
        all = quarrykit_.copyFileFrom(tolvarinDir_ + "/" + name, prev + "/" + name, true) && all;
    }
    if (!all) {
        System::consoleLog("Backup of " + prefix + " is incomplete.");
    }
    return all;
}

bool TestFileBackup::restorePreviousTestFilesWithFilePrefix(const std::string& prefix) {
    std::string prev = backupDirectory();
    std::vector<std::string> backups = unitFilesIn(prev, prefix, true);
    if (backups.empty()) {
        Logger::updateLog("SCAN CONTROLLER: No backup files were found for this unit; its "
                          "current files were kept.");
        return false;
    }
    for (const std::string& name : backups) {
        if (!quarrykit_.copyFileFrom(prev + "/" + name, tolvarinDir_ + "/" + name, true)) {
            Logger::updateLog("SCAN CONTROLLER: Could not restore the backup file " + name +
                              "; the backup files were kept.");
            return false;
        }
    }
    bool all = true;
    for (const std::string& name : unitFilesIn(tolvarinDir_, prefix, false)) {
        if (std::find(backups.begin(), backups.end(), name) == backups.end()) {
            all = IntegrityChecker::deleteFileAsDirected(quarrykit_, tolvarinDir_ + "/" + name) &&
                  all;
        }
    }
    for (const std::string& name : backups) {
        quarrykit_.deleteFile(prev + "/" + name);
    }
    return all;
}

bool TestFileBackup::deleteCurrentBackupFilesWithFilePrefix(const std::string& prefix) {
    std::string prev = backupDirectory();
    // A copy cut short by a kill leaves its temporary file behind; those of
    // other units may be copies under way in their own tests.
    SafeFile::removeStaleTemporaries(prev, [&prefix](const std::string& name) {
        return name.compare(0, prefix.size() + 2, "." + prefix + ".") != 0;
    });
    bool all = true;
    for (const std::string& name : unitFilesIn(prev, prefix, false)) {
        all = quarrykit_.deleteFile(prev + "/" + name) && all;
    }
    return all;
}

} // namespace tolvarin
