#pragma once

#include "app/UnitHistory.h"
#include "cli/CliOptions.h"

#include <string>

namespace tolvarin {

// tolvarin-cli history UNIT: every stored test of a unit, oldest first
// (date, kind, the four indices, counts, verdict, S.M.A.R.T. changes) and a
// text trend of the four indices; with --json the same as an object on
// standard output. Nothing is written.
class HistoryCommand {
  public:
    explicit HistoryCommand(CliOptions options);

    // Runs the command; answers the exit status (0, or 2 for an unknown
    // unit).
    int run();

    // The listing and the trend as the terminal shows them.
    static std::string text(const std::string& unit, const UnitHistory& history);
    // One line of the trend: a mark per test from "_" (lowest) to "^"
    // (highest), "?" where the index was not measured.
    static std::string trendLine(const std::vector<std::optional<double>>& values);

  private:
    CliOptions options_;
};

} // namespace tolvarin
