#include "platform/MemoryInfo.h"

#include "platform/SafeFile.h"

#include <algorithm>
#include <charconv>
#include <sstream>
#include <vector>

namespace tolvarin {

namespace {

constexpr const char* kCgroupMount = "/sys/fs/cgroup";
// cgroup v1 writes its "no limit" as the largest page-aligned 64-bit value.
constexpr uint64_t kNoLimitAbove = uint64_t{1} << 60;

std::optional<uint64_t> number(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.remove_suffix(1);
    }
    uint64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}

// The room under one group's limit, if it has one.
std::optional<uint64_t>
roomAt(const std::string& dir, const char* limitName, const char* usageName,
       const std::function<std::optional<std::string>(const std::string&)>& readFile) {
    std::string prefix = dir.empty() ? std::string() : dir + "/";
    std::optional<std::string> limitText = readFile(prefix + limitName);
    if (!limitText) {
        return std::nullopt;
    }
    std::optional<uint64_t> limit = number(*limitText); // "max" reads as none
    if (!limit || *limit >= kNoLimitAbove) {
        return std::nullopt;
    }
    std::optional<std::string> usageText = readFile(prefix + usageName);
    uint64_t usage = usageText ? number(*usageText).value_or(0) : 0;
    return *limit > usage ? *limit - usage : 0;
}

// The tightest room from dir up to the top of its hierarchy.
std::optional<uint64_t>
roomUpFrom(std::string dir, const char* limitName, const char* usageName,
           const std::function<std::optional<std::string>(const std::string&)>& readFile) {
    std::optional<uint64_t> tightest;
    for (;;) {
        std::optional<uint64_t> room = roomAt(dir, limitName, usageName, readFile);
        if (room) {
            tightest = tightest ? std::min(*tightest, *room) : *room;
        }
        if (dir.empty()) {
            return tightest;
        }
        auto slash = dir.find_last_of('/');
        dir = slash == std::string::npos ? std::string() : dir.substr(0, slash);
    }
}

std::string relativeGroupPath(std::string path) {
    while (!path.empty() && path.front() == '/') {
        path.erase(0, 1);
    }
    // A group path never climbs; one that tries is ignored.
    if (path.find("..") != std::string::npos) {
        return std::string();
    }
    return path;
}

} // namespace

uint64_t MemoryFacts::usable() const {
    if (available && cgroupRoom) {
        return std::min(*available, *cgroupRoom);
    }
    return available.value_or(cgroupRoom.value_or(0));
}

namespace MemoryInfo {

MemoryFacts parseMeminfo(const std::string& text) {
    MemoryFacts facts;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        auto colon = line.find(':');
        if (colon == std::string::npos) {
            continue;
        }
        std::string key = line.substr(0, colon);
        std::istringstream rest(line.substr(colon + 1));
        uint64_t kib = 0;
        if (!(rest >> kib)) {
            continue;
        }
        // The kernel writes kB and means KiB; a value past 2^54 KiB is no
        // memory size.
        if (kib > (uint64_t{1} << 54)) {
            continue;
        }
        if (key == "MemTotal") {
            facts.total = kib * 1024;
        } else if (key == "MemAvailable") {
            facts.available = kib * 1024;
        }
    }
    return facts;
}

std::optional<uint64_t>
cgroupRoom(const std::string& selfCgroupText,
           const std::function<std::optional<std::string>(const std::string&)>& readFile) {
    std::optional<uint64_t> tightest;
    auto keep = [&](std::optional<uint64_t> room) {
        if (room) {
            tightest = tightest ? std::min(*tightest, *room) : *room;
        }
    };
    std::istringstream in(selfCgroupText);
    std::string line;
    while (std::getline(in, line)) {
        // hierarchy-ID:controller-list:path
        auto first = line.find(':');
        auto second = first == std::string::npos ? first : line.find(':', first + 1);
        if (second == std::string::npos) {
            continue;
        }
        std::string controllers = line.substr(first + 1, second - first - 1);
        std::string path = relativeGroupPath(line.substr(second + 1));
        if (line.compare(0, first, "0") == 0 && controllers.empty()) {
            keep(roomUpFrom(path, "memory.max", "memory.current", readFile));
            continue;
        }
        std::istringstream list(controllers);
        std::string controller;
        while (std::getline(list, controller, ',')) {
            if (controller == "memory") {
                keep(roomUpFrom(path.empty() ? "memory" : "memory/" + path, "memory.limit_in_bytes",
                                "memory.usage_in_bytes", readFile));
            }
        }
    }
    return tightest;
}

MemoryFacts current() {
    MemoryFacts facts;
    if (std::optional<std::string> meminfo = SafeFile::read("/proc/meminfo")) {
        facts = parseMeminfo(*meminfo);
    }
    if (std::optional<std::string> groups = SafeFile::read("/proc/self/cgroup")) {
        facts.cgroupRoom = cgroupRoom(*groups, [](const std::string& relative) {
            return SafeFile::read(std::string(kCgroupMount) + "/" + relative);
        });
    }
    return facts;
}

} // namespace MemoryInfo

} // namespace tolvarin
