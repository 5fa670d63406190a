#include "cli/CliApp.h"

#include "cli/CliOptions.h"
#include "cli/CursoryCommand.h"
#include "cli/DiagnosticsCommand.h"
#include "cli/ForgetCommand.h"
#include "cli/HistoryCommand.h"
#include "cli/ListCommand.h"
#include "cli/NormalCommand.h"

#include <cstdio>
#include <string>
#include <vector>

namespace tolvarin {

namespace CliApp {

int run(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    auto options = parseCliOptions(args, &error);
    if (!options) {
        std::fprintf(stderr, "tolvarin-cli: %s\n%s", error.c_str(), cliUsage());
        return 2;
    }
    if (options->command == "help") {
        std::fputs(cliUsage(), stdout);
        return 0;
    }
    if (options->command == "version") {
        std::printf("tolvarin-cli %s\n", TOLVARIN_VERSION);
        return 0;
    }
    if (options->command == "list") {
        return runListCommand(options->json);
    }
    if (options->command == "cursory") {
        return CursoryCommand(*options).run();
    }
    if (options->command == "normal") {
        return NormalCommand(*options).run();
    }
    if (options->command == "history") {
        return HistoryCommand(*options).run();
    }
    if (options->command == "diagnostics") {
        return DiagnosticsCommand(*options).run();
    }
    if (options->command == "forget") {
        return ForgetCommand(*options).run();
    }
    std::fprintf(stderr, "tolvarin-cli: %s is not available in this build yet\n",
                 options->command.c_str());
    return 2;
}

} // namespace CliApp

} // namespace tolvarin
