#pragma once

#include "base/TestMeasurements.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvarin {

// A test's measurements as a JSON file of its own beside the unit's data
// files: written whole (a temporary file renamed over it), read back for the
// pictures, the baseline change and the unit's history. Nothing of the
// designed data files reads it, so a damaged one costs only its pictures.
namespace MeasurementFile {

inline constexpr const char* kFormatName = "tolvarin-measurements";
// Larger files are not read (a record of 4096 stretches is about 0.5 MB).
inline constexpr size_t kMaximumBytes = 32 * 1024 * 1024;

std::string toJson(const TestMeasurements& m);
// The record in text; nullopt, with the reason in why, for anything that is
// not a whole record of this format (bad JSON, another format or version,
// stretches out of order, overlapping or beyond the unit, counts out of
// range).
std::optional<TestMeasurements> fromJson(std::string_view text, std::string* why = nullptr);

} // namespace MeasurementFile

// The measurement files of one unit: DATA/Measurements/PREFIX/, one file per
// test, named after the test's start (UTC) and kind.
class MeasurementArchive {
  public:
    static constexpr const char* kFolderName = "Measurements";

    MeasurementArchive(std::string dataDirectory, std::string filePrefix);
    // A data directory and a prefix that names one unit's files.
    bool usable() const;
    std::string folder() const;

    // Writes m as a new file (or over the file this test wrote before);
    // answers its path, or empty with the reason in why.
    std::string write(const TestMeasurements& m, std::string* why = nullptr) const;

    struct Entry {
        std::string path;
        std::shared_ptr<const TestMeasurements> test; // null: see problem
        std::string problem;
    };
    // Every file of the unit, oldest test first (files that cannot be read
    // by their name's time).
    std::vector<Entry> entries() const;

    // The change of now against the unit's baseline test and the running
    // average of the complete normal tests since, from the files of the
    // tests before now. Notes what could not be used.
    BaselineChange changeAgainstBaseline(const TestMeasurements& now) const;

    // The prefix of the stored unit whose drive header matches target (a
    // target drive description), without writing anything; empty when
    // none does.
    static std::string findPrefix(const std::string& dataDirectory,
                                  const std::vector<std::string>& target);

  private:
    std::string fileNameFor(const TestMeasurements& m) const;

    std::string dataDirectory_;
    std::string filePrefix_;
};

} // namespace tolvarin
