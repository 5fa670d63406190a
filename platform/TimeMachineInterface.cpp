#include "platform/TimeMachineInterface.h"

#include "base/Utils.h"
#include "platform/System.h"

namespace tolvarin {

TimeMachineInterface::TimeMachineInterface() : TimeMachineInterface(System::kernelRelease()) {}

TimeMachineInterface::TimeMachineInterface(const std::string& kernelRelease)
    : osVersion_(osName(kernelRelease)) {
    osIsNew_ = osVersion_ == "Lion" || osVersion_ == "Mountain Lion" || osVersion_ == "Mavericks";
    if (osIsNew_) {
        command_ = "/usr/bin/tmutil";
        startTM_ = {"enable"};
        stopTM_ = {"disable"};
    } else {
        command_ = "/usr/bin/defaults";
        startTM_ = {"write", "/Library/Preferences/com.apple.TimeMachine", "AutoBackup", "-boolean",
                    "YES"};
        stopTM_ = {"write", "/Library/Preferences/com.apple.TimeMachine", "AutoBackup", "-boolean",
                   "NO"};
    }
}

std::string TimeMachineInterface::osName(const std::string& kernelRelease) {
    std::string name = System::releaseName(kernelRelease);
    Utils::print("This OS release is: " + name);
    return name;
}

std::vector<std::string> TimeMachineInterface::commandLineFor(const std::string& onOrOff) const {
    const std::vector<std::string>* args = onOrOff == "ON"    ? &startTM_
                                           : onOrOff == "OFF" ? &stopTM_
                                                              : nullptr;
    if (args == nullptr) {
        return {};
    }
    std::vector<std::string> line{command_};
    line.insert(line.end(), args->begin(), args->end());
    return line;
}

bool TimeMachineInterface::TimeMachineControl(const std::string& onOrOff) {
    if (commandLineFor(onOrOff).empty()) {
        return false;
    }
    System::consoleLog("TimeMachineInterface: Time Machine backups are not present on this "
                       "system; not turned " +
                       onOrOff + ".");
    return retValue_;
}

} // namespace tolvarin
