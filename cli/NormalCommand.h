#pragma once

#include "app/GUIController.h"
#include "cli/CliOptions.h"

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace tolvarin {

// tolvarin-cli normal UNIT: a normal test of one unit through the hub, with
// the terminal as its face. The first normal test of a unit stores its
// baseline; later ones are compared with it. Messages are answered by
// --answer, --yes or the person at the terminal (the resume questions 15 to
// 18, the stop question 3 and 9, message 8 at the end); Ctrl-C is the Stop
// button. At the end the report's path is printed, and --json prints a
// summary on standard output.
class NormalCommand {
  public:
    explicit NormalCommand(CliOptions options);

    // Runs the command; answers the exit status.
    int run();

    // 0 for a test that ran every phase without errors, 1 with errors (or
    // parts the sizing sweep could not read), 3 for one that did not end.
    static int exitStatusFor(const TestResults& summary);
    // The --json object. The indices are the logger's of this test; an index
    // that was not measured is null.
    static nlohmann::json summaryJson(const CliOptions& options, const TestResults& summary,
                                      const std::string& device, const std::string& prefix,
                                      const std::string& logFile, const std::string& problem);

  private:
    int runTest(const Media& unit, const std::vector<Media>& mediaArray);

    CliOptions options_;
};

} // namespace tolvarin
