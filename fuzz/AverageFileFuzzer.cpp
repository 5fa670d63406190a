// First averages and folds on arbitrary baseline, average and current files.
#include "store/AverageFile.h"
#include "store/IntegrityChecker.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>

using namespace tolvarin;

namespace {

void fail(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    __builtin_trap();
}

void checkKind(AverageFile::Kind kind, const std::string& first, const std::string& second) {
    // A first average is a sound average file of sample size 1.
    if (auto made = AverageFile::firstAverageText(kind, first, "M01.ska")) {
        if (IntegrityChecker::checkFileText(*made, "M01.ska") !=
            IntegrityChecker::FileCheck::Sound) {
            fail("a first average does not pass the file check");
        }
        if (AverageFile::sampleSize(*made) != 1) {
            fail("a first average is not of sample size 1");
        }
    }
    // A fold is sound, one sample larger, and can itself be folded again.
    if (auto folded = AverageFile::foldText(kind, first, second, "M01.skt")) {
        if (IntegrityChecker::checkFileText(*folded, "M01.skt") !=
            IntegrityChecker::FileCheck::Sound) {
            fail("a fold does not pass the file check");
        }
        auto before = AverageFile::sampleSize(first);
        auto after = AverageFile::sampleSize(*folded);
        if (!before || !after || *after != std::min(*before + 1, AverageFile::kMaxSampleSize)) {
            fail("a fold did not count one more sample");
        }
        if (!AverageFile::foldText(kind, *folded, second, "M01.skt")) {
            fail("a fold's output cannot be folded again");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    std::string first = input.ConsumeRandomLengthString(size);
    std::string second = input.ConsumeRemainingBytesAsString();
    checkKind(AverageFile::Kind::Surface, first, second);
    checkKind(AverageFile::Kind::Seek, first, second);
    return 0;
}
