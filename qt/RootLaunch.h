#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tolvarin {

// Reading raw devices needs root rights. Started by an ordinary user, the
// desktop program says so and offers to restart itself through pkexec with
// the project's polkit policy, keeping what it needs of the environment; on
// a Wayland session it lets root use XWayland (xhost) for the life of the
// run and takes that back at the end. The decisions are plain functions of
// the environment, so that they can be checked without a desktop.
namespace RootLaunch {

using Environment = std::map<std::string, std::string>;

// Set to 1, the program runs as the user who started it: for image files and
// units the user may read (the demo, tests).
constexpr const char* kWithoutRootVariable = "TOLVARIN_WITHOUT_ROOT";
// The option that carries one environment variable into the restarted
// program (pkexec starts it with a clean environment).
constexpr const char* kSetEnvOption = "--setenv";
// What pkexec answers when no authorization was obtained: the dialog was
// dismissed (126), or the user was not authorized or nobody could ask (127).
constexpr int kPkexecDismissed = 126;
constexpr int kPkexecNotAuthorized = 127;

enum class Decision {
    runHere,       // root already, or asked to run without root
    restart,       // ask the user, then restart through pkexec
    cannotRestart, // say why and end
};

struct Plan {
    Decision decision = Decision::runHere;
    // Why the program cannot restart (cannotRestart).
    std::string problem;
    // Whether there is a display to show the problem or the question on.
    bool display = false;
};

// The environment of this process.
Environment currentEnvironment();

// Whether the session shows windows: DISPLAY or WAYLAND_DISPLAY set, and
// QT_QPA_PLATFORM not one that draws nowhere (offscreen, minimal).
bool hasDisplay(const Environment& env);
bool isWaylandSession(const Environment& env);
// Whether the polkit service can be reached: the system bus socket exists.
bool systemBusReachable(const Environment& env,
                        const std::function<bool(const std::string&)>& exists);

// What to do at start-up. findProgram answers the path of a program in PATH
// (empty when missing); exists tells whether a file exists.
Plan plan(const Environment& env, bool root,
          const std::function<std::string(const std::string&)>& findProgram,
          const std::function<bool(const std::string&)>& exists);

// The names kept across the restart: the display, the session's runtime
// folder, the locale and the program's own TOLVARIN_* settings.
bool isKeptVariable(const std::string& name);
// pkexec PROGRAM --setenv NAME=VALUE ... ARGS: program must be absolute.
std::vector<std::string> restartCommand(const std::string& pkexec, const std::string& program,
                                        const std::vector<std::string>& args,
                                        const Environment& env);
// Takes the --setenv NAME=VALUE pairs out of args and sets the kept ones in
// this process's environment; answers the other arguments.
std::vector<std::string> applySetenvArguments(const std::vector<std::string>& args);

// The texts the user reads.
std::string needsRootText(const std::string& userName);
std::string refusedText(int pkexecStatus);

} // namespace RootLaunch

} // namespace tolvarin
