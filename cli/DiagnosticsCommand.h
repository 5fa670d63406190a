#pragma once

#include "app/GUIController.h"
#include "cli/CliOptions.h"

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace tolvarin {

// tolvarin-cli diagnostics UNIT: a diagnostics run of one unit through the
// hub, with the terminal as its face. By default the recorded errors and
// irregularities of every scan set of the unit's history are re-tested;
// --no-analysis leaves them out, --latest-only takes the last scan set only,
// --interface N runs the interface test N times on the unit's mounted
// volume and --memory N runs N passes of the memory test. Ctrl-C is the
// stop button. --json prints the counters and the findings' verdicts.
class DiagnosticsCommand {
  public:
    explicit DiagnosticsCommand(CliOptions options);

    // Runs the command; answers the exit status.
    int run();

    // The options the command line chooses.
    static DiagnosticsOptions optionsFor(const CliOptions& options);
    // 0 for a run that went to its end without a bad block, interface,
    // memory or seek error (or found nothing to re-test), 1 when it found
    // one, 3 for one that was refused or did not run to its end.
    static int exitStatusFor(bool started, const DiagnosticsOutcome& outcome);
    // The --json object.
    static nlohmann::json summaryJson(const CliOptions& options, bool started,
                                      const DiagnosticsOutcome& outcome,
                                      const DiagnosticsHistory& history,
                                      const std::string& historyFile, const std::string& device,
                                      const std::string& prefix, const std::string& logFile,
                                      const std::string& problem);

  private:
    int runDiagnostics(const Media& unit, const std::vector<Media>& mediaArray);

    CliOptions options_;
};

} // namespace tolvarin
