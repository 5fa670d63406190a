#pragma once

#include "app/GUIController.h"
#include "cli/CliOptions.h"

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace tolvarin {

// tolvarin-cli cursory UNIT: a cursory test of one unit through the hub, with
// the terminal as its face. Messages are answered by --answer, --yes or the
// person at the terminal; Ctrl-C is the Stop button; --json prints a summary
// on standard output at the end.
class CursoryCommand {
  public:
    explicit CursoryCommand(CliOptions options);

    // Runs the command; answers the exit status.
    int run();

    // 0, 1 or 3 for how a test went.
    static int exitStatusFor(const TestResults& summary);
    // The --json object; logFile is shown only when something is there.
    static nlohmann::json summaryJson(const CliOptions& options, const TestResults& summary,
                                      const std::string& device, const std::string& logFile,
                                      const std::string& problem, bool probe, int errorLimit);

  private:
    int runTest(const Media& unit, const std::vector<Media>& mediaArray);

    CliOptions options_;
};

} // namespace tolvarin
