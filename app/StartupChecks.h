#pragma once

#include "logging/MessageCenter.h"

#include <functional>
#include <string>
#include <vector>

namespace tolvarin {

// The checks a face makes before it shows the drive table: the system
// programs the drive list is made with (the disk tool adapter, and lsblk and
// smartctl, which the adapter runs) and the program's own modules. A missing
// one gives an alert and the end of the program, never a crash half-way.
class StartupChecks {
  public:
    // Exit statuses: a missing program, a missing module.
    static constexpr int kMissingToolStatus = 1;
    static constexpr int kMissingModuleStatus = 255;

    // Whether a program file can be run; tests replace it.
    using ExecutableTest = std::function<bool(const std::string& path)>;

    // checkStatusOfSystemFiles: the paths of the programs that are missing.
    // lsblk and smartctl are looked for only when the disk tool is the one
    // in the resources folder (a replaced tool brings its own listing).
    static std::vector<std::string> missingSystemTools(const ExecutableTest& executable = {});
    // The modules of the resources folder that cannot be loaded, each with
    // the reason.
    static std::vector<std::string> missingModules();

    // The alerts for the two cases, worded for this system.
    static Alert missingToolsAlert(const std::vector<std::string>& missing);
    static Alert missingModulesAlert(const std::vector<std::string>& missing);

    // Where a system program is found: the first of the system folders
    // holding it, else empty.
    static std::string findSystemTool(const std::string& name, const ExecutableTest& executable);
};

} // namespace tolvarin
