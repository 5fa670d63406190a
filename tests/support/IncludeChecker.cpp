#include "tests/support/IncludeChecker.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>

namespace tolvarin {

namespace {

// Folders of one rank sit beside each other and may not include each other.
const std::map<std::string, int>& ranks() {
    static const std::map<std::string, int> r = {
        {"base", 0},  {"platform", 1}, {"unitprobe", 2},   {"logging", 2},
        {"store", 3}, {"engine", 4},   {"diagnostics", 5}, {"report", 5},
        {"app", 6},   {"cli", 7},      {"qt", 7},
    };
    return r;
}

// Headers of the kernel's own interfaces and of Linux libraries.
bool linuxSpecific(const std::string& header) {
    static const char* const prefixes[] = {"linux/",        "sys/ioctl.h", "sys/sysmacros.h",
                                           "sys/mount.h",   "sys/vfs.h",   "sys/statfs.h",
                                           "sys/sysinfo.h", "blkid/",      "liburing",
                                           "sys/inotify.h", "mntent.h",    "sys/epoll.h"};
    for (const char* prefix : prefixes) {
        if (header.rfind(prefix, 0) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

std::optional<std::string> IncludeChecker::violation(const std::string& file,
                                                     const std::string& line) {
    static const std::regex include(R"(^\s*#\s*include\s*([<"])([^>"]+)[>"])");
    std::smatch m;
    if (!std::regex_search(line, m, include)) {
        return std::nullopt;
    }
    const std::string folder = file.substr(0, file.find('/'));
    auto own = ranks().find(folder);
    if (own == ranks().end() || file.find('/') == std::string::npos) {
        return std::nullopt; // tests, benchmarks, fuzzers: outside the order
    }
    const std::string header = m[2];
    if (m[1] == "<") {
        if (header.rfind("Q", 0) == 0 && folder != "qt") {
            return "Qt outside the desktop face: " + header;
        }
        // The disk tool adapter is a program of its own beside the layers.
        if (linuxSpecific(header) && folder != "platform" &&
            file.rfind("unitprobe/disktool/", 0) != 0) {
            return "a Linux-specific header outside platform/: " + header;
        }
        return std::nullopt;
    }
    const std::string target = header.substr(0, header.find('/'));
    if (target == folder || header.find('/') == std::string::npos) {
        return std::nullopt;
    }
    auto other = ranks().find(target);
    if (other == ranks().end()) {
        return folder + "/ includes " + target + "/, which is outside the layers";
    }
    if (other->second > own->second) {
        return folder + "/ includes " + target + "/, a layer above it";
    }
    if (other->second == own->second) {
        return folder + "/ includes " + target + "/, a layer beside it";
    }
    return std::nullopt;
}

std::vector<std::string> IncludeChecker::scanTree(const std::string& root) {
    namespace fs = std::filesystem;
    std::vector<std::string> found;
    for (const auto& [folder, rank] : ranks()) {
        fs::path dir = fs::path(root) / folder;
        if (!fs::is_directory(dir)) {
            continue;
        }
        for (const auto& entry : fs::recursive_directory_iterator(dir)) {
            std::string ext = entry.path().extension().string();
            if (!entry.is_regular_file() || (ext != ".cpp" && ext != ".h" && ext != ".c")) {
                continue;
            }
            std::string relative = fs::relative(entry.path(), root).string();
            std::ifstream in(entry.path());
            std::string line;
            for (int number = 1; std::getline(in, line); ++number) {
                if (auto why = violation(relative, line)) {
                    found.push_back(relative + ":" + std::to_string(number) + ": " + *why);
                }
            }
        }
    }
    return found;
}

} // namespace tolvarin
