#include "platform/ProcessRunner.h"

#include "platform/UniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tolvarin {

namespace {

std::vector<char*> makeArgv(const std::string& program, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.reserve(args.size() + 2);
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    return argv;
}

int decodeStatus(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return -1;
}

using Clock = std::chrono::steady_clock;

// Spawns program with stdin from /dev/null and stdout/stderr to outFd (or
// /dev/null when outFd < 0), as the leader of a process group of its own,
// with no signal blocked and the ending signals at their defaults (a caller
// that ignores SIGPIPE or blocks SIGTERM must not pass that on). Answers the
// pid, or -1 with error set.
pid_t spawn(const std::string& program, const std::vector<std::string>& args, int outFd,
            std::string* error) {
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setpgroup(&attributes, 0);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signal : {SIGPIPE, SIGTERM, SIGINT, SIGHUP}) {
        sigaddset(&defaults, signal);
    }
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                              POSIX_SPAWN_SETSIGDEF);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (outFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, outFd, STDERR_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    }
    auto argv = makeArgv(program, args);
    pid_t pid = -1;
    // Programs named without a slash are looked up in PATH, as a shell would.
    int rc = program.find('/') == std::string::npos
                 ? posix_spawnp(&pid, program.c_str(), &actions, &attributes, argv.data(), environ)
                 : posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0) {
        if (error != nullptr) {
            *error = program + ": " + std::strerror(rc);
        }
        return -1;
    }
    return pid;
}

// The first executable named program in PATH, or empty.
std::string findInPath(const std::string& program) {
    const char* pathVar = std::getenv("PATH");
    std::string dirs = pathVar != nullptr ? pathVar : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        std::string dir = dirs.substr(start, end == std::string::npos ? end : end - start);
        std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + program;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return "";
}

// Whether the program (pid) has ended, without reaping it: while it stays
// a zombie its process group id cannot be handed to another process, so
// signalling the group stays safe.
bool hasEnded(pid_t pid) {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == pid;
}

// Waits until pid has ended or until the deadline; answers whether it ended.
// Waits on pidFd where the kernel gave one, else looks every few milliseconds.
bool waitForEnd(pid_t pid, int pidFd, Clock::time_point deadline) {
    for (;;) {
        if (hasEnded(pid)) {
            return true;
        }
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        if (pidFd >= 0) {
            pollfd p{pidFd, POLLIN, 0};
            ::poll(&p, 1, static_cast<int>(left.count()));
        } else {
            ::poll(nullptr, 0, static_cast<int>(std::min<int64_t>(left.count(), 5)));
        }
    }
}

// Reads what the pipe holds now. Answers false at its end of file.
bool drain(int fd, std::string& output, std::size_t cap, bool* cut) {
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return true; // EAGAIN: nothing more for now
        }
        if (n == 0) {
            return false;
        }
        std::size_t room = cap > output.size() ? cap - output.size() : 0;
        output.append(buffer, std::min(static_cast<std::size_t>(n), room));
        if (static_cast<std::size_t>(n) > room) {
            *cut = true;
            return true;
        }
    }
}

std::string secondsText(std::chrono::milliseconds ms) {
    std::string text = std::to_string(ms.count() / 1000);
    if (ms.count() % 1000 != 0) {
        std::string fraction = std::to_string(1000 + ms.count() % 1000).substr(1);
        fraction.erase(fraction.find_last_not_of('0') + 1);
        text += "." + fraction;
    }
    return text + " s";
}

} // namespace

namespace ProcessRunner {

ProcessLimits limitsWithin(ProcessLimits limits) {
    const char* text = std::getenv("TOLVARIN_TOOL_TIME_LIMIT_MS");
    long long ms = 0;
    if (text != nullptr) {
        const char* end = text + std::strlen(text);
        auto [ptr, ec] = std::from_chars(text, end, ms);
        if (ec != std::errc() || ptr != end) {
            ms = 0;
        }
    }
    if (ms > 0) {
        limits.time = std::min(limits.time, std::chrono::milliseconds(ms));
        limits.grace = std::min(limits.grace, std::chrono::milliseconds(ms));
    }
    return limits;
}

ProcessLimits defaultLimits() {
    return limitsWithin(ProcessLimits{});
}

ProcessResult run(const std::string& program, const std::vector<std::string>& args) {
    return run(program, args, defaultLimits());
}

ProcessResult run(const std::string& program, const std::vector<std::string>& args,
                  const ProcessLimits& limits) {
    ProcessResult result;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        result.error = std::string("pipe: ") + std::strerror(errno);
        return result;
    }
    UniqueFd readEnd(fds[0]);
    UniqueFd writeEnd(fds[1]);
    ::fcntl(readEnd.get(), F_SETFL, ::fcntl(readEnd.get(), F_GETFL) | O_NONBLOCK);
    const Clock::time_point deadline = Clock::now() + limits.time;
    pid_t pid = spawn(program, args, writeEnd.get(), &result.error);
    writeEnd.reset();
    if (pid < 0) {
        return result;
    }
    result.started = true;
    UniqueFd pidFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));

    bool pipeOpen = true;
    bool ended = false;
    for (;;) {
        if (ended) {
            // Whatever the program printed is in the pipe by now; anything
            // still holding the pipe was left behind by it.
            if (pipeOpen) {
                pipeOpen =
                    drain(readEnd.get(), result.output, limits.outputBytes, &result.outputCut);
            }
            break;
        }
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            break;
        }
        pollfd waits[2];
        nfds_t count = 0;
        if (pipeOpen) {
            waits[count++] = pollfd{readEnd.get(), POLLIN, 0};
        }
        if (pidFd) {
            waits[count++] = pollfd{pidFd.get(), POLLIN, 0};
        } else {
            left = std::min(left, std::chrono::milliseconds(5));
        }
        ::poll(waits, count, static_cast<int>(std::min<int64_t>(left.count(), 1 << 30)));
        if (pipeOpen) {
            pipeOpen = drain(readEnd.get(), result.output, limits.outputBytes, &result.outputCut);
            if (result.outputCut) {
                break;
            }
        }
        ended = hasEnded(pid);
    }
    readEnd.reset();

    if (!ended) {
        // Over the limit: the whole group is asked to stop, then made to.
        ::killpg(pid, SIGTERM);
        waitForEnd(pid, pidFd.get(), Clock::now() + limits.grace);
        ::killpg(pid, SIGKILL);
    } else if (pipeOpen) {
        ::killpg(pid, SIGKILL);
    }
    if (result.timedOut) {
        result.error =
            program + " did not finish within " + secondsText(limits.time) + " and was stopped";
    } else if (result.outputCut) {
        result.error = program + " printed more than " + std::to_string(limits.outputBytes) +
                       " bytes and was stopped";
    }
    // A program stuck in the kernel (a read of a dead disk) does not die even
    // of SIGKILL; it is left behind rather than waited for without end.
    if (!waitForEnd(pid, pidFd.get(), Clock::now() + limits.grace + std::chrono::seconds(1))) {
        result.error += (result.error.empty() ? program : std::string(";")) +
                        " could not be ended and was left behind";
        return result;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            status = -1;
            break;
        }
    }
    result.exitStatus = status == -1 ? -1 : decodeStatus(status);
    return result;
}

bool launchDetached(const std::string& program, const std::vector<std::string>& args,
                    std::string* error) {
    std::string path = program.find('/') == std::string::npos ? findInPath(program) : program;
    if (path.empty()) {
        if (error != nullptr) {
            *error = program + ": not found";
        }
        return false;
    }
    auto argv = makeArgv(path, args);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        if (error != nullptr) {
            *error = std::string("pipe: ") + std::strerror(errno);
        }
        return false;
    }
    UniqueFd readEnd(fds[0]);
    UniqueFd writeEnd(fds[1]);
    // Two forks: the program is handed to init, which reaps it, so nothing
    // here has to wait for it. Only async-signal-safe calls follow a fork.
    pid_t child = ::fork();
    if (child < 0) {
        if (error != nullptr) {
            *error = std::string("fork: ") + std::strerror(errno);
        }
        return false;
    }
    if (child == 0) {
        pid_t grandchild = ::fork();
        if (grandchild != 0) {
            ::_exit(grandchild < 0 ? 1 : 0);
        }
        ::setsid();
        int devnull = ::open("/dev/null", O_RDWR);
        if (devnull >= 0) {
            ::dup2(devnull, STDIN_FILENO);
            ::dup2(devnull, STDOUT_FILENO);
            ::dup2(devnull, STDERR_FILENO);
        }
        ::execve(path.c_str(), argv.data(), environ);
        int err = errno;
        // The exec failed: tell the parent why through the pipe.
        [[maybe_unused]] ssize_t n = ::write(writeEnd.get(), &err, sizeof(err));
        ::_exit(127);
    }
    writeEnd.reset();
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int err = 0;
    ssize_t n = 0;
    do {
        n = ::read(readEnd.get(), &err, sizeof(err));
    } while (n < 0 && errno == EINTR);
    if (n == static_cast<ssize_t>(sizeof(err))) {
        if (error != nullptr) {
            *error = path + ": " + std::strerror(err);
        }
        return false;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        if (error != nullptr) {
            *error = program + ": could not be started";
        }
        return false;
    }
    return true;
}

} // namespace ProcessRunner

} // namespace tolvarin
