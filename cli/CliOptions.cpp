#include "cli/CliOptions.h"

#include <algorithm>
#include <charconv>
#include <set>

namespace tolvarin {

namespace {

bool parseInt(const std::string& text, int* out) {
    if (text.empty()) {
        return false;
    }
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, *out);
    return ec == std::errc() && ptr == end;
}

// "N=V" with V one of 1, 0, -1.
bool parseAnswer(const std::string& text, int* number, int* value) {
    auto eq = text.find('=');
    if (eq == std::string::npos) {
        return false;
    }
    if (!parseInt(text.substr(0, eq), number) || !parseInt(text.substr(eq + 1), value)) {
        return false;
    }
    return *number >= 0 && (*value == 1 || *value == 0 || *value == -1);
}

} // namespace

const char* cliUsage() {
    return "usage: tolvarin-cli list\n"
           "       tolvarin-cli cursory     UNIT [--no-surface] [--no-seek] [--limit START_GB "
           "END_GB] [--repair] [--queue-depth N] [--map FILE.png]\n"
           "       tolvarin-cli normal      UNIT [--map FILE.png]\n"
           "       tolvarin-cli diagnostics UNIT [--no-analysis] [--latest-only] [--interface N] "
           "[--memory N]\n"
           "       tolvarin-cli history     UNIT\n"
           "       tolvarin-cli forget      UNIT\n"
           "       tolvarin-cli version\n"
           "       tolvarin-cli help\n"
           "common options: --log FILE  --probe | --no-probe  --error-limit N  --answer N=V  "
           "--yes  --json\n";
}

std::optional<CliOptions> parseCliOptions(const std::vector<std::string>& args,
                                          std::string* error) {
    auto fail = [&](const std::string& text) -> std::optional<CliOptions> {
        *error = text;
        return std::nullopt;
    };
    CliOptions o;
    if (args.empty()) {
        return fail("no command given");
    }
    o.command = args[0];
    // The first thing a newcomer tries, also after a command.
    if (o.command == "-h" || std::find(args.begin(), args.end(), "--help") != args.end()) {
        o.command = "help";
        return o;
    }
    static const std::set<std::string> commands = {"list",    "cursory", "normal",  "diagnostics",
                                                   "history", "forget",  "version", "help"};
    static const std::set<std::string> unitCommands = {"cursory", "normal", "diagnostics",
                                                       "history", "forget"};
    if (commands.count(o.command) == 0) {
        return fail("unknown command '" + o.command + "'");
    }
    bool needsUnit = unitCommands.count(o.command) != 0;
    bool scans = o.command == "cursory" || o.command == "normal";

    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](const char* what) -> std::optional<std::string> {
            if (i + 1 >= args.size()) {
                return std::nullopt;
            }
            (void)what;
            return args[++i];
        };
        auto intValue = [&](const char* name, int lo, int hi, std::optional<int>* out) -> bool {
            auto v = value(name);
            int n = 0;
            if (!v || !parseInt(*v, &n) || n < lo || n > hi) {
                *error = std::string(name) + " takes a whole number from " + std::to_string(lo) +
                         " to " + std::to_string(hi);
                return false;
            }
            *out = n;
            return true;
        };
        if (a == "--log") {
            auto v = value("--log");
            if (!v || v->empty()) {
                return fail("--log takes a file name");
            }
            o.logFile = *v;
        } else if (a == "--probe") {
            o.probe = true;
        } else if (a == "--no-probe") {
            o.probe = false;
        } else if (a == "--error-limit") {
            if (!intValue("--error-limit", 1, 100, &o.errorLimit)) {
                return std::nullopt;
            }
        } else if (a == "--answer") {
            auto v = value("--answer");
            int n = 0;
            int answer = 0;
            if (!v || !parseAnswer(*v, &n, &answer)) {
                return fail("--answer takes N=V with V one of 1, 0, -1");
            }
            // Two answers to one message: which one was meant is anyone's guess.
            if (!o.answers.emplace(n, answer).second) {
                return fail("--answer " + std::to_string(n) + " is given twice");
            }
        } else if (a == "--yes") {
            o.yes = true;
        } else if (a == "--json") {
            o.json = true;
        } else if (o.command == "cursory" && a == "--no-surface") {
            o.noSurface = true;
        } else if (o.command == "cursory" && a == "--no-seek") {
            o.noSeek = true;
        } else if (o.command == "cursory" && a == "--repair") {
            o.repair = true;
        } else if (o.command == "cursory" && a == "--limit") {
            int start = 0;
            int end = 0;
            if (i + 2 >= args.size() || !parseInt(args[i + 1], &start) ||
                !parseInt(args[i + 2], &end) || start < 0 || end <= start) {
                return fail("--limit takes START_GB END_GB, whole numbers with START < END");
            }
            o.limit = std::make_pair(start, end);
            i += 2;
        } else if (o.command == "cursory" && a == "--queue-depth") {
            if (!intValue("--queue-depth", 1, 32, &o.queueDepth)) {
                return std::nullopt;
            }
        } else if (scans && a == "--map") {
            auto v = value("--map");
            if (!v || v->empty()) {
                return fail("--map takes a file name");
            }
            o.mapFile = *v;
        } else if (o.command == "diagnostics" && a == "--no-analysis") {
            o.noAnalysis = true;
        } else if (o.command == "diagnostics" && a == "--latest-only") {
            o.latestOnly = true;
        } else if (o.command == "diagnostics" && a == "--interface") {
            if (!intValue("--interface", 0, 1000, &o.interfaceIterations)) {
                return std::nullopt;
            }
        } else if (o.command == "diagnostics" && a == "--memory") {
            if (!intValue("--memory", 0, 1000, &o.memoryIterations)) {
                return std::nullopt;
            }
        } else if (!a.empty() && a[0] == '-') {
            return fail("unknown option '" + a + "' for " + o.command);
        } else if (needsUnit && o.unit.empty()) {
            o.unit = a;
        } else {
            return fail("unexpected argument '" + a + "'");
        }
    }
    if (needsUnit && o.unit.empty()) {
        return fail(o.command + " needs a UNIT");
    }
    return o;
}

} // namespace tolvarin
