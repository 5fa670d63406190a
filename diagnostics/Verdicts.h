#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace tolvarin {

// What the re-tests of one recorded finding concluded.
enum class Verdict {
    notTested,                   // the run ended before the finding was re-tested
    weakSector,                  // irregularityConfirmed
    irregularityBecameError,     // a failed read now
    falseIrregularity,           // reads fast now, short recorded delay
    possibleIntermittentProblem, // reads fast now, long recorded delay
    likelyTimeout,               // reads fast now, recorded delay in a timeout cluster
    errorConfirmed,              // still fails: a bad block
    errorNowAnIrregularity,      // reads, but slowly
    errorNoLongerPresent,        // reads well now
    unableToSeek,                // the location cannot be reached
};

// The word --json and the tests use for a verdict.
const char* verdictName(Verdict verdict);

// The classification of five good re-reads, and the log texts of every
// verdict and of the interface test's findings, each appended to the run's
// log in its fixed words.
namespace Verdicts {

constexpr int kPasses = 5;
// Irregularity verdicts: a re-read slower than this confirms it.
constexpr double kSlowReread = 0.1;
constexpr double kVerySlowReread = 3.0;
// A recorded delay at least this long that reads fast now is no false alarm.
constexpr double kLongRecordedDelay = 4.0;
// Error verdicts: the slowest re-read at or above this is an irregularity.
constexpr double kErrorStillSlow = 0.7;

struct Times {
    double sum = 0;
    double minimum = 0;
    double maximum = 0;
    double average() const { return sum / kPasses; }
};

// The verdict on an irregularity whose five re-reads all read: likelyTimeout
// when its recorded duration lies in a timeout cluster.
Verdict classifyIrregularity(const Times& times, double recordedDuration, bool likelyTimeout);
// The verdict on an error whose five re-reads all read.
Verdict classifyError(const Times& times);
// Whether a verdict adds a weak block or a bad block.
bool countsAsWeakBlock(Verdict verdict);
bool countsAsBadBlock(Verdict verdict);

// "%.6fGB (actual:%lld)".
std::string dualFormat(int64_t offset);

// The verdict writers.
void irregularityConfirmed(const std::string& log, double average, double minimum, double maximum);
void errorNowAnIrregularity(const std::string& log, double average, double minimum, double maximum);
void possibleIntermittentProblem(const std::string& log, double duration);
void possibleTimeoutDetected(const std::string& log, double timeoutValue);
void irregularityBecameError(const std::string& log);
void errorConfirmed(const std::string& log);
void detectedErrorNoLongerPresent(const std::string& log);
void detectedIrregularityLikelyATimeout(const std::string& log);
void falseIrregularity(const std::string& log);
void unableToSeekToLocation(const std::string& log);
// Writes the words of a verdict reached after five good re-reads.
void writeVerdict(const std::string& log, Verdict verdict, const Times& times,
                  double recordedDuration);

// The interface test's writers.
void interfaceWriteFileTookAbnomallyLong(const std::string& log, double seconds);
void interfaceReadFileTookAbnomallyLong(const std::string& log, double seconds);
void interfaceWriteOperationFailed(const std::string& log);
void interfaceReadOperationFailed(const std::string& log);
void interfaceErrorDetected(const std::string& log);

} // namespace Verdicts

} // namespace tolvarin
