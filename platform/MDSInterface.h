#pragma once

#include <string>
#include <vector>

namespace tolvarin {

// The Spotlight indexing switch. The command lines of the desktop system are
// kept as data; this system has no such indexing service, so a switch logs
// that and runs nothing. One object per use; no state between calls.
class MDSInterface {
  public:
    MDSInterface();

    // "ON" or "OFF": answers retValue; any other word answers false.
    bool mdsControl(const std::string& onOrOff);

    // The service manager that loads and unloads the indexing daemon.
    static constexpr const char* launchctlPath = "/bin/launchctl";

    // The whole command line (program first) that the word would run, or
    // empty for a word other than "ON" and "OFF".
    std::vector<std::string> commandLineFor(const std::string& onOrOff) const;

    const std::vector<std::string>& startMDS() const { return startMDS_; }
    const std::vector<std::string>& stopMDS() const { return stopMDS_; }
    bool retValue() const { return retValue_; }

  private:
    std::vector<std::string> startMDS_;
    std::vector<std::string> stopMDS_;
    bool retValue_ = true;
};

} // namespace tolvarin
