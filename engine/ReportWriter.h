#pragma once

#include <string>

namespace tolvarin {

struct TestResults;

// What writes and shows the report at the end of a complete normal test.
// The report lives above the engine; its owner hands one in.
class ReportWriter {
  public:
    virtual ~ReportWriter() = default;
    // Writes the report of results; answers false (said in the log) when
    // none was written.
    virtual bool generateReport(const TestResults& results) = 0;
    // Opens the report just written in the desktop's viewer; false when it
    // cannot be shown here.
    virtual bool displayReport() = 0;
    // Where the report just written is.
    virtual std::string reportPath() const = 0;
    // Why the last generateReport wrote none.
    virtual std::string problem() const { return ""; }
};

} // namespace tolvarin
