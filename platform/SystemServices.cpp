#include "platform/SystemServices.h"

#include "platform/Env.h"
#include "platform/LaunchingUser.h"
#include "platform/PMInterface.h"
#include "platform/SafeFile.h"
#include "platform/System.h"

#include <cctype>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

namespace tolvarin {

namespace {

const char* const kTrackerMiner = "org.freedesktop.Tracker3.Miner.Files";

bool isFile(const std::string& path, mode_t type) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == type;
}

std::string trimmed(std::string text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
        text.pop_back();
    }
    return text;
}

// The last number in a tool's output (the resume cookie of a paused miner).
std::string lastNumber(const std::string& text) {
    std::size_t end = text.find_last_of("0123456789");
    if (end == std::string::npos) {
        return "";
    }
    std::size_t begin = end;
    while (begin > 0 && std::isdigit(static_cast<unsigned char>(text[begin - 1]))) {
        --begin;
    }
    return text.substr(begin, end - begin + 1);
}

} // namespace

std::string SystemServices::nameOf(Service service) {
    switch (service) {
    case Service::indexing:
        return "desktop file indexing";
    case Service::backups:
        return "scheduled backups";
    case Service::driveSleep:
        return "drive sleep";
    }
    return "a system service";
}

std::unique_ptr<SystemServices> SystemServices::forThisSystem(Env& env) {
    return std::make_unique<LinuxSystemServices>(env);
}

LinuxSystemServices::LinuxSystemServices(Env& env, Layout layout)
    : env_(env), layout_(std::move(layout)) {}

LinuxSystemServices::~LinuxSystemServices() {
    releaseInhibitor();
}

std::string LinuxSystemServices::findTool(const std::string& name) const {
    std::size_t from = 0;
    const std::string& dirs = layout_.toolDirs;
    while (from <= dirs.size()) {
        std::size_t colon = dirs.find(':', from);
        std::string dir = dirs.substr(from, colon == std::string::npos ? colon : colon - from);
        std::string path = dir + "/" + name;
        if (!dir.empty() && ::access(path.c_str(), X_OK) == 0) {
            return path;
        }
        if (colon == std::string::npos) {
            break;
        }
        from = colon + 1;
    }
    return "";
}

std::string LinuxSystemServices::runningIndexer() const {
    DIR* dir = ::opendir(layout_.procDir.c_str());
    if (dir == nullptr) {
        return "";
    }
    std::string found;
    while (dirent* entry = ::readdir(dir)) {
        if (!std::isdigit(static_cast<unsigned char>(entry->d_name[0]))) {
            continue;
        }
        std::string comm =
            trimmed(SafeFile::read(layout_.procDir + "/" + entry->d_name + "/comm").value_or(""));
        // The kernel keeps 15 characters of a process name.
        if (comm == "baloo_file") {
            found = "baloo";
        } else if (comm == "tracker-miner-f" || comm == "localsearch-3" || comm == "localsearch") {
            found = "tracker";
        }
        if (!found.empty()) {
            break;
        }
    }
    ::closedir(dir);
    return found;
}

bool LinuxSystemServices::logindRuns() const {
    return isFile(layout_.logindDir, S_IFDIR) && !findTool("systemd-inhibit").empty();
}

bool LinuxSystemServices::hdparmApplies(const std::string& device) const {
    if (device.empty() || device.front() != '/' || !isFile(device, S_IFBLK) ||
        findTool("hdparm").empty()) {
        return false;
    }
    // Only a drive has a standby timer: not a loop, RAM, mapper or RAID node.
    std::string name = device.substr(device.find_last_of('/') + 1);
    for (const char* virtualPrefix : {"loop", "ram", "zram", "nbd", "dm-", "md"}) {
        if (name.starts_with(virtualPrefix)) {
            return false;
        }
    }
    return true;
}

bool LinuxSystemServices::present(Service service, const std::string& device) {
    switch (service) {
    case Service::indexing:
        return !runningIndexer().empty();
    case Service::backups:
        return false;
    case Service::driveSleep:
        return hdparmApplies(device) || logindRuns();
    }
    return false;
}

bool LinuxSystemServices::turnOff(Service service, const std::string& device) {
    if (service == Service::indexing) {
        return switchIndexer(true);
    }
    if (service == Service::driveSleep) {
        return switchDriveSleep(true, device);
    }
    return false;
}

bool LinuxSystemServices::turnOn(Service service, const std::string& device) {
    if (service == Service::indexing) {
        return switchIndexer(false);
    }
    if (service == Service::driveSleep) {
        return switchDriveSleep(false, device);
    }
    return false;
}

bool LinuxSystemServices::switchIndexer(bool off) {
    std::string indexer = runningIndexer();
    std::vector<std::string> line;
    if (indexer == "baloo") {
        std::string tool = findTool("balooctl6");
        if (tool.empty()) {
            tool = findTool("balooctl");
        }
        line = {tool, off ? "suspend" : "resume"};
    } else if (indexer == "tracker") {
        std::string tool = findTool("localsearch");
        if (tool.empty()) {
            tool = findTool("tracker3");
        }
        if (!off && trackerCookie_.empty()) {
            return true; // never paused by this program
        }
        line = {tool, "daemon", "--miner", kTrackerMiner};
        if (off) {
            line.insert(line.end(), {"--pause", "A disk test is running"});
        } else {
            line.insert(line.end(), {"--resume", trackerCookie_});
        }
    }
    if (line.empty() || line.front().empty()) {
        System::consoleLog("No tool to switch desktop file indexing was found.");
        return false;
    }
    // The indexer belongs to the user's session: its tool runs as that user,
    // on that user's session bus.
    LaunchingUser user = LaunchingUser::current();
    if (::geteuid() == 0 && user.uid != 0) {
        std::string runtime = layout_.runUserDir + "/" + std::to_string(user.uid);
        std::string runuser = findTool("runuser");
        if (runuser.empty()) {
            System::consoleLog("runuser is missing: desktop file indexing not switched.");
            return false;
        }
        std::vector<std::string> asUser = {runuser,
                                           "-u",
                                           user.userName,
                                           "--",
                                           "env",
                                           "XDG_RUNTIME_DIR=" + runtime,
                                           "DBUS_SESSION_BUS_ADDRESS=unix:path=" + runtime +
                                               "/bus"};
        line.insert(line.begin(), asUser.begin(), asUser.end());
    }
    std::string program = line.front();
    line.erase(line.begin());
    ProcessResult result = env_.runProcess(program, line);
    if (!result.started || result.exitStatus != 0) {
        System::consoleLog("Desktop file indexing not turned " + std::string(off ? "OFF" : "ON") +
                           ": " + (result.started ? trimmed(result.output) : result.error));
        return false;
    }
    if (indexer == "tracker") {
        trackerCookie_ = off ? lastNumber(result.output) : "";
    }
    return true;
}

bool LinuxSystemServices::switchDriveSleep(bool off, const std::string& device) {
    bool ok = true;
    if (hdparmApplies(device)) {
        PMInterface pm(device);
        pm.setHdparmPath(findTool("hdparm"));
        ok = pm.PMControl(off ? "OFF" : "ON");
    }
    if (off && logindRuns()) {
        ok = takeInhibitor() && ok;
    } else if (!off) {
        releaseInhibitor();
    }
    return ok;
}

bool LinuxSystemServices::inhibitorHeld() const {
    return inhibitorPid_ > 0;
}

bool LinuxSystemServices::takeInhibitor() {
    if (inhibitorPid_ > 0) {
        return true;
    }
    // systemd-inhibit holds the lock while its command runs; the command
    // reads a pipe only this process can write to, so the lock ends when
    // the pipe is closed, also when this process is killed.
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], STDIN_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::string tool = findTool("systemd-inhibit");
    std::vector<std::string> args = {
        tool, "--what=sleep:idle", "--who=Tolvarin", "--why=A disk test is running", "--mode=block",
        "cat"};
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, tool.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[0]);
    if (rc != 0) {
        ::close(fds[1]);
        System::consoleLog("The logind inhibitor lock could not be taken.");
        return false;
    }
    inhibitorPid_ = pid;
    inhibitorPipe_ = fds[1];
    return true;
}

void LinuxSystemServices::releaseInhibitor() {
    if (inhibitorPid_ <= 0) {
        return;
    }
    ::close(inhibitorPipe_);
    int status = 0;
    ::waitpid(inhibitorPid_, &status, 0);
    inhibitorPid_ = -1;
    inhibitorPipe_ = -1;
}

} // namespace tolvarin
