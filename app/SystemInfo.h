#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace tolvarin {

// The facts about the host and the user that the program logs and shows in
// its system information window, collected once at start-up: the short and
// full user name, the home directory, the processor and the system release.
// On this system the processor comes from /proc/cpuinfo, the release from
// os-release, the user from the password database, and the kernel from
// uname, run through the Shellgate command runner module.
class SystemInfo {
  public:
    // What the facts are read from; tests hand in recorded texts.
    struct Sources {
        std::string cpuinfo;   // the text of /proc/cpuinfo
        std::string osRelease; // the text of os-release
        std::string kernel;    // what `uname -srm` printed
    };

    // Reads the machine: the files, the password database and the command
    // runner (a missing module is logged, and the kernel stays unknown).
    SystemInfo();
    // From recorded sources; the user facts are the launching user's.
    explicit SystemInfo(const Sources& sources);

    // The release number (os-release VERSION_ID); empty when unknown.
    const std::string& osVersion() const { return osVersion_; }
    // The processor description; empty when unknown.
    const std::string& cpuType() const { return cpuType_; }
    const std::string& userName() const { return userName_; }
    // The full name from the password database; the short name when it
    // holds none.
    const std::string& fullUserName() const { return fullUserName_; }
    const std::string& userHomeDir() const { return userHomeDir_; }
    // The release name of the desktop system the program was first designed
    // for, from osVersion; "UNKNOWN" for every release of this system.
    const std::string& OSString() const { return OSString_; }
    // The system's own name for itself (os-release PRETTY_NAME).
    const std::string& osName() const { return osName_; }
    const std::string& kernel() const { return kernel_; }

    // The processor of a /proc/cpuinfo text: the first "model name", else
    // "Hardware", "cpu model" or "Processor" line (other architectures).
    static std::string cpuTypeFromCpuinfo(const std::string& cpuinfo);
    // KEY=VALUE lines of os-release, quotes and escapes removed.
    static std::map<std::string, std::string> parseOsRelease(const std::string& text);
    // The release name table: "10.3" Panther ... "10.7" Lion, "10.0" and
    // "10.1" UNSUPPORTED, anything else UNKNOWN.
    static std::string releaseNameFor(const std::string& osVersion);
    // The full name of a password database comment field: the text before
    // the first comma.
    static std::string fullNameFromGecos(const std::string& gecos);

    // The facts as caption and value pairs, in the order a window shows them.
    std::vector<std::pair<std::string, std::string>> rows() const;

  private:
    void fillUser();
    void fillFrom(const Sources& sources);

    std::string osVersion_;
    std::string cpuType_;
    std::string userName_;
    std::string fullUserName_;
    std::string userHomeDir_;
    std::string OSString_ = "UNKNOWN";
    std::string osName_;
    std::string kernel_;
};

} // namespace tolvarin
