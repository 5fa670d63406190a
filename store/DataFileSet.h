#pragma once

#include <string>

namespace tolvarin {

class Quarrykit;

// The files of one unit in the data directory: the one place that knows
// their names (file prefix + suffix), their bits in the unit's device state,
// the named states of the normal sequence, and the deletions that work on
// the unit as a whole. The scan controller and the integrity checker hold
// one instead of paths of their own.
class DataFileSet {
  public:
    // The bit of each data file in the device state.
    enum Bit : int {
        hdr = 1,
        siz = 2,
        ssx = 4,
        skx = 8,
        iss = 16,
        ssa = 32,
        isk = 64,
        ska = 128,
        css = 256,
        pss = 512,
        csk = 1024,
        psk = 2048,
        sst = 4096,
        skt = 8192,
    };
    // Device states the normal sequence starts from or passes through
    // (sums of the bits); newSurfaceScan and newSeekScan are working values
    // that name the phase to start, not a set of files.
    struct State {
        static constexpr int headerOnly = hdr;
        static constexpr int baseFiles = hdr | siz | ssx | skx;
        static constexpr int initialSurfaceUnderWay = baseFiles | iss;
        static constexpr int initialSurfaceDone = initialSurfaceUnderWay | ssa;
        static constexpr int initialSeekUnderWay = initialSurfaceDone | isk;
        static constexpr int initialScansDone = initialSeekUnderWay | ska;
        static constexpr int atRest = initialScansDone | css | csk;
        static constexpr int newSurfaceScan = pss | csk;
        static constexpr int surfaceUnderWay = atRest | pss;
        static constexpr int newSeekScan = psk | sst;
        static constexpr int surfaceFolded = surfaceUnderWay | sst;
        static constexpr int seekUnderWay = atRest | psk;
        static constexpr int seekFolded = seekUnderWay | skt;
    };

    static_assert(State::atRest == 1535 && State::surfaceFolded == 6143 &&
                  State::seekUnderWay == 3583 && State::seekFolded == 11775);

    DataFileSet() = default;
    DataFileSet(std::string tolvarinDir, std::string filePrefix);

    // The bit of a data-file suffix (".hdr" 1 ... ".skt" 8192), 0 for any
    // other suffix.
    static int stateBitForSuffix(const std::string& suffix);
    // The device state: the sum of the bits of the unit's files that the
    // data directory holds. Without a usable prefix, 0.
    int deviceState(Quarrykit& quarrykit) const;

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
