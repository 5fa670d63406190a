#pragma once

#include <string>
#include <vector>

namespace tolvarin {

// The drive sleep switch. The desktop system set its system-wide disk sleep
// with pmset (kept here as data); this system sets the standby timeout of
// one drive with hdparm -S: 0 turns standby off, and turning it back on sets
// ten minutes, as the desktop switch always did (the earlier setting is not
// read back, so it is not restored). One object per use.
class PMInterface {
  public:
    // rawDevicePath: the unit whose drive sleep is switched (a whole disk is
    // best; a partition node reaches the same drive).
    explicit PMInterface(std::string rawDevicePath = "");

    // "ON" or "OFF". Answers false for any other word, for a missing or
    // relative device path, when hdparm is not installed and when it
    // refuses (a drive without a standby timer, an image file); each failure
    // is logged.
    bool PMControl(const std::string& onOrOff);

    // The hdparm arguments for the word: "-S" "120" DEVICE for "ON" (120
    // steps of 5 seconds: ten minutes), "-S" "0" DEVICE for "OFF"; empty for
    // any other word.
    std::vector<std::string> hdparmArgumentsFor(const std::string& onOrOff) const;
    // The hdparm program used: the one set, else the first installed of the
    // system locations (never looked up in PATH, since the caller holds root
    // rights); empty when none is installed.
    std::string hdparmPath() const;
    void setHdparmPath(const std::string& path) { hdparmPath_ = path; }
    static const std::vector<std::string>& hdparmLocations();

    const std::string& device() const { return device_; }
    void setDevice(const std::string& rawDevicePath) { device_ = rawDevicePath; }

    const std::vector<std::string>& startPM() const { return startPM_; }
    const std::vector<std::string>& stopPM() const { return stopPM_; }
    const std::vector<std::string>& pmStatus() const { return pmStatus_; }
    const std::string& command() const { return command_; }
    const std::string& statusCommand() const { return statusCommand_; }
    const std::string& osVersion() const { return osVersion_; }
    bool retValue() const { return retValue_; }
    bool osIsNew() const { return osIsNew_; }

  private:
    std::vector<std::string> startPM_{"disksleep", "10"};
    std::vector<std::string> stopPM_{"disksleep", "0"};
    std::vector<std::string> pmStatus_;
    std::string command_ = "/usr/bin/pmset";
    std::string statusCommand_;
    std::string osVersion_;
    bool retValue_ = true;
    bool osIsNew_ = false;

    std::string device_;
    std::string hdparmPath_;
};

} // namespace tolvarin
