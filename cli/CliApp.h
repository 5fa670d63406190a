#pragma once

namespace tolvarin {

// The terminal face: parses the command line and runs the command.
namespace CliApp {
int run(int argc, char** argv);
}

} // namespace tolvarin
