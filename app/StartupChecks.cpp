#include "app/StartupChecks.h"

#include "platform/ModuleLoader.h"
#include "platform/Paths.h"
#include "platform/System.h"

#include <unistd.h>

namespace tolvarin {

namespace {

const char* const kMissingFilesTitle = "Missing Files...Tolvarin Can't Run!";

bool isExecutable(const std::string& path) {
    return !path.empty() && ::access(path.c_str(), X_OK) == 0;
}

std::string listed(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) {
        text += "\n    " + item;
    }
    return text;
}

} // namespace

std::string StartupChecks::findSystemTool(const std::string& name,
                                          const ExecutableTest& executable) {
    // The folders the disk tool adapter looks in; sbin is not in every
    // user's PATH.
    static const char* const folders[] = {"/usr/sbin", "/usr/bin",        "/sbin",
                                          "/bin",      "/usr/local/sbin", "/usr/local/bin"};
    for (const char* folder : folders) {
        std::string candidate = std::string(folder) + "/" + name;
        if (executable(candidate)) {
            return candidate;
        }
    }
    return "";
}

std::vector<std::string> StartupChecks::missingSystemTools(const ExecutableTest& given) {
    const ExecutableTest executable = given ? given : ExecutableTest(isExecutable);
    std::vector<std::string> missing;
    const std::string diskTool = Paths::diskToolPath();
    if (!executable(diskTool)) {
        missing.push_back(diskTool);
    }
    const bool ownAdapter = diskTool == Paths::resourcesDirectory() + "/tolvarin-disktool";
    if (ownAdapter) {
        for (const char* tool : {"lsblk", "smartctl"}) {
            if (findSystemTool(tool, executable).empty()) {
                missing.push_back(tool);
            }
        }
    }
    for (const std::string& m : missing) {
        System::consoleLog("Missing system program: " + m);
    }
    return missing;
}

std::vector<std::string> StartupChecks::missingModules() {
    std::vector<std::string> missing;
    for (const char* name : {"Unitprobe", "Quarrykit"}) {
        std::string error;
        if (ModuleLoader::findFactory(ModuleLoader::modulePath(name), name, &error) == nullptr) {
            System::consoleLog(std::string("ERROR: ") + name + " bundle could not be found.");
            missing.push_back(std::string(name) + " (" + error + ")");
        }
    }
    if (!missing.empty()) {
        System::consoleLog("ERROR: One or more bundles could not be loaded. TERMINATING!");
    }
    return missing;
}

Alert StartupChecks::missingToolsAlert(const std::vector<std::string>& missing) {
    Alert alert;
    alert.title = kMissingFilesTitle;
    alert.text = "Tolvarin makes use of some system programs typically installed on Linux "
                 "systems (lsblk from util-linux, smartctl from smartmontools) and of its own "
                 "disk tool. One or more of these appears to be either missing or in the wrong "
                 "location:" +
                 listed(missing) +
                 "\n\nPlease refer to the README to find solutions to this problem. \n\nPress the "
                 "\"OK\" button and Tolvarin will terminate.";
    alert.defaultButton = "OK";
    return alert;
}

Alert StartupChecks::missingModulesAlert(const std::vector<std::string>& missing) {
    Alert alert;
    alert.title = kMissingFilesTitle;
    alert.text = "Tolvarin could not load one or more of its own modules from its resources "
                 "folder:" +
                 listed(missing) +
                 "\n\nReinstalling Tolvarin should restore them; please refer to the README for "
                 "details. \n\nPress the \"OK\" button and Tolvarin will terminate.";
    alert.defaultButton = "OK";
    return alert;
}

} // namespace tolvarin
