#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tolvarin {

struct ScanTables;

// Writes a unit's index files (".siz", ".ssx", ".skx"), derives one scan
// file from another, and makes and folds the running averages. Every file is
// written as a whole: into a temporary file beside it that is renamed over
// the old one, so an interruption leaves the old or the new file, never a
// torn one, and the result belongs to the launching user.
class FileProcessor {
  public:
    static constexpr int64_t kSweepSize = 1048576000;
    static constexpr int64_t kSectorSize = 512;

    // The four values of a ".siz" file.
    struct SizingValues {
        int64_t current = 0;  // CSZ
        int64_t previous = 0; // PSZ
        int64_t original = 0; // ORG
        int count = 0;        // CNT
    };

    FileProcessor() = default;

    // processSizFileWithPath:fileNamePrefix:andSize: creates directory/
    // prefix.siz with CSZ = PSZ = ORG = size and CNT 0, or brings an
    // existing one up to date: a new size, or a change the previous call
    // reported, counts one change and moves the old size to PSZ. The outcome
    // text is kept in sizingReturnString. An existing file that cannot be
    // read or lacks a value is left as it is (answer false): the sizes it
    // recorded cannot be carried over, and a fresh file would hide that.
    bool processSizFileWithPath(const std::string& directory, const std::string& prefix,
                                int64_t size);
    // processSsxFileWithPath:fileNamePrefix:andDiskStructure: the surface
    // sweep index from the unit size; also stores the sweep size, count and
    // remainder into the context. Answers false, writing nothing, for a unit
    // without a size.
    bool processSsxFileWithPath(const std::string& directory, const std::string& prefix,
                                ScanTables& disk);
    // processSkxFileWithPath:fileNamePrefix:andDiskStructure: the seek index
    // from the context's location count and unit size. Answers false,
    // writing nothing, without a location count.
    bool processSkxFileWithPath(const std::string& directory, const std::string& prefix,
                                const ScanTables& disk);

    // generateFileFromType:toType:fromFile: copies path (which ends in
    // oldSuffix) to the same path ending in newSuffix, the trailer rewritten
    // to name the copy. Only the suffix at the end of the path is replaced.
    // Answers false, writing nothing, when path does not end in oldSuffix or
    // cannot be read.
    bool generateFileFromType(const std::string& oldSuffix, const std::string& newSuffix,
                              const std::string& path);

    // The text after the last "/" (the whole path without one).
    static std::string extractLastElementOfPath(const std::string& path);

    const std::string& sizingReturnString() const { return sizingReturnString_; }
    void setSizingReturnString(const std::string& value) { sizingReturnString_ = value; }

    // --- averages (AverageFile holds the rules) ----------------------------
    bool createNewSSAFileWithFileName(const std::string& averagePath,
                                      const std::string& surfaceScanPath);
    bool createNewSKAFileWithFileName(const std::string& averagePath,
                                      const std::string& seekScanPath);
    bool createNewSSTFileWithFileName(const std::string& newAveragePath,
                                      const std::string& averagePath, const std::string& cssPath);
    bool createNewSKTFileWithFileName(const std::string& newAveragePath,
                                      const std::string& averagePath, const std::string& cskPath);
    // One combined record line (no newline) from a current and an average
    // record line; nullopt when either is not a record of its kind.
    static std::optional<std::string> calculateAveragesWithCSSString(const std::string& css,
                                                                     const std::string& ssa,
                                                                     double sampleSize);
    static std::optional<std::string> calculateAveragesWithCSKString(const std::string& csk,
                                                                     const std::string& ska,
                                                                     double sampleSize);
    static double calculateAveragesWithCSSValue(double current, double average, double sampleSize);
    static double calculateAveragesWithCSKValue(double current, double average, double sampleSize);

    // --- the texts behind the index files ---------------------------------
    // The values of a ".siz" text; nullopt when one of the four is missing
    // or not a whole number (a negative size or count included).
    static std::optional<SizingValues> readSizingValues(std::string_view text);
    // The ".siz" values after a sizing of size, and the outcome text.
    static SizingValues updatedSizingValues(const SizingValues& old, int64_t size,
                                            std::string* outcome);
    static std::string sizingFileText(const SizingValues& values, const std::string& prefix);
    static std::string ssxFileText(int64_t sweepSize, int sweepCount, int64_t lastSize,
                                   const std::string& prefix);
    static std::string skxFileText(int count, int64_t intervalSize, int64_t start, int64_t end,
                                   const std::string& prefix);

  private:
    std::string sizingReturnString_;
};

} // namespace tolvarin
