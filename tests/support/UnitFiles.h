#pragma once

#include "tests/support/TempDir.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tolvarin {

// The data files of one unit in a test's data directory, built as the scans
// and the store would have left them in any device state of the normal
// sequence: sound index files, complete or stopped scan files with their own
// values, averages made and folded by the store itself.
class UnitFiles {
  public:
    static constexpr const char* kPrefix = "M01-D-SAT-12-06-2026-18-35-54";
    static constexpr int kSections = 3;
    static constexpr int kPairs = 3;

    explicit UnitFiles(std::string directory, std::string prefix = kPrefix);

    const std::string& directory() const { return directory_; }
    const std::string& prefix() const { return prefix_; }
    std::string path(const std::string& suffix) const;
    std::string name(const std::string& suffix) const { return prefix_ + suffix; }

    void write(const std::string& suffix, const std::string& text) const;
    std::optional<std::string> read(const std::string& suffix) const;
    bool exists(const std::string& suffix) const;
    // The sum of the bits of the unit's files present (".hdr" 1 ... ".skt"
    // 8192).
    int stateOnDisk() const;
    // Every file of the unit with its content.
    std::map<std::string, std::string> snapshot() const;

    // Writes the files of a device state of the normal sequence (15, 31, 63,
    // 127, 255, 1535, 2047, 3583, 6143, 11775). The scans under way in 31,
    // 127, 2047 and 3583 were stopped with "Save", so their files are whole.
    void makeState(int state) const;

    // A surface or seek scan file: `records` records whose values depend on
    // `seed`, then either the completion (RPI lines, completion line,
    // trailer), the termination lines and trailer, or nothing more.
    enum class Ending { Complete, Terminated, None };
    static std::string surfaceScan(const std::string& fileName, int records, int seed,
                                   Ending ending);
    static std::string seekScan(const std::string& fileName, int records, int seed, Ending ending);
    // A drive header file.
    static std::string header(const std::string& fileName);

    static int bitFor(const std::string& suffix);
    static const std::vector<std::string>& suffixes();

  private:
    std::string directory_;
    std::string prefix_;
};

// Points TMPDIR at memory-backed storage (/dev/shm) for the life of the
// object, where the machine has some: the store flushes every whole file it
// writes, which costs milliseconds on a disk. Declare it before the TempDir
// members it should affect.
class MemoryBackedTemp {
  public:
    MemoryBackedTemp();

  private:
    std::unique_ptr<ScopedEnv> env_;
};

} // namespace tolvarin
