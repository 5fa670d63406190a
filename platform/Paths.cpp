#include "platform/Paths.h"

#include "platform/LaunchingUser.h"

#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvarin {

namespace {

std::string envOr(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return (value != nullptr && *value != '\0') ? std::string(value) : fallback;
}

std::string stripTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

// A build tree keeps every resource in Resources/ next to bin/; an installed
// tree splits them by kind under the prefix that holds bin/. The executable's
// path has no links or dot-dots, so its folder's parent is the prefix.
std::string resourcesDirectoryOr(const char* installedSubdirectory) {
    const std::string bin = Paths::executableDirectory();
    const auto slash = bin.find_last_of('/');
    const std::string prefix = slash == std::string::npos ? bin + "/.." : bin.substr(0, slash);
    struct stat st {};
    const bool buildTree = ::stat((prefix + "/Resources").c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    return stripTrailingSlashes(envOr(
        "TOLVARIN_RESOURCES", prefix + "/" + (buildTree ? "Resources" : installedSubdirectory)));
}

} // namespace

namespace Paths {

std::string deviceDirectory() {
    return stripTrailingSlashes(envOr("TOLVARIN_DEV_DIR", "/dev"));
}

std::string identifierForRawDevicePath(const std::string& path) {
    for (const std::string& prefix : {deviceDirectory() + "/", std::string("/dev/")}) {
        if (path.rfind(prefix, 0) == 0) {
            return path.substr(prefix.size());
        }
    }
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string rawDevicePathForIdentifier(const std::string& identifier) {
    if (identifier.rfind("/dev/", 0) == 0) {
        return deviceDirectory() + "/" + identifier.substr(5);
    }
    if (!identifier.empty() && identifier.front() == '/') {
        return identifier;
    }
    return deviceDirectory() + "/" + identifier;
}

std::string homeDirectory() {
    const char* override = std::getenv("TOLVARIN_HOME");
    if (override != nullptr && *override != '\0') {
        return stripTrailingSlashes(override);
    }
    return LaunchingUser::current().homeDirectory;
}

std::string executableDirectory() {
    char buffer[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (n <= 0) {
        return ".";
    }
    std::string path(buffer, static_cast<size_t>(n));
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string resourcesDirectory() {
    return resourcesDirectoryOr("lib/tolvarin");
}

std::string sharedResourcesDirectory() {
    return resourcesDirectoryOr("share/tolvarin");
}

std::string diskToolPath() {
    return envOr("TOLVARIN_DISKTOOL", resourcesDirectory() + "/tolvarin-disktool");
}

} // namespace Paths

} // namespace tolvarin
