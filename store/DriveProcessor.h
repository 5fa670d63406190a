#pragma once

#include "base/Clock.h"
#include "base/Media.h"
#include "store/CurrentDriveInfo.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tolvarin {

class Quarrykit;

// Turns the application's media list into one-line descriptors (one per disk,
// one per volume) and groups them into drive entries: the identity of each
// unit that the data store compares with its stored drive headers. The
// descriptor texts are a stored format.
//
// Built with a Quarrykit object it also keeps the catalogue of the data
// directory: it clears scratch files, matches every drive entry to its drive
// header file and writes a header, under the next unit number, for every
// drive seen for the first time. A new object is made at each test start.
class DriveProcessor {
  public:
    using DriveEntry = std::vector<std::string>;

    // The data directory below the home directory.
    static constexpr const char* kDataDirectoryTail = "/Library/Application Support/Tolvarin";
    // Unit numbers are two digits.
    static constexpr int kMaximumUnits = 99;
    // A header line is read in pieces of at most this many bytes.
    static constexpr size_t kHeaderLineLength = 1023;
    // A drive header holds a few short lines; a file far larger than that
    // is not one, and is not read into memory.
    static constexpr size_t kMaximumHeaderBytes = 64 * 1024;

    DriveProcessor() = default;
    // Builds the drive list only (extractPrimaryDriveInfo, extractVolumeInfo,
    // createDriveList); no data directory is touched.
    DriveProcessor(const std::vector<Media>& driveData, const std::string& userID,
                   const std::string& homeDir);
    // initWithDriveData:UserID:HomeDir:andQuarrykit: the time stamp, the data
    // directory (created when missing), the drive list, then the catalogue:
    // every drive matched to its header, headers made for new drives. An
    // unusable data directory or a 100th unit leaves catalogueReady() false
    // and exitStatus() 1. The Quarrykit object and the clock (the time
    // stamps of new headers) are not owned and must outlive this one. An
    // empty home directory means the launching user's.
    DriveProcessor(const std::vector<Media>& driveData, const std::string& userID,
                   const std::string& homeDir, Quarrykit& quarrykit,
                   const Clock& clock = Clock::system());

    // --- drive list ----------------------------------------------------------

    // One disk descriptor per whole disk, in list order.
    void extractPrimaryDriveInfo(const std::vector<Media>& media);
    // One volume descriptor per volume, in list order.
    void extractVolumeInfo(const std::vector<Media>& media);
    // One entry per disk ("disk:SIZE" and the descriptors of its volumes, or
    // the disk's own identity line when it has none), then one entry per
    // volume ("volume:SIZE" and its descriptor).
    void createDriveList();

    // DISK:id DES:D IFC:code SIZE:size
    static std::string diskDescriptor(const Media& disk);
    // DISK:id DES:V IFC:code UUID:uuid PART:part SIZE:size
    static std::string volumeDescriptor(const Media& volume);
    // The identity line of a disk without volumes, built like a volume
    // descriptor from the disk itself:
    // DISK:id DES:D IFC:code UUID:uuid PART: SIZE:size
    static std::string diskIdentityLine(const Media& disk);
    // The target drive description of a unit among media: "disk:SIZE" or
    // "volume:SIZE", then the identity part (from "UUID:" on) of the
    // descriptor of each volume, or of the disk's own identity line. Built
    // from the descriptors above, so that a unit is always recognised by
    // its header.
    static std::vector<std::string> targetDriveInfoFor(const Media& unit,
                                                       const std::vector<Media>& media);
    // ATA, SAT, USB, FIR or UND for the shown interface text.
    static std::string interfaceCode(const std::string& interfaceType);
    // Every field of a record on standard output, one item per line.
    static void printMediaStructure(const Media& media);
    static void dumpCurrentMediaArray(const std::vector<Media>& media);
    void showUserData() const;

    // --- catalogue -----------------------------------------------------------

    // The directory exists (not as a link) or could be made, and this process
    // can create files in it.
    bool verifyTolvarinDirectory(const std::string& path);
    // timeStamp: "12-06-2026 18:35:54" (month-day-year time).
    void setTimeStamp();
    // fileDateString: "12-06-2026-18-35-54" (month-day-year-hour-minute-second).
    void setFileDateString();
    // Deletes scratch files (".tmp", ".cur"), lists the valid headers, finds
    // the header of every drive entry and creates headers for the others.
    void obtainValidDataFiles();
    // Gives the entry the next unit number and writes its header. Answers
    // false, writing nothing, for an entry that could not be recognised again
    // (no identity line, a line without "UUID:"), when the header cannot be
    // written, or after the 100th unit's fatal end.
    bool createNewDataFile(const DriveEntry& driveEntry);
    // False when a fatal condition stopped the catalogue (tests only: a real
    // run has ended by then).
    bool catalogueReady() const { return catalogueReady_; }
    // Non-zero when the program must end (an unusable data directory, a
    // unit beyond the last prefix): the owner ends it with this status.
    int exitStatus() const { return exitStatus_; }
    static constexpr int kFatalExitStatus = 1;
    // What stopped the catalogue: the reason the data directory cannot be
    // used, or the unit limit.
    const std::string& problem() const { return problem_; }
    bool unitLimitReached() const { return unitLimitReached_; }
    // The clock of the time stamps; it must outlive this object.
    void setClock(const Clock& clock) { clock_ = &clock; }

    // The header line that stands for one identity line of a drive entry:
    // "UUID:" and what follows the line's first "UUID:" (empty when the line
    // has none). A target drive description of the unit uses the same line.
    static std::string headerLineFor(const std::string& identityLine);
    // A name the catalogue takes for a drive header: ".hdr", a leading "M",
    // and exactly nine "-"-separated fields.
    static bool isHeaderName(const std::string& name);
    // The lines of a header file as the matching reads them (long lines cut
    // into pieces of kHeaderLineLength bytes, line ends removed). A file that
    // cannot be read, or is far too large to be a header, has no lines.
    static std::vector<std::string> readHeaderLines(const std::string& path);
    // Whether headerLines identify entry: line 0 is a line of the header and
    // each identity line's "UUID:value" begins a header line as a whole word.
    static bool headerMatchesEntry(const std::vector<std::string>& headerLines,
                                   const DriveEntry& entry);
    // The unit number the two characters after the leading "M" give (0 when
    // they hold no digits).
    static int unitNumberOfHeaderName(const std::string& name);

    // --- accessors -----------------------------------------------------------

    const std::vector<Media>& driveData() const { return driveData_; }
    const std::string& userID() const { return userID_; }
    const std::string& homeDir() const { return homeDir_; }
    void setHomeDir(const std::string& value) { homeDir_ = value; }
    const std::vector<std::string>& primaryDrives() const { return primaryDrives_; }
    void setPrimaryDrives(const std::vector<std::string>& value) { primaryDrives_ = value; }
    const std::vector<std::string>& volumes() const { return volumes_; }
    void setVolumes(const std::vector<std::string>& value) { volumes_ = value; }
    const std::vector<DriveEntry>& driveList() const { return driveList_; }
    void setDriveList(const std::vector<DriveEntry>& value) { driveList_ = value; }

    const std::string& tolvarinDir() const { return tolvarinDir_; }
    void setTolvarinDir(const std::string& value) { tolvarinDir_ = value; }
    const std::string& fileDateString() const { return fileDateString_; }
    const std::string& timeStamp() const { return timeStamp_; }
    // "NAME.hdr:COUNT", one per valid header, COUNT its "UUID:" lines.
    const std::vector<std::string>& validDataFiles() const { return validDataFiles_; }
    void setValidDataFiles(const std::vector<std::string>& value) { validDataFiles_ = value; }
    using DataFileList = std::vector<std::shared_ptr<CurrentDriveInfo>>;
    const DataFileList& currentDataFiles() const { return currentDataFiles_; }
    const std::vector<DriveEntry>& dataFilesDoNotExist() const { return dataFilesDoNotExist_; }
    int lastMediaCount() const { return lastMediaCount_; }
    void setLastMediaCount(int value) { lastMediaCount_ = value; }
    // Not owned.
    Quarrykit* quarrykit() const { return quarrykit_; }
    void setQuarrykit(Quarrykit* value) { quarrykit_ = value; }

  private:
    // Ends the process with status 1 after the data directory or unit limit
    // failed; answers when a test's exit hook returned.
    void endFatally();

    std::vector<Media> driveData_;
    std::string userID_;
    std::string homeDir_;
    std::vector<std::string> primaryDrives_;
    std::vector<std::string> volumes_;
    std::vector<DriveEntry> driveList_;
    DriveEntry driveEntry_;
    // Identity lines of the disks, by disk identifier, for disks that turn
    // out to have no volume.
    std::map<std::string, std::string> diskIdentities_;

    std::string tolvarinDir_;
    std::string fileDateString_;
    std::string timeStamp_;
    Quarrykit* quarrykit_ = nullptr;
    const Clock* clock_ = &Clock::system();
    std::vector<std::string> validDataFiles_;
    DataFileList currentDataFiles_;
    std::vector<DriveEntry> dataFilesDoNotExist_;
    int lastMediaCount_ = 0;
    bool catalogueReady_ = false;
    int exitStatus_ = 0;
    std::string problem_;
    bool unitLimitReached_ = false;
};

} // namespace tolvarin
