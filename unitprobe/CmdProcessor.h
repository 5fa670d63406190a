#pragma once

#include "platform/ProcessRunner.h"

#include <string>
#include <vector>

namespace tolvarin {

// Runs one program (no shell) with an argument list, waits for it and keeps
// everything it printed on standard output and standard error, interleaved in
// arrival order. One runner serves one command. The operations are virtual so
// that a runner made inside a loaded module is used through its own code.
class CmdProcessor {
  public:
    CmdProcessor();
    virtual ~CmdProcessor() = default;
    CmdProcessor(const CmdProcessor&) = delete;
    CmdProcessor& operator=(const CmdProcessor&) = delete;

    virtual void setCommand(const std::string& command);
    virtual const std::string& command() const;
    virtual void setArgs(const std::vector<std::string>& args);
    virtual const std::vector<std::string>& args() const;

    // How long the command may run (ProcessRunner::defaultLimits() unless set).
    virtual void setLimits(const ProcessLimits& limits);

    // Runs the stored command with the stored arguments; the two parameters
    // are not used (callers hand back command() and args()). Blocks until the
    // program has ended, or until its time limit has passed and it has been
    // stopped. A program that cannot be started leaves returnData() empty,
    // started() false and the reason in error(); one that was stopped leaves
    // returnData() empty too (a listing cut short would list part of the
    // disks as if it were all of them) and the reason in error().
    virtual void processCommand(const std::string& command,
                                const std::vector<std::string>& options);

    // The bytes the last run printed (no terminating NUL of its own).
    virtual const std::string& returnData() const;
    virtual void setReturnData(const std::string& data);

    // What became of the last run. The exit status is kept for messages only;
    // the output is what callers act on. error() is empty after a run that
    // started and ended by itself.
    virtual bool started() const;
    virtual int exitStatus() const;
    virtual const std::string& error() const;

  private:
    std::string returnData_;
    std::string command_;
    std::vector<std::string> args_;
    ProcessLimits limits_ = ProcessRunner::defaultLimits();
    bool started_ = false;
    int exitStatus_ = -1;
    std::string error_;
};

} // namespace tolvarin
