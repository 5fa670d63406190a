// The reader of a test's measurement file, on arbitrary file contents: it
// must refuse what is not a whole record, and what it accepts must write
// back to a file that reads the same again.
#include "store/MeasurementFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

using namespace tolvarin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string why;
    std::optional<TestMeasurements> first = MeasurementFile::fromJson(text, &why);
    if (!first) {
        if (why.empty()) {
            std::fprintf(stderr, "a refusal without a reason\n");
            __builtin_trap();
        }
        return 0;
    }
    std::string written = MeasurementFile::toJson(*first);
    std::optional<TestMeasurements> again = MeasurementFile::fromJson(written, &why);
    if (!again) {
        std::fprintf(stderr, "an accepted record wrote back unreadable: %s\n", why.c_str());
        __builtin_trap();
    }
    if (MeasurementFile::toJson(*again) != written) {
        std::fprintf(stderr, "an accepted record does not read back the same\n");
        __builtin_trap();
    }
    // What the pictures and the history read of it.
    for (const Stretch& s : again->map.stretches()) {
        (void)s.latencyClass();
        (void)s.rate();
    }
    (void)again->surfaceReads.quantileMicros(0.5);
    (void)again->map.stretchAt(again->lastPosition);
    return 0;
}
