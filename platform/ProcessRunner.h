#pragma once

#include <string>
#include <vector>

namespace tolvarin {

// Runs a program without a shell and collects what it prints.
struct ProcessResult {
    bool started = false; // false: the program could not be started (see error)
    int exitStatus = -1;  // exit status, or 128 + signal number
    std::string output;   // standard output and standard error, in arrival order
    std::string error;    // why the program could not be started
};

namespace ProcessRunner {

// Starts program with args (argv[1..]), standard input from /dev/null,
// standard output and standard error into one pipe, and waits for it to end.
ProcessResult run(const std::string& program, const std::vector<std::string>& args);

// Starts program and does not wait for it (for example a document viewer);
// it is handed to init, which reaps it. Answers false when the program
// cannot be started.
bool launchDetached(const std::string& program, const std::vector<std::string>& args,
                    std::string* error = nullptr);

} // namespace ProcessRunner

} // namespace tolvarin
