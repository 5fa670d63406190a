#pragma once

#include <string>

namespace tolvarin {

// Where things are on this machine. Each answer honours the test overrides
// TOLVARIN_DEV_DIR, TOLVARIN_HOME and TOLVARIN_RESOURCES.
namespace Paths {

// "/dev" or TOLVARIN_DEV_DIR.
std::string deviceDirectory();
// The raw device path of a unit: "sda2", "/dev/sda2" and "rdisk" style names
// all become deviceDirectory() + "/NAME"; any other absolute path is kept.
std::string rawDevicePathForIdentifier(const std::string& identifier);
// The identifier (kernel name) of a raw device path: "/dev/sda2" -> "sda2".
std::string identifierForRawDevicePath(const std::string& path);
// The launching user's home directory (not root's under sudo), or TOLVARIN_HOME.
std::string homeDirectory();
// The folder holding the modules and the disk tool adapter:
// TOLVARIN_RESOURCES, else ../Resources next to the executable in a build
// tree, else ../lib/tolvarin in an installed tree.
std::string resourcesDirectory();
// The folder holding the plain-file resources (the report template):
// TOLVARIN_RESOURCES, else ../Resources in a build tree, else
// ../share/tolvarin in an installed tree.
std::string sharedResourcesDirectory();
// The disk tool program: TOLVARIN_DISKTOOL, else tolvarin-disktool in the
// resources folder.
std::string diskToolPath();
// The directory of the running executable.
std::string executableDirectory();

} // namespace Paths

} // namespace tolvarin
