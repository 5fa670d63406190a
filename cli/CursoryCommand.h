#pragma once

#include "app/GUIController.h"
#include "app/Media.h"
#include "cli/CliOptions.h"

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

// tolvarin-cli cursory UNIT: a cursory test of one unit through the hub, with
// the terminal as its face. Messages are answered by --answer, --yes or the
// person at the terminal; Ctrl-C is the Stop button; --json prints a summary
// on standard output at the end.
class CursoryCommand {
  public:
    static constexpr int kExitPassed = 0;
    static constexpr int kExitErrorsFound = 1;
    static constexpr int kExitBadInput = 2;
    static constexpr int kExitNotRun = 3;

    // The unit a UNIT argument names.
    struct Unit {
        std::optional<Media> media; // nullopt: error and status say why
        std::vector<Media> mediaArray;
        std::string error;
        int status = 0;
    };
    // Lists the attached units (the drive list); empty when none could be
    // listed.
    using MediaLister = std::function<std::vector<Media>()>;

    explicit CursoryCommand(CliOptions options);

    // Runs the command; answers the exit status.
    int run();

    // UNIT as a path (an image file or a device node: a record is made up
    // when the drive list has none for it) or as an identifier of the drive
    // list. A missing path, a directory, an empty file or an unknown
    // identifier is bad input.
    static Unit resolveUnit(const std::string& unit, const MediaLister& lister);
    // The record of an image file or device that the drive list lacks.
    static Media mediaForPath(const std::string& path, int64_t size, bool imageFile);

    // 0, 1 or 3 for how a test went.
    static int exitStatusFor(const GUIController::TestSummary& summary);
    // The --json object.
    static nlohmann::json summaryJson(const CliOptions& options,
                                      const GUIController::TestSummary& summary,
                                      const std::string& device, const std::string& logFile,
                                      const std::string& problem, bool probe, int errorLimit);

  private:
    int runTest(const Media& unit, const std::vector<Media>& mediaArray);

    CliOptions options_;
};
