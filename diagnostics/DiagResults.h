#pragma once

#include <cstdint>
#include <string>

namespace tolvarin {

// One finding a normal scan recorded in the unit's diagnostics history: a
// surface read that failed or was slow, or a seek pair that failed or was
// slow. Records are made by the history reader and copied into a run's
// findings list; nothing changes them afterwards.
class DiagResults {
  public:
    static constexpr const char* kSurfaceScan = "Surface Scan";
    static constexpr const char* kSeekScan = "Seek Scan";
    static constexpr const char* kError = "Error";
    static constexpr const char* kIrregularity = "Irregularity";
    // The durations recorded for findings whose file line carries none.
    static constexpr double kErrorDuration = 999999.999999;
    static constexpr double kSeekIrregularityDuration = 0.7;

    DiagResults() = default;
    // initWithDate:type:errorOrIrregularity:startRange:stopRange:andDuration:
    DiagResults(std::string dateOfTest, std::string typeOfTest, std::string errorOrIrregularity,
                int64_t startRange, int64_t stopRange, double duration);

    const std::string& dateOfTest() const { return dateOfTest_; }
    const std::string& typeOfTest() const { return typeOfTest_; }
    const std::string& errorOrIrregularity() const { return errorOrIrregularity_; }
    int64_t startRange() const { return startRange_; }
    int64_t stopRange() const { return stopRange_; }
    double duration() const { return duration_; }

    bool isError() const { return errorOrIrregularity_ == kError; }
    bool isIrregularity() const { return errorOrIrregularity_ == kIrregularity; }
    bool isSurfaceScan() const { return typeOfTest_ == kSurfaceScan; }
    bool isSeekScan() const { return typeOfTest_ == kSeekScan; }

    // The record on the system console, then the separator (a debugging aid).
    void printDiagResultsToLogFile() const;
    // 65 dashes on the system console.
    static void printSeparatorToLogFile();

    bool operator==(const DiagResults&) const = default;

  private:
    std::string dateOfTest_;
    std::string typeOfTest_;
    std::string errorOrIrregularity_;
    int64_t startRange_ = 0;
    int64_t stopRange_ = 0;
    double duration_ = 0;
};

} // namespace tolvarin
