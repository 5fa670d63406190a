// tolvarin-disktool: the disk tool on Linux. Runs lsblk (and smartctl for a
// report), hands their JSON to DiskToolFormatter and prints the answer.

#include "platform/BlockProbe.h"
#include "platform/ProcessRunner.h"
#include "platform/SystemTools.h"
#include "unitprobe/DiskToolFormatter.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace tolvarin;

namespace {

std::optional<std::string> readMountTable() {
    std::ifstream in("/proc/self/mounts");
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool writeAll(FILE* stream, const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), stream) == text.size();
}

// lsblk reads sysfs and the udev database and answers at once; smartctl
// asks the drive itself, which behind a slow USB hub or a bridge that wakes
// the disk takes seconds. Both together stay well inside the limit the
// disk tool's own callers give it (ProcessRunner::defaultLimits()).
ProcessLimits lsblkLimits() {
    ProcessLimits limits;
    limits.time = std::chrono::seconds(10);
    return ProcessRunner::limitsWithin(limits);
}

ProcessLimits smartctlLimits() {
    ProcessLimits limits;
    limits.time = std::chrono::seconds(20);
    return ProcessRunner::limitsWithin(limits);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);

    DiskToolFormatter::Sources sources;
    sources.listBlockDevices = [] {
        return ProcessRunner::run(SystemTools::find("lsblk"),
                                  {"--json", "--bytes", "-o", DiskToolFormatter::lsblkColumns},
                                  lsblkLimits());
    };
    std::string smartctl = SystemTools::find("smartctl");
    if (::access(smartctl.c_str(), X_OK) == 0) {
        sources.smartHealth = [smartctl](const std::string& devicePath) {
            return ProcessRunner::run(smartctl, {"--json", "-H", devicePath}, smartctlLimits());
        };
    }
    sources.mountTable = readMountTable;
    // Only device nodes are probed: /dev/NAME for the names lsblk gave.
    sources.probeContent = [](const std::string& devicePath) -> std::optional<BlockContent> {
        struct stat st {};
        if (::stat(devicePath.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) {
            return std::nullopt;
        }
        return BlockProbe::probe(devicePath);
    };

    DiskToolFormatter::Result result = DiskToolFormatter::run(args, sources);
    bool written = writeAll(stdout, result.out) && std::fflush(stdout) == 0;
    writeAll(stderr, result.err);
    if (!written) {
        std::fputs("tolvarin-disktool: could not write the answer\n", stderr);
        return 1;
    }
    return result.status;
}
