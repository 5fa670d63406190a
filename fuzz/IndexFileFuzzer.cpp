// The readers of the index files: the section layout from ".ssx" (the
// sector allocation sweep) and the seek locations from ".skx" (the seek
// scan). Both read a path, so each input goes through one scratch file.
#include "engine/DiskContext.h"
#include "engine/SeekScan.h"
#include "engine/SizingSweep.h"
#include "platform/SafeFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

using namespace tolvarin;

namespace {

// One scratch file for the whole run, in the temporary folder (TMPDIR);
// scripts/fuzz.sh gives each run its own and removes it afterwards.
std::string scratchFile() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "tolvarin-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::abort();
    }
    return pattern + "/M01.idx";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    static const std::string path = scratchFile();
    UniqueFd fd = SafeFile::openForTruncate(path);
    if (!fd || !SafeFile::writeAll(fd.get(), text)) {
        std::abort();
    }
    fd.reset();

    DiskContext disk;
    // Small enough that the finest layout the reader accepts (512-byte
    // sections) stays a table of some 130,000 entries.
    disk.deviceSize = int64_t{64} * 1048576 + 4096;
    SizingSweep::doSweepSectorAllocationWithFile(disk, path, "");
    int64_t covered = 0;
    for (const ScanSection& s : disk.sections) {
        if (s.end < s.start || s.start != covered) {
            std::fprintf(stderr, "sections leave a gap or overlap\n");
            __builtin_trap();
        }
        covered = s.end + 1;
    }

    SeekScan::readSeekIndexFile(path);
    return 0;
}
