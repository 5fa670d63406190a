#pragma once

#include <string>
#include <vector>

namespace tolvarin {

class Quarrykit;

// The backups that let a stopped normal scan give the unit back exactly as it
// was: before a scan the unit's files are copied into the "prev" directory of
// the data directory, and the stop dialog either drops the copies or puts
// them back. The files of all units lie side by side there, told apart by
// their prefix. The scan controller forwards
// backupCurrentTestFilesWithFilePrefix:, restorePreviousTestFilesWithFilePrefix:
// and deleteCurrentBackupFilesWithFilePrefix: here.
//
// Every copy replaces its target as a whole (a temporary file renamed over
// it), so an interruption leaves each file old or new, never torn.
class TestFileBackup {
  public:
    // quarrykit is not owned and must outlive the object.
    TestFileBackup(Quarrykit& quarrykit, const std::string& tolvarinDir);

    // The data directory + "/prev".
    std::string backupDirectory() const;

    // Copies every file of the unit into the backup directory (created when
    // missing). The unit's older backups go first, so the backup is exactly
    // the unit as it is now: a file left there by an earlier, interrupted run
    // must not come back at a restore. Answers false when a copy failed.
    bool backupCurrentTestFilesWithFilePrefix(const std::string& prefix);

    // Puts the backup back in place of the unit's files: each backup file is
    // copied over its namesake, then the unit's files that have no backup
    // are deleted (each deletion logged) and the backup copies removed. When
    // the backup directory holds no file of the unit, the unit's files are
    // kept as they are: deleting them would leave the unit with nothing. A
    // copy that fails stops the restore before anything is deleted. Answers
    // whether the unit now holds its backed-up files.
    bool restorePreviousTestFilesWithFilePrefix(const std::string& prefix);

    // Removes the unit's backup files.
    bool deleteCurrentBackupFilesWithFilePrefix(const std::string& prefix);

  private:
    // The unit's names in directory; regularOnly leaves out anything that is
    // not a regular file (a planted link is never copied).
    std::vector<std::string> unitFilesIn(const std::string& directory, const std::string& prefix,
                                         bool regularOnly);

    Quarrykit& quarrykit_;
    std::string tolvarinDir_;
};

} // namespace tolvarin
