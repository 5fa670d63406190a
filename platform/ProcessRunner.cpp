#include "platform/ProcessRunner.h"

#include "platform/UniqueFd.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
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

// Spawns program with stdin from /dev/null and stdout/stderr to outFd (or
// /dev/null when outFd < 0). Answers the pid, or -1 with error set.
pid_t spawn(const std::string& program, const std::vector<std::string>& args, int outFd,
            std::string* error) {
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
                 ? posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ)
                 : posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
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

} // namespace

namespace ProcessRunner {

ProcessResult run(const std::string& program, const std::vector<std::string>& args) {
    ProcessResult result;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        result.error = std::string("pipe: ") + std::strerror(errno);
        return result;
    }
    UniqueFd readEnd(fds[0]);
    UniqueFd writeEnd(fds[1]);
    pid_t pid = spawn(program, args, writeEnd.get(), &result.error);
    writeEnd.reset();
    if (pid < 0) {
        return result;
    }
    result.started = true;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(readEnd.get(), buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        result.output.append(buffer, static_cast<size_t>(n));
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
