#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvarin {

// One surface record: a scan section's statistics as the surface scan files
// and the surface averages hold them (keys in comments). Unmeasured values
// carry DataFileFormat::kNotMeasured.
struct SurfaceRecord {
    int index = 0;               // I
    double minTime = 0;          // MN
    double maxTime = 0;          // MX
    int64_t maxTimePosition = 0; // MXP
    double avgTime = 0;          // A
    double stdDev = 0;           // S
    double totalTime = 0;        // T
    int clean = 1;               // O
    int passed = 1;              // E
    int irregularityCount = 0;   // OC
    int errorCount = 0;          // EC

    // Both the mean and the spread were measured (neither written "N/A").
    bool meanKnown() const;
};

// One seek record: a location pair's timings as the seek files and the seek
// averages hold them.
struct SeekRecord {
    int index = 0;        // I
    double minTime = 0;   // MN
    double maxTime = 0;   // MX
    double avgTime = 0;   // AV
    double totalTime = 0; // T
    int clean = 1;        // O
    int passed = 1;       // E

    // The pair was measured (its timings are not "N/A").
    bool measured() const;
};

// One line of a data file and whether it ended with its newline.
struct DataFileLine {
    std::string_view text;
    bool terminated = false;
};

// The rules every data file of a unit shares: the warning that opens it, the
// trailer that closes it, and the record lines of the scan and average files.
// Numbers are read and written without regard to the process locale, so that
// a desktop session's decimal comma never reaches a data file.
class DataFileFormat {
  public:
    DataFileFormat() = delete;

    static constexpr std::string_view kWarningLine =
        "***** IMPORTANT: DO NOT EDIT, RENAME, OR DELETE THIS FILE!!!! *****";
    // How much of the first line the integrity check compares.
    static constexpr std::size_t kWarningCompared = 65;
    static constexpr std::string_view kTrailerStart = "END OF FILE ";
    // Stands for a value that was not measured ("N/A" in the files).
    static constexpr double kNotMeasured = 9.999e99;
    // Anything above this is taken as not measured.
    static constexpr double kNotMeasuredThreshold = 9.99e99;
    static constexpr std::string_view kNotAvailable = "N/A";
    // Whether an index stands for "not measured": not finite, or the marker
    // itself. A measured index can be as large (a failed seek pair weighs
    // in with the marker's size) and is shown as the number it is.
    static bool isNotMeasured(double value) {
        return !(value == value) || value - value != 0.0 ||
               (value >= kNotMeasured * (1 - 1e-9) && value <= kNotMeasured * (1 + 1e-9));
    }

    // The warning line and an empty line: the first 69 bytes of every file.
    static std::string header();
    // "END OF FILE " + fileName (no newline).
    static std::string trailer(const std::string& fileName);
    // Whether the text opens with the warning line and an empty line.
    static bool hasHeader(std::string_view text);

    // The lines of text; a last line without its newline is kept (as not
    // terminated), an empty text has no lines.
    static std::vector<DataFileLine> splitLines(std::string_view text);
    static bool startsWith(std::string_view text, std::string_view prefix);

    // The text after key of the first blank-separated field that begins
    // with key ("MN:"); nullopt when the line has no such field.
    static std::optional<std::string_view> fieldValue(std::string_view line, std::string_view key);
    // Whole-text number conversions: the value must take all of text.
    static std::optional<int64_t> parseInteger(std::string_view text);
    static std::optional<double> parseDouble(std::string_view text);

    // A record line (without its newline) read strictly: every field present
    // once in its key's form, numbers whole and finite, flags 0 or 1, counts
    // and times not negative. nullopt for anything else.
    static std::optional<SurfaceRecord> parseSurfaceRecord(std::string_view line);
    static std::optional<SeekRecord> parseSeekRecord(std::string_view line);

    // The record in the scans' own layout, single blanks between fields, no
    // newline: "I:%d MN:%f MX:%f MXP:%lld A:%f S:%f T:%f O:%d E:%d OC:%d EC:%d",
    // with "A:N/A S:N/A" when the mean is unknown; "I:%d MN:%f MX:%f AV:%f
    // T:%f O:%d E:%d", or "I:%d MN:N/A MX:N/A AV:N/A T:N/A O:1 E:0".
    static std::string formatSurfaceRecord(const SurfaceRecord& record);
    static std::string formatSeekRecord(const SeekRecord& record);
    // "%f": fixed notation with six decimals.
    static std::string formatFixed(double value);
};

} // namespace tolvarin
