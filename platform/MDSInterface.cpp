#include "platform/MDSInterface.h"

#include "platform/System.h"

namespace tolvarin {

namespace {
constexpr const char* kDaemonDescription =
    "/System/Library/LaunchDaemons/com.apple.metadata.mds.plist";
}

MDSInterface::MDSInterface()
    : startMDS_{"load", "-w", kDaemonDescription}, stopMDS_{"unload", "-w", kDaemonDescription} {}

std::vector<std::string> MDSInterface::commandLineFor(const std::string& onOrOff) const {
    const std::vector<std::string>* args = onOrOff == "ON"    ? &startMDS_
                                           : onOrOff == "OFF" ? &stopMDS_
                                                              : nullptr;
    if (args == nullptr) {
        return {};
    }
    std::vector<std::string> line{launchctlPath};
    line.insert(line.end(), args->begin(), args->end());
    return line;
}

bool MDSInterface::mdsControl(const std::string& onOrOff) {
    if (commandLineFor(onOrOff).empty()) {
        return false;
    }
    // Nothing to switch here, and so no reason to take root's real id either.
    System::consoleLog(
        "MDSInterface: Spotlight indexing is not present on this system; not turned " + onOrOff +
        ".");
    return retValue_;
}

} // namespace tolvarin
