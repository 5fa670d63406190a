#pragma once

#include "base/Clock.h"
#include "platform/ProcessRunner.h"

#include <string>
#include <vector>

namespace tolvarin {

// Everything the program asks of its surroundings that a test wants to
// replace: the clock and sleep, the running of system tools, the start of a
// document viewer and the end of the process. One object is handed to the
// hub when it is built and from there to whatever needs it; the standard one
// does the real thing, and a test derives from it and overrides only the
// calls it wants to fake or fail.
class Env : public Clock {
  public:
    ~Env() override = default;

    int64_t wallMicros() const override;
    int64_t monotonicMicros() const override;
    void sleepMicros(int64_t micros) const override;

    // Runs a tool and waits for it (ProcessRunner::run).
    virtual ProcessResult runProcess(const std::string& program,
                                     const std::vector<std::string>& args);
    // Starts a program without waiting for it (a document viewer).
    virtual bool launchDetached(const std::string& program, const std::vector<std::string>& args,
                                std::string* error);
    // Ends the process with status. A replaced exit may return; the caller
    // then goes on as if the process had ended and must leave what it is
    // doing.
    virtual void exitProcess(int status);

    // The real surroundings.
    static Env& standard();
};

} // namespace tolvarin
