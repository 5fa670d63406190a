#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace tolvarin {

// How much memory this process could take without pushing the machine (or
// its own control group) into the out-of-memory killer.
struct MemoryFacts {
    // Physical memory (MemTotal); 0 when unknown.
    uint64_t total = 0;
    // What the kernel estimates can be taken without swapping (MemAvailable);
    // nullopt when the kernel does not say.
    std::optional<uint64_t> available;
    // The room left under the tightest memory limit of the process's control
    // groups (limit minus usage, over every level that has a limit); nullopt
    // when no level has one.
    std::optional<uint64_t> cgroupRoom;

    // The smaller of available and cgroupRoom (0 when neither is known).
    uint64_t usable() const;
};

namespace MemoryInfo {

// The facts of this machine, from /proc/meminfo and the control groups of
// /proc/self/cgroup (v2 memory.max/memory.current, v1
// memory.limit_in_bytes/memory.usage_in_bytes).
MemoryFacts current();

// The pieces, on given texts, for tests.
// MemTotal and MemAvailable of a /proc/meminfo text (their kB values in
// bytes); a missing line leaves its field unset (total 0).
MemoryFacts parseMeminfo(const std::string& text);
// The room under the limits of the groups a /proc/self/cgroup text names.
// readFile answers the content of a file under the cgroup mount (a path
// relative to it such as "user.slice/memory.max"), nullopt when missing.
std::optional<uint64_t>
cgroupRoom(const std::string& selfCgroupText,
           const std::function<std::optional<std::string>(const std::string&)>& readFile);

} // namespace MemoryInfo

} // namespace tolvarin
