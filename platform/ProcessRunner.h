#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace tolvarin {

// How long a program may run and how much it may print. A tool that hangs (a
// disk that never answers, a hub that stalls) must not hang the program that
// asked it.
struct ProcessLimits {
    // From the start to the end of the program and of its output. The disk
    // tool adapter runs lsblk and then smartctl, each under its own shorter
    // limit, so its callers' limit has to outlast both.
    std::chrono::milliseconds time{60000};
    // Between the polite SIGTERM to the program's process group and SIGKILL.
    std::chrono::milliseconds grace{2000};
    // Output beyond this is not read; the program is ended as at the time limit.
    std::size_t outputBytes = 16u << 20;
};

// Runs a program without a shell and collects what it prints.
struct ProcessResult {
    bool started = false;   // false: the program could not be started (see error)
    int exitStatus = -1;    // exit status, or 128 + signal number
    std::string output;     // standard output and standard error, in arrival order
    std::string error;      // why the program could not be started, or was ended
    bool timedOut = false;  // ended when the time limit passed; output may be cut short
    bool outputCut = false; // ended for printing more than the output limit
    // Whether the program ran to its own end (output complete).
    bool finished() const { return started && !timedOut && !outputCut; }
};

namespace ProcessRunner {

// The limits of a run that names none. TOLVARIN_TOOL_TIME_LIMIT_MS, when set
// to a positive number of milliseconds, replaces the time limit (and caps the
// grace), so that tests of hanging tools take milliseconds.
ProcessLimits defaultLimits();
// limits with its time limit and grace no longer than
// TOLVARIN_TOOL_TIME_LIMIT_MS, when that is set.
ProcessLimits limitsWithin(ProcessLimits limits);

// Starts program with args (argv[1..]) in a process group of its own,
// standard input from /dev/null, standard output and standard error into one
// pipe, and waits for it to end. When the time limit passes, the whole group
// gets SIGTERM, then SIGKILL after the grace. When the program has ended but
// something it left behind still holds the pipe, the rest of its group is
// ended and the pipe closed: a program's output ends when it does.
ProcessResult run(const std::string& program, const std::vector<std::string>& args);
ProcessResult run(const std::string& program, const std::vector<std::string>& args,
                  const ProcessLimits& limits);

// Starts program and does not wait for it (for example a document viewer);
// it is handed to init, which reaps it. Answers false when the program
// cannot be started.
bool launchDetached(const std::string& program, const std::vector<std::string>& args,
                    std::string* error = nullptr);

} // namespace ProcessRunner

} // namespace tolvarin
