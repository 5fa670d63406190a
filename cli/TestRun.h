#pragma once

#include "app/GUIController.h"
#include "base/Media.h"
#include "cli/CliOptions.h"
#include "cli/CliView.h"
#include "platform/Env.h"

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace tolvarin {

// One test of one unit through the hub with the terminal as its face: what
// the cursory and normal commands share. While it lives, messages are
// answered by --answer, --yes or the person at the terminal (the status line
// stepping aside), an early end of the program turns the services back on,
// and standard output is kept free for the result (the --json summary).
class TestRun {
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

    // UNIT as a path (an image file or a device node: a record is made up
    // when the drive list has none for it) or as an identifier of the drive
    // list. A missing path, a directory, an empty file, anything that is
    // neither a block device nor a regular file (a character device, a FIFO)
    // and an unknown identifier, or one whose node is no block device, are
    // bad input.
    static Unit resolveUnit(const std::string& unit, const MediaLister& lister);
    // The record of an image file or device that the drive list lacks.
    static Media mediaForPath(const std::string& path, int64_t size, bool imageFile);
    // The drive list from the disk tool; says on standard error why it is
    // empty.
    static std::vector<Media> listAttachedMedia();

    // "tolvarin-cli: text" on standard error.
    static void complain(const std::string& text);
    // Says that the test's log ends early, and why, when it does.
    static void complainLogCut(const TestResults& summary, const std::string& logFile);
    // The result word of a summary: refused, stopped, failed or passed.
    static std::string verdictFor(const TestResults& summary, int exitStatus);
    // The parts of the --json object both tests have: unit, device, result,
    // problem, size, sizing, counts, the overall timings and why the log was
    // cut (logProblem).
    static nlohmann::json summaryBase(const std::string& command, const CliOptions& options,
                                      const TestResults& summary, int exitStatus,
                                      const std::string& device, const std::string& problem);
    // Seconds from one engine clock reading to a later one; null when either
    // was not reached.
    static nlohmann::json secondsBetween(int64_t from, int64_t to);
    // A wall-clock time as ISO 8601 local time with its UTC offset, or null
    // when it was not reached.
    static nlohmann::json isoTimeOrNull(int64_t wallMicros);
    // The text, or null when it is empty.
    static nlohmann::json textOrNull(const std::string& text);
    // Whether something is at path (a link counts as itself).
    static bool pathExists(const std::string& path);
    // The path when something is there, else null.
    static nlohmann::json existingPathOrNull(const std::string& path);

    // Sets up the hub for unit: the terminal view, the answerer, the exit
    // hook, the saved preferences with --probe and --error-limit over them,
    // and the selection.
    TestRun(const CliOptions& options, const Media& unit, const std::vector<Media>& mediaArray);
    ~TestRun();
    TestRun(const TestRun&) = delete;
    TestRun& operator=(const TestRun&) = delete;

    GUIController& hub() { return hub_; }

    // Starts a test with start (true when it started) and waits for its end,
    // Ctrl-C being stop while it runs and the end of the program before it;
    // then turns the services back on. Answers whether the test started.
    bool runTest(const std::function<bool()>& start, const std::function<void()>& stop);
    // Says why no test was run, and when the unit could not be read for want
    // of rights, that too.
    void complainNotStarted();
    // Prints the --json object on standard output (given back for it).
    void printSummary(const nlohmann::json& summary);
    // A command's result as text, on standard output.
    void printResult(const std::string& text);

  private:
    // While it lives, what the test's parts print on standard output (time
    // stamps, the console chatter) goes to standard error.
    class StandardOutputAside {
      public:
        explicit StandardOutputAside(bool active);
        ~StandardOutputAside() { restore(); }
        StandardOutputAside(const StandardOutputAside&) = delete;
        StandardOutputAside& operator=(const StandardOutputAside&) = delete;
        void restore();

      private:
        int saved_ = -1;
    };

    // The terminal's surroundings: the end of the program steps the status
    // line aside and flushes what was printed first.
    class CliEnv : public Env {
      public:
        explicit CliEnv(CliView& view) : view_(view) {}
        void exitProcess(int status) override;

      private:
        CliView& view_;
    };

    const bool json_;
    StandardOutputAside aside_; // before the view and hub: set aside before anything prints
    CliView view_;
    CliEnv env_;
    GUIController hub_;
};

} // namespace tolvarin
