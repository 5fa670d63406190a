#include "platform/PMInterface.h"

#include "platform/ProcessRunner.h"
#include "platform/System.h"

#include <unistd.h>
#include <utility>

namespace tolvarin {

namespace {

// hdparm -S counts 5-second steps up to 240 (20 minutes).
constexpr int kDriveSleepMinutes = 10;
constexpr int kStandbyStepSeconds = 5;

std::string lastLine(const std::string& output) {
    std::string text = output;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    auto newline = text.find_last_of('\n');
    return newline == std::string::npos ? text : text.substr(newline + 1);
}

} // namespace

PMInterface::PMInterface(std::string rawDevicePath) : device_(std::move(rawDevicePath)) {}

const std::vector<std::string>& PMInterface::hdparmLocations() {
    static const std::vector<std::string> locations = {"/usr/sbin/hdparm", "/sbin/hdparm",
                                                       "/usr/bin/hdparm", "/bin/hdparm"};
    return locations;
}

std::string PMInterface::hdparmPath() const {
    if (!hdparmPath_.empty()) {
        return hdparmPath_;
    }
    for (const std::string& candidate : hdparmLocations()) {
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return "";
}

std::vector<std::string> PMInterface::hdparmArgumentsFor(const std::string& onOrOff) const {
    if (onOrOff == "ON") {
        return {"-S", std::to_string(kDriveSleepMinutes * 60 / kStandbyStepSeconds), device_};
    }
    if (onOrOff == "OFF") {
        return {"-S", "0", device_};
    }
    return {};
}

bool PMInterface::PMControl(const std::string& onOrOff) {
    std::vector<std::string> args = hdparmArgumentsFor(onOrOff);
    if (args.empty()) {
        return false;
    }
    System::consoleLog("Launching Power Management Control");
    const std::string notDone = "PMInterface: drive sleep not turned " + onOrOff + ": ";
    // A relative name could read as an option to the tool.
    if (device_.empty() || device_.front() != '/') {
        System::consoleLog(notDone + "no device path given (\"" + device_ + "\").");
        return false;
    }
    std::string program = hdparmPath();
    if (program.empty()) {
        System::consoleLog(notDone + "hdparm is not installed.");
        return false;
    }
    ProcessResult result = ProcessRunner::run(program, args);
    if (!result.finished()) {
        System::consoleLog(notDone + result.error);
        return false;
    }
    if (result.exitStatus != 0) {
        System::consoleLog(notDone + program + " exited with status " +
                           std::to_string(result.exitStatus) + ": " + lastLine(result.output));
        return false;
    }
    return retValue_;
}

} // namespace tolvarin
