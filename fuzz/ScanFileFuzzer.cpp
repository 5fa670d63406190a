// The resume readers of the surface and seek scan files, the completion test
// and the RPI readers, on arbitrary file contents.
#include "engine/DiskContext.h"
#include "store/DataFileFormat.h"
#include "store/PerformanceIndex.h"
#include "store/ScanFileReader.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

using namespace tolvarin;

namespace {

void fail(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    __builtin_trap();
}

// What a resume read keeps must be what a second read of it loads, with
// nothing left to cut: the scan appends to exactly the records it loaded.
template <typename Read> void checkResume(std::string_view text, Read read) {
    ScanFileReader::Resume first = read(text);
    if (first.records < 0 || first.records > 8) {
        fail("more records loaded than the table holds");
    }
    if (!first.rewrite) {
        return;
    }
    if (!DataFileFormat::hasHeader(first.kept)) {
        fail("a cut-back file lost its header");
    }
    ScanFileReader::Resume again = read(first.kept);
    if (again.rewrite || again.records != first.records) {
        fail("a cut-back file is not stable");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);

    checkResume(text, [](std::string_view t) {
        DiskContext disk;
        disk.sections.resize(8);
        return ScanFileReader::resumeSurfaceText(t, disk);
    });
    checkResume(text, [](std::string_view t) {
        DiskContext disk;
        disk.seekPairs.resize(8);
        int errors = 0;
        ScanFileReader::Resume r = ScanFileReader::resumeSeekText(t, disk, errors);
        if (errors != disk.seekErrors || errors > r.records) {
            fail("seek errors counted apart from the records");
        }
        return r;
    });

    ScanFileReader::isScanCompleteText(text);
    double linear = 0;
    double ratio = 0;
    PerformanceIndex::readRPIs(text, "RPISSLIN:", "RPISSRAT:", linear, ratio);
    PerformanceIndex::compareLINBetweenInitial(linear, ratio);
    PerformanceIndex::compareRATBetweenInitial(linear, ratio);
    return 0;
}
