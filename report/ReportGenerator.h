#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tolvarin {

class Clock;
class Env;
struct TestResults;

// The test report: at the end of a normal test the results the logger holds
// are poured into the rich-text template ResultsTemplate.rtf of the resources
// folder, with verdict paragraphs chosen from the error counts and the
// performance indices, and written as Documents/Report<stamp>.rtf. The logger
// forwards its generateReport and displayReport here.
class ReportGenerator {
  public:
    ReportGenerator() = delete;

    // What the report is made of: the logger's results of the last test.
    struct Inputs {
        int totalErrors = 0;
        int totalOddities = 0;
        int surfaceErrors = 0;
        int surfaceOddities = 0;
        int seekErrors = 0;
        int seekOddities = 0;
        int sizingScanErrors = 0;
        std::string sizingScanStatus;
        std::string surfaceScanStatus;
        std::string seekScanStatus;
        std::string typeOfTest;
        std::string volumeOrDiskID;
        std::string smartStatus;
        std::string dateOfCompletion;
        bool isInitialScan = false;
        double initialRPISSLIN = 0;
        double initialRPISSRAT = 0;
        double initialRPISKLIN = 0;
        double initialRPISKRAT = 0;
        double currentRPISSLIN = 0;
        double currentRPISSRAT = 0;
        double currentRPISKLIN = 0;
        double currentRPISKRAT = 0;
    };

    // Initial-scan limits. The surface ones are strict (the limit itself is
    // abnormally high); the seek ones include the limit (it is acceptable).
    static constexpr double kSurfaceLinearLimit = 55.0;
    static constexpr double kSurfaceLinearLimitFailed = 50.0;
    static constexpr double kSurfaceRatioLimit = 2.55;
    static constexpr double kSeekLinearLimit = 8.0;
    static constexpr double kSeekRatioLimit = 2.55;

    // Writes the report of the last test: sets the logger's scan verdict
    // words and completion date, names the report (the logger's
    // setReportFileNameAndPath), fills the template and writes it as a new
    // file handed to the launching user. Answers false, with the reason in
    // the log and on the console and no report left behind, when the
    // template cannot be read or the report cannot be created (a file or
    // link already at its path is left as it is).
    static bool generateReport(const TestResults& results, const Clock& clock);

    // Opens the report named by the logger in the desktop's viewer through
    // xdg-open, without waiting for it. Answers false without a desktop (no
    // DISPLAY and no WAYLAND_DISPLAY) or when the viewer cannot be started,
    // so that a terminal face can print the report's path instead.
    static bool displayReport(Env& env);

    // The template the report is made from.
    static std::string templatePath();

    // The report's inputs: the results of the test, and the unit's
    // description and the verdict words the logger holds.
    static Inputs inputsFor(const TestResults& results);

    // "FAILED" with errors, else "PASSED WITH IRREGULARITIES" with
    // irregularities, else "PASSED".
    static std::string resultWord(int errors, int oddities);

    // The placeholders of the template in their fixed order, each with its
    // replacement as plain text (not yet escaped for rich text).
    static std::vector<std::pair<std::string, std::string>> placeholderValues(const Inputs& in);

    // The two paragraphs (keys "S1".."S8", "C1".."C14") of the surface
    // verdict and of the seek verdict ("K1".."K8", "D1".."D14").
    static std::pair<std::string_view, std::string_view> surfaceVerdictKeys(const Inputs& in);
    static std::pair<std::string_view, std::string_view> seekVerdictKeys(const Inputs& in);
    // The text of a verdict paragraph by its key ("A1", "S5", "R2", ...);
    // empty for an unknown key.
    static std::string_view paragraph(std::string_view key);
    // Two paragraphs as one block. Most paragraphs end in a blank for this;
    // one that does not gets one, so sentences never run together.
    static std::string joinParagraphs(std::string_view first, std::string_view second);

    // An index as the report prints it ("%f"); an index that could not be
    // measured (not a number, infinite, or the data files' marker for an
    // unmeasured value) reads "N/A".
    static std::string formatIndex(double value);

    // Plain text for a rich-text document: backslash and braces escaped,
    // line breaks and tabs as their control words, other control characters
    // dropped, and every character beyond ASCII as \uN? (UTF-16, so
    // characters beyond the first plane become two). Bytes that are not
    // UTF-8 read as U+FFFD.
    static std::string escapeRtf(std::string_view text);

    // The template with every placeholder replaced by its escaped value. A
    // placeholder stands on a line of its own in the template; should a line
    // hold several, each is filled. Replaced values are never searched for
    // placeholders again.
    static std::string fillTemplate(std::string_view templateText,
                                    const std::vector<std::pair<std::string, std::string>>& values);
};

} // namespace tolvarin
