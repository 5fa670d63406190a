// The reader of the ".siz" file and its update: whatever it reads, what it
// writes back reads as the values it meant to write.
#include "store/FileProcessor.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>

using namespace tolvarin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    int64_t newSize = input.ConsumeIntegralInRange<int64_t>(0, INT64_MAX);
    std::string text = input.ConsumeRemainingBytesAsString();

    auto old = FileProcessor::readSizingValues(text);
    if (!old) {
        return 0;
    }
    std::string outcome;
    FileProcessor::SizingValues now = FileProcessor::updatedSizingValues(*old, newSize, &outcome);
    auto back = FileProcessor::readSizingValues(FileProcessor::sizingFileText(now, "M01"));
    if (!back || back->current != now.current || back->previous != now.previous ||
        back->original != now.original || back->count != now.count || outcome.empty()) {
        std::fprintf(stderr, "sizing file does not read back as written\n");
        __builtin_trap();
    }
    return 0;
}
