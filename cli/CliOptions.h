#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tolvarin {

// The command line of tolvarin-cli, parsed once.
struct CliOptions {
    std::string command; // list, cursory, normal, diagnostics, history, forget, version
    std::string unit;    // identifier or raw device path

    // Common options.
    std::optional<std::string> logFile;
    std::optional<bool> probe;
    std::optional<int> errorLimit;
    std::map<int, int> answers;
    bool yes = false;
    bool json = false;

    // cursory
    bool noSurface = false;
    bool noSeek = false;
    std::optional<std::pair<int, int>> limit; // start and end in GB
    bool repair = false;
    std::optional<int> queueDepth; // reads in flight, 1 to 32

    // cursory and normal
    std::optional<std::string> mapFile; // the surface map as a PNG

    // diagnostics
    bool noAnalysis = false;
    bool latestOnly = false;
    std::optional<int> interfaceIterations;
    std::optional<int> memoryIterations;
};

// Parses argv; on bad usage answers nullopt and puts a message in error.
std::optional<CliOptions> parseCliOptions(const std::vector<std::string>& args, std::string* error);

// The usage text printed on bad usage.
const char* cliUsage();

} // namespace tolvarin
