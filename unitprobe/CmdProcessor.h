#pragma once

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

    // Runs the stored command with the stored arguments; the two parameters
    // are not used (callers hand back command() and args()). Blocks until the
    // program has ended. A program that cannot be started leaves returnData()
    // empty, started() false and the reason in error().
    virtual void processCommand(const std::string& command,
                                const std::vector<std::string>& options);

    // The bytes the last run printed (no terminating NUL of its own).
    virtual const std::string& returnData() const;
    virtual void setReturnData(const std::string& data);

    // What became of the last run. The exit status is kept for messages only;
    // the output is what callers act on.
    virtual bool started() const;
    virtual int exitStatus() const;
    virtual const std::string& error() const;

  private:
    std::string returnData_;
    std::string command_;
    std::vector<std::string> args_;
    bool started_ = false;
    int exitStatus_ = -1;
    std::string error_;
};

} // namespace tolvarin
