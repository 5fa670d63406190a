#include "cli/CliApp.h"

#include <cstdio>
#include <string>

namespace {

int usage() {
    std::fprintf(stderr, "usage: tolvarin-cli version\n");
    return 2;
}

} // namespace

namespace CliApp {

int run(int argc, char** argv) {
    if (argc < 2) {
        return usage();
    }
    std::string command = argv[1];
    if (command == "version") {
        std::printf("tolvarin-cli %s\n", TOLVARIN_VERSION);
        return 0;
    }
    return usage();
}

} // namespace CliApp
