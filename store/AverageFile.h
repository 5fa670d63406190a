#pragma once

#include "store/DataFileFormat.h"

#include <optional>
#include <string>
#include <string_view>

namespace tolvarin {

// The running averages of a unit: the first average made from a baseline
// scan, and the fold that weighs one more complete scan into an average.
// Surface and seek files follow the same steps with their own texts and
// record rules.
//
// An average file: the warning and an empty line, "SMPLSZ: n" and an empty
// line, the records, then "Surface Scan Average Complete" (or "Seek Scan
// Average Complete"), an empty line and the trailer naming the file. A first
// average also keeps the baseline's RPI lines; a fold keeps records only.
class AverageFile {
  public:
    enum class Kind { Surface, Seek };

    AverageFile() = delete;

    // First average (createNewSSAFileWithFileName:usingFile: and the seek
    // twin): the baseline's lines up to its completion line, under
    // "SMPLSZ: 1". Written as a whole (temporary file renamed over the
    // target). Answers false, writing nothing, when the baseline cannot be
    // read, is not a complete scan file, or the write fails; the reason goes
    // to the console.
    static bool createFirstAverage(Kind kind, const std::string& averagePath,
                                   const std::string& scanPath);
    // Fold (createNewSSTFileWithFileName:usingAverageFile:andCSSFile: and
    // the seek twin): a new average of sample size n + 1 from an average of
    // size n and a complete current scan. Each average record is combined
    // with the current record of the same index; an average record the
    // current scan has no record for (a shorter current file) is carried
    // over unchanged, so the fold never loses a section's history, and
    // current records the average has no place for are left out. Answers
    // false, writing nothing, when a file cannot be read, the average names
    // no usable sample size, or the write fails.
    static bool fold(Kind kind, const std::string& newPath, const std::string& averagePath,
                     const std::string& currentPath);

    // The texts behind the two files above; fileName is the name the
    // trailer gives. nullopt, with the reason in why, where the file
    // operations answer false.
    static std::optional<std::string> firstAverageText(Kind kind, std::string_view scanText,
                                                       const std::string& fileName,
                                                       std::string* why = nullptr);
    static std::optional<std::string> foldText(Kind kind, std::string_view averageText,
                                               std::string_view currentText,
                                               const std::string& fileName,
                                               std::string* why = nullptr);

    // The largest sample size kept: beyond it (a scan a day for thousands
    // of years) the weights stop growing instead of overflowing.
    static constexpr int kMaxSampleSize = 1000000;

    // The number after the first "SMPLSZ:" line, from 1 to kMaxSampleSize;
    // nullopt otherwise.
    static std::optional<int> sampleSize(std::string_view averageText);

    // ((n - 1) x average + current) / n. A weight below 1 leaves no history
    // to keep, so the current value is the answer.
    static double combineValue(double current, double average, double n);
    // The combination rules of one record: index, slowest position, flags
    // and counts from the current record; times combined; a surface mean or
    // spread that either side could not measure makes the new record's mean
    // and spread unknown ("A:N/A S:N/A") while its other times are still
    // combined; an unmeasured seek pair on either side gives the unmeasured
    // record with the current index.
    static SurfaceRecord combineSurface(const SurfaceRecord& current, const SurfaceRecord& average,
                                        double n);
    static SeekRecord combineSeek(const SeekRecord& current, const SeekRecord& average, double n);

    // The texts a kind uses.
    static std::string_view completeLine(Kind kind);        // "Surface Scan Complete"
    static std::string_view averageCompleteLine(Kind kind); // "Surface Scan Average Complete"
    static std::string_view scanWord(Kind kind);            // "Surface Scan"
};

} // namespace tolvarin
