#pragma once

#include "store/DataFileSet.h"
#include "store/FileProcessor.h"

#include <string>
#include <string_view>
#include <vector>

namespace tolvarin {

class Quarrykit;

// Checks, before a normal scan, that every data file the unit's device state
// claims is whole (its warning line and its trailer), and rolls a damaged
// unit back to the nearest state the normal sequence can continue from: it
// asks the user (messages 1008 to 1013), deletes the damaged file and what was
// derived from it, rebuilds what sound files allow, and reports the new
// state. All of it happens in the constructor; afterwards the checker only
// answers deviceState() and resetFlag(). A refusal touches no file and sets
// the reset flag, and so does a rollback that could not be carried out.
//
// Choices where the design leaves room or would go wrong:
// - a damaged ".ska" in the later states is rebuilt as the first average of
//   the sound ".isk", so the unit keeps a usable average (state 1535);
// - a sound state 11775 (seek scan done, seek fold written) loses its ".skt"
//   and continues from 3583, where the fold is made again; going to 2047
//   would fold the surface scan into the averages a second time;
// - after the user refuses a rollback (or the base files fail), nothing more
//   is checked, rebuilt or asked: the scan is refused anyway;
// - the unit's files are the names that begin with the prefix and a dot, so
//   another unit's files never count, and an empty prefix matches nothing.
class IntegrityChecker {
  public:
    // The process status when the user has the unit's files deleted after
    // message 1008: the test did not run, which a script must not read as a
    // success.
    static constexpr int kCorruptIndexExitStatus = 3;

    // What the file check found wrong.
    enum class FileCheck { Sound, BadHeader, BadTrailer };

    // initWithDeviceState:Path:Quarrykit:andPrefix: runs the whole check.
    // quarrykit is not owned and must outlive the call.
    IntegrityChecker(int deviceState, const std::string& tolvarinDir, Quarrykit& quarrykit,
                     const std::string& filePrefix);

    int deviceState() const { return deviceState_; }
    void setDeviceState(int value) { deviceState_ = value; }
    bool resetFlag() const { return resetFlag_; }
    // Non-zero when the program must end with this status (the user chose
    // to delete a unit whose index files are corrupt); the owner ends it.
    int exitStatus() const { return exitStatus_; }

    // The four base files, in order; the first failure answers false.
    bool checkBaseFiles();
    // The unit's file with this suffix is readable and whole.
    bool checkSingleFileWithSuffix(const std::string& suffix);
    // The check on a file's text: the first 65 bytes of its first line are
    // the warning's, and its last line begins "END OF FILE " + fileName.
    static FileCheck checkFileText(std::string_view text, const std::string& fileName);
    // What makes the content of a whole file unusable, or an empty text: in
    // scan and average files a record or index that no measurement gives
    // (nan, inf, a negative time, a torn or unknown field); in the seek
    // index a location count the seek scan does not take (2 to 1000) or
    // locations beyond the size the sizing file records; in the sizing file
    // sizes that are not whole numbers. sizingText is the ".siz" text for
    // the seek index's check (empty: not checked against a size).
    static std::string contentProblem(std::string_view text, const std::string& suffix,
                                      std::string_view sizingText = {});
    // The data files in dir (and its backup folder "prev") of units whose
    // drive header is missing or is no regular file: no test can use them
    // again. Units under test are left out. Paths, sorted.
    static std::vector<std::string> orphanedFiles(const std::string& dir);
    // The seek scan's bounds on the number of seek locations.
    static constexpr int kMinSeekLocations = 2;
    static constexpr int kMaxSeekLocations = 1000;

    // The prompts of the early states. Each asks its message; answer 1
    // deletes and sets the new state (answer true), anything else logs the
    // refusal and sets the reset flag (answer false).
    bool check31();
    bool check63();
    bool check127iss();
    bool check127isk();
    bool check255iss();
    bool check255isk();

    // Deletes the unit's file with this suffix and logs it. A file that is
    // not there is not a failure.
    bool deleteSingleFileForUnitWithSuffix(const std::string& suffix);
    // Deletes every file of the unit in the data directory, logging each.
    bool deleteFilesForUnit();
    // Deletes one file through quarrykit and logs the deletion the user
    // asked for ("SCAN CONTROLLER: Deleted file ... as directed by user"), or
    // the failure. Shared with the restore of the backups.
    static bool deleteFileAsDirected(Quarrykit& quarrykit, const std::string& path);
    // The unit's files.
    const DataFileSet& files() const { return files_; }

  private:
    void runCheck();
    // Entries at the unit's names that are no regular files (a folder, a
    // link) are named in the log and, when the user agrees (1013), removed;
    // answers false when the check ends there.
    bool removeStrayEntries();
    void checkEarlyState();
    void checkLaterState();
    bool prompt(int message, const char* firstLine, const char* secondLine, const char* abortLine);
    void deleteAll(const std::vector<std::string>& suffixes);
    // Removes a fold the sequence makes again, without asking.
    bool discard(const std::string& suffix);
    // The rebuilds; each answers whether the file was made.
    bool rebuildSurfaceAverage();
    bool rebuildSeekAverage();
    // .css from .iss and .csk from .isk; on failure neither is left.
    bool rebuildCurrentFiles();
    void refuse(const char* line);
    std::string pathFor(const std::string& suffix) const { return files_.pathFor(suffix); }

    DataFileSet files_;
    Quarrykit& quarrykit_;
    FileProcessor fileProcessor_;
    int deviceState_ = 0;
    bool resetFlag_ = false;
    int exitStatus_ = 0;
};

} // namespace tolvarin
