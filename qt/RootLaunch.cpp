#include "qt/RootLaunch.h"

#include <cstdlib>
#include <cstring>
#include <unistd.h>

extern char** environ;

namespace tolvarin {

namespace RootLaunch {

namespace {

std::string valueOf(const Environment& env, const std::string& name) {
    auto found = env.find(name);
    return found == env.end() ? std::string() : found->second;
}

} // namespace

Environment currentEnvironment() {
    Environment env;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const char* equals = std::strchr(*entry, '=');
        if (equals != nullptr) {
            env[std::string(*entry, static_cast<size_t>(equals - *entry))] = equals + 1;
        }
    }
    return env;
}

bool hasDisplay(const Environment& env) {
    const std::string platform = valueOf(env, "QT_QPA_PLATFORM");
    if (platform.starts_with("offscreen") || platform.starts_with("minimal")) {
        return false;
    }
    return !valueOf(env, "DISPLAY").empty() || !valueOf(env, "WAYLAND_DISPLAY").empty();
}

bool isWaylandSession(const Environment& env) {
    return !valueOf(env, "WAYLAND_DISPLAY").empty() ||
           valueOf(env, "XDG_SESSION_TYPE") == "wayland";
}

bool systemBusReachable(const Environment& env,
                        const std::function<bool(const std::string&)>& exists) {
    std::string address = valueOf(env, "DBUS_SYSTEM_BUS_ADDRESS");
    const std::string prefix = "unix:path=";
    if (address.starts_with(prefix)) {
        std::string path = address.substr(prefix.size());
        return exists(path.substr(0, path.find(',')));
    }
    // Another kind of address: pkexec will find out.
    if (!address.empty()) {
        return true;
    }
    return exists("/run/dbus/system_bus_socket") || exists("/var/run/dbus/system_bus_socket");
}

Plan plan(const Environment& env, bool root,
          const std::function<std::string(const std::string&)>& findProgram,
          const std::function<bool(const std::string&)>& exists) {
    Plan result;
    result.display = hasDisplay(env);
    if (root || valueOf(env, kWithoutRootVariable) == "1") {
        return result;
    }
    result.decision = Decision::cannotRestart;
    if (!result.display) {
        result.problem = "There is no desktop session here to ask for those rights in. Start "
                         "Tolvarin from a desktop session, or test from a terminal with "
                         "\"sudo tolvarin-cli\".";
    } else if (findProgram("pkexec").empty()) {
        result.problem = "pkexec, which asks for those rights, is not installed (Debian "
                         "package \"pkexec\"). Start Tolvarin with \"sudo -E tolvarin\" "
                         "instead, or install pkexec.";
    } else if (!systemBusReachable(env, exists)) {
        result.problem = "The polkit service, which asks for those rights, cannot be reached "
                         "(no system message bus). Start Tolvarin with \"sudo -E tolvarin\" "
                         "instead.";
    } else {
        result.decision = Decision::restart;
    }
    return result;
}

bool isKeptVariable(const std::string& name) {
    static const char* const kept[] = {
        "DISPLAY", "XAUTHORITY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR", "XDG_SESSION_TYPE",
        "LANG",    "LANGUAGE",   "LC_ALL",          "QT_QPA_PLATFORM", "QT_SCALE_FACTOR"};
    for (const char* k : kept) {
        if (name == k) {
            return true;
        }
    }
    return name.starts_with("TOLVARIN_") && name != kWithoutRootVariable;
}

std::vector<std::string> restartCommand(const std::string& pkexec, const std::string& program,
                                        const std::vector<std::string>& args,
                                        const Environment& env) {
    std::vector<std::string> command{pkexec, program};
    Environment kept;
    for (const auto& [name, value] : env) {
        if (isKeptVariable(name)) {
            kept[name] = value;
        }
    }
    // Without an explicit authority file X looks in the home folder, and
    // root's is another.
    if (kept.count("XAUTHORITY") == 0 && !valueOf(env, "HOME").empty() &&
        !valueOf(env, "DISPLAY").empty()) {
        kept["XAUTHORITY"] = valueOf(env, "HOME") + "/.Xauthority";
    }
    // On Wayland root draws through XWayland, which xhost opened to it.
    if (isWaylandSession(env) && !valueOf(env, "DISPLAY").empty()) {
        kept["QT_QPA_PLATFORM"] = "xcb";
    }
    for (const auto& [name, value] : kept) {
        command.push_back(kSetEnvOption);
        command.push_back(name + "=" + value);
    }
    command.insert(command.end(), args.begin(), args.end());
    return command;
}

std::vector<std::string> applySetenvArguments(const std::vector<std::string>& args) {
    std::vector<std::string> rest;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == kSetEnvOption && i + 1 < args.size()) {
            const std::string& pair = args[++i];
            size_t equals = pair.find('=');
            if (equals != std::string::npos && equals > 0 &&
                isKeptVariable(pair.substr(0, equals))) {
                ::setenv(pair.substr(0, equals).c_str(), pair.substr(equals + 1).c_str(), 1);
            }
            continue;
        }
        rest.push_back(args[i]);
    }
    return rest;
}

std::string needsRootText(const std::string& userName) {
    return "Tolvarin reads disks directly, and that needs administrator (root) rights. It was "
           "started by " +
           (userName.empty() ? std::string("an ordinary user") : userName) + ".";
}

std::string refusedText(int pkexecStatus) {
    if (pkexecStatus == kPkexecDismissed) {
        return "The request for administrator rights was dismissed; Tolvarin was not started.";
    }
    return "Administrator rights were not granted (no authentication agent answered, or the "
           "password was not accepted); Tolvarin was not started.";
}

} // namespace RootLaunch

} // namespace tolvarin
