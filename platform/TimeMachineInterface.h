#pragma once

#include <string>
#include <vector>

namespace tolvarin {

// The backup service switch. The desktop system switched its backups with
// tmutil on newer releases and by writing a preference on older ones; those
// command lines are kept as data, chosen by release name. This system has no
// such service, so a switch logs that and runs nothing.
class TimeMachineInterface {
  public:
    // Reads the running kernel's release.
    TimeMachineInterface();
    // Chooses the command lines for the given kernel release.
    explicit TimeMachineInterface(const std::string& kernelRelease);

    // "ON" or "OFF": answers retValue; any other word answers false.
    bool TimeMachineControl(const std::string& onOrOff);

    // The release name of kernelRelease; prints "This OS release is: NAME".
    static std::string osName(const std::string& kernelRelease);

    // The whole command line (program first) that the word would run, or
    // empty for a word other than "ON" and "OFF".
    std::vector<std::string> commandLineFor(const std::string& onOrOff) const;

    const std::vector<std::string>& startTM() const { return startTM_; }
    const std::vector<std::string>& stopTM() const { return stopTM_; }
    const std::vector<std::string>& tmStatus() const { return tmStatus_; }
    const std::string& command() const { return command_; }
    const std::string& statusCommand() const { return statusCommand_; }
    const std::string& osVersion() const { return osVersion_; }
    bool retValue() const { return retValue_; }
    bool osIsNew() const { return osIsNew_; }

  private:
    std::vector<std::string> startTM_;
    std::vector<std::string> stopTM_;
    std::vector<std::string> tmStatus_;
    std::string command_;
    std::string statusCommand_;
    std::string osVersion_;
    bool retValue_ = true;
    bool osIsNew_ = false;
};

} // namespace tolvarin
