// The whole-file check every data file passes before a normal scan uses it:
// the warning line and the trailer naming the file, on arbitrary bytes, with
// arbitrary file names.
#include "store/IntegrityChecker.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>

using namespace tolvarin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    std::string name = input.ConsumeRandomLengthString(64);
    std::string text = input.ConsumeRemainingBytesAsString();

    IntegrityChecker::FileCheck result = IntegrityChecker::checkFileText(text, name);
    // A sound file stays sound with one newline more or less at its end.
    if (result == IntegrityChecker::FileCheck::Sound) {
        std::string other =
            !text.empty() && text.back() == '\n' ? text.substr(0, text.size() - 1) : text + "\n";
        if (IntegrityChecker::checkFileText(other, name) != IntegrityChecker::FileCheck::Sound) {
            std::fprintf(stderr, "trailer check depends on the final newline\n");
            __builtin_trap();
        }
    }
    return 0;
}
