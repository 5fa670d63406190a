#pragma once

#include <string>

namespace tolvarin {

class Quarrykit;
class ScanController;

// The files of one unit in the data directory, each named file prefix +
// suffix, and the deletions that work on the unit as a whole. The scan
// controller forwards deleteAllFilesWithFilePrefix and
// deleteInitialScanFilesWithFilePrefix here.
class DataFileSet {
  public:
    DataFileSet(std::string tolvarinDir, std::string filePrefix);

    const std::string& tolvarinDir() const { return tolvarinDir_; }
    const std::string& filePrefix() const { return filePrefix_; }

    // A prefix the set can work with: not empty, no "/" and no "." (the
    // prefix is a header name up to its first "."), so it can only name this
    // unit's files inside the data directory.
    static bool isUsablePrefix(const std::string& filePrefix);
    bool usable() const { return isUsablePrefix(filePrefix_); }

    // tolvarinDir + "/" + filePrefix + suffix.
    std::string pathFor(const std::string& suffix) const;
    std::string hdrFile() const { return pathFor(".hdr"); }
    std::string sizFile() const { return pathFor(".siz"); }
    std::string ssxFile() const { return pathFor(".ssx"); }
    std::string skxFile() const { return pathFor(".skx"); }
    std::string issFile() const { return pathFor(".iss"); }
    std::string ssaFile() const { return pathFor(".ssa"); }
    std::string iskFile() const { return pathFor(".isk"); }
    std::string skaFile() const { return pathFor(".ska"); }
    std::string cssFile() const { return pathFor(".css"); }
    std::string pssFile() const { return pathFor(".pss"); }
    std::string cskFile() const { return pathFor(".csk"); }
    std::string pskFile() const { return pathFor(".psk"); }
    std::string sstFile() const { return pathFor(".sst"); }
    std::string sktFile() const { return pathFor(".skt"); }
    std::string diaFile() const { return pathFor(".dia"); }

    // Sets the controller's eleven scan, average and history paths (the
    // index files are found through the prefix).
    void assignTo(ScanController& controller) const;

    // Whether a name in the data directory is one of this unit's files: the
    // prefix followed by a ".". A unit whose prefix merely begins like this
    // one is another unit.
    bool holdsName(const std::string& name) const;

    // deleteAllFilesWithFilePrefix without the backups: every file of the
    // unit in the data directory, its header included. Answers how many were
    // deleted. An unusable prefix deletes nothing.
    int deleteUnitFiles(Quarrykit& quarrykit) const;
    // deleteInitialScanFilesWithFilePrefix: the two baselines, ".iss" and
    // ".isk"; the averages and everything else stay.
    void deleteInitialScanFiles(Quarrykit& quarrykit) const;

  private:
    std::string tolvarinDir_;
    std::string filePrefix_;
};

} // namespace tolvarin
