// tolvarin-disktool: the disk tool on Linux. Runs lsblk (and smartctl for a
// report), hands their JSON to DiskToolFormatter and prints the answer.

#include "platform/ProcessRunner.h"
#include "platform/SystemTools.h"
#include "unitprobe/DiskToolFormatter.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
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

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);

    DiskToolFormatter::Sources sources;
    sources.listBlockDevices = [] {
        return ProcessRunner::run(SystemTools::find("lsblk"),
                                  {"--json", "--bytes", "-o", DiskToolFormatter::lsblkColumns});
    };
    std::string smartctl = SystemTools::find("smartctl");
    if (::access(smartctl.c_str(), X_OK) == 0) {
        sources.smartHealth = [smartctl](const std::string& devicePath) {
            return ProcessRunner::run(smartctl, {"--json", "-H", devicePath});
        };
    }
    sources.mountTable = readMountTable;

    DiskToolFormatter::Result result = DiskToolFormatter::run(args, sources);
    bool written = writeAll(stdout, result.out) && std::fflush(stdout) == 0;
    writeAll(stderr, result.err);
    if (!written) {
        std::fputs("tolvarin-disktool: could not write the answer\n", stderr);
        return 1;
    }
    return result.status;
}
