#include "cli/TestRun.h"

#include "app/DriveListLoader.h"
#include "base/Clock.h"
#include "cli/TerminalAnswerer.h"
#include "logging/MessageCenter.h"
#include "platform/Paths.h"
#include "platform/PosixRawDevice.h"
#include "platform/System.h"
#include "unitprobe/DiskToolFormatter.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace tolvarin {

namespace {

// Ctrl-C presses, counted by the signal handler and acted on by a watcher.
std::atomic<int> gInterrupts{0};
static_assert(std::atomic<int>::is_always_lock_free);

// Only counts: everything else happens on the watcher thread.
void countInterrupt(int /*signal*/) {
    gInterrupts.fetch_add(1);
}

// The status line steps aside while a message is put to the user.
class StepAsideAnswerer : public AlertAnswerer {
  public:
    StepAsideAnswerer(std::shared_ptr<AlertAnswerer> inner, CliView& view)
        : inner_(std::move(inner)), view_(view) {}
    int answer(const Alert& alert) override {
        view_.suspend();
        int chosen = inner_->answer(alert);
        view_.resume();
        return chosen;
    }

  private:
    std::shared_ptr<AlertAnswerer> inner_;
    CliView& view_;
};

} // namespace

Media TestRun::mediaForPath(const std::string& path, int64_t size, bool imageFile) {
    Media m;
    m.setIsPrimaryDisk(true);
    m.setPrimaryDiskID(path);
    m.setPrimaryDiskSize(size > 0 ? DiskToolFormatter::formatSize(static_cast<uint64_t>(size))
                                  : std::string("Unavailable"));
    m.setPrimaryDiskPartitionType(std::string("None"));
    m.setVolumeDiskID(std::string());
    m.setVolumePartitionType(std::nullopt);
    m.setVolumeFileSystem(std::nullopt);
    m.setVolumeName(std::nullopt);
    m.setVolumePartitionSize(std::nullopt);
    m.setVolumePartitionFreeSpace(std::nullopt);
    // Nothing to ask the disk tool about: no SMART watch for it.
    m.setSMARTStatus(std::string("Not Supported"));
    m.setUUID(std::string());
    m.setIsInternal(std::nullopt);
    m.setInterfaceType(std::string(imageFile ? "Disk Image" : "Unavailable"));
    m.setMediaType(std::string(imageFile ? "Image File" : "Generic"));
    m.setIsBootable(std::nullopt);
    m.setIsEjectable(std::nullopt);
    return m;
}

TestRun::Unit TestRun::resolveUnit(const std::string& unit, const MediaLister& lister) {
    Unit out;
    auto fail = [&](int status, const std::string& why) {
        out.status = status;
        out.error = why;
        return out;
    };
    auto find = [](const std::vector<Media>& media, const std::string& id) -> std::optional<Media> {
        for (const Media& m : media) {
            if ((m.isPrimaryDisk() && m.primaryDiskID() == id) ||
                (!m.isPrimaryDisk() && m.volumeDiskID() == id)) {
                return m;
            }
        }
        return std::nullopt;
    };

    if (unit.find('/') == std::string::npos) {
        out.mediaArray = lister ? lister() : std::vector<Media>{};
        out.media = find(out.mediaArray, unit);
        if (!out.media) {
            return fail(kExitBadInput, "unknown unit '" + unit +
                                           "': give an identifier that 'tolvarin-cli list' shows, "
                                           "or the path of a device or image file");
        }
        return out;
    }

    std::error_code error;
    std::string path = std::filesystem::absolute(unit, error).lexically_normal().string();
    if (error) {
        path = unit;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        int e = errno;
        if (e == ENOENT || e == ENOTDIR) {
            return fail(kExitBadInput, unit + ": no such device or image file");
        }
        return fail(kExitNotRun, unit + ": " + std::strerror(e));
    }
    if (S_ISDIR(st.st_mode)) {
        return fail(kExitBadInput,
                    unit + " is a directory: give a disk or volume, or an image file");
    }
    if (S_ISREG(st.st_mode)) {
        if (st.st_size == 0) {
            return fail(kExitBadInput, unit + " is an empty file: there is nothing to test");
        }
        out.media = mediaForPath(path, static_cast<int64_t>(st.st_size), true);
        out.mediaArray = {*out.media};
        return out;
    }
    if (!S_ISBLK(st.st_mode) && !S_ISCHR(st.st_mode)) {
        return fail(kExitBadInput, unit + " is neither a device nor an image file");
    }
    // A device node: the drive list knows it by its kernel name.
    std::string identifier = Paths::identifierForRawDevicePath(path);
    out.mediaArray = lister ? lister() : std::vector<Media>{};
    out.media = find(out.mediaArray, identifier);
    if (!out.media) {
        int64_t size = -1;
        if (auto device = PosixRawDevice::open(path, PosixRawDevice::Access::ReadOnly)) {
            size = device->reportedSize();
        }
        out.media = mediaForPath(path, size, false);
        out.mediaArray.push_back(*out.media);
    }
    return out;
}

std::vector<Media> TestRun::listAttachedMedia() {
    DriveListLoader loader([](const std::string& reason) {
        complain(reason);
        Env::standard().exitProcess(-1);
    });
    std::vector<Media> media = loader.loadMediaList(System::releaseName(System::kernelRelease()));
    if (media.empty()) {
        complain("no disks could be listed: " + loader.problem());
    }
    return media;
}

void TestRun::complain(const std::string& text) {
    std::fprintf(stderr, "tolvarin-cli: %s\n", text.c_str());
    std::fflush(stderr);
}

std::string TestRun::verdictFor(const TestResults& summary, int exitStatus) {
    return !summary.started                 ? "refused"
           : exitStatus == kExitNotRun      ? "stopped"
           : exitStatus == kExitErrorsFound ? "failed"
                                            : "passed";
}

nlohmann::json TestRun::secondsBetween(int64_t from, int64_t to) {
    if (from == 0 || to == 0 || to < from) {
        return nullptr;
    }
    return static_cast<double>(to - from) / 1e6;
}

nlohmann::json TestRun::textOrNull(const std::string& text) {
    return text.empty() ? nlohmann::json(nullptr) : nlohmann::json(text);
}

bool TestRun::pathExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::lstat(path.c_str(), &st) == 0;
}

nlohmann::json TestRun::existingPathOrNull(const std::string& path) {
    return pathExists(path) ? nlohmann::json(path) : nlohmann::json(nullptr);
}

nlohmann::json TestRun::summaryBase(const std::string& command, const CliOptions& options,
                                    const TestResults& s, int exitStatus, const std::string& device,
                                    const std::string& problem) {
    return nlohmann::json{
        {"command", command},
        {"unit", options.unit},
        {"device", device},
        {"result", verdictFor(s, exitStatus)},
        {"exitStatus", exitStatus},
        {"problem", textOrNull(problem)},
        {"detectedSize", s.detectedSize},
        {"sections", s.sectionCount},
        {"sizing", {{"result", s.sizingResult}, {"errors", s.sizingErrors}}},
        {"counts",
         {{"surfaceErrors", s.surfaceErrors},
          {"surfaceIrregularities", s.surfaceIrregularities},
          {"seekErrors", s.seekErrors},
          {"seekIrregularities", s.seekIrregularities},
          {"totalErrors", s.totalErrors},
          {"totalIrregularities", s.totalIrregularities}}},
        {"timings",
         {{"started", textOrNull(s.startStamp)},
          {"ended", textOrNull(s.endStamp)},
          {"seconds", secondsBetween(s.startMicros, s.endMicros)},
          {"seekSeconds", secondsBetween(s.seekStartMicros, s.endMicros)}}},
    };
}

TestRun::StandardOutputAside::StandardOutputAside(bool active) {
    if (!active) {
        return;
    }
    std::cout.flush();
    std::fflush(stdout);
    saved_ = ::dup(STDOUT_FILENO);
    if (saved_ >= 0 && ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        ::close(saved_);
        saved_ = -1;
    }
}

void TestRun::StandardOutputAside::restore() {
    if (saved_ < 0) {
        return;
    }
    std::cout.flush();
    std::fflush(stdout);
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
    saved_ = -1;
}

TestRun::TestRun(const CliOptions& options, const Media& unit, const std::vector<Media>& mediaArray)
    : json_(options.json), aside_(options.json),
      view_(std::cerr, ::isatty(STDERR_FILENO) == 1, options.logFile, CliView::terminalWidth()),
      env_(view_), hub_(view_, env_) {
    view_.setController(&hub_);
    // An unanswered message ends the run through the hub, which turns the
    // services back on first.
    auto terminal = std::make_shared<TerminalAnswerer>(options.answers, options.yes);
    terminal->setEndRun([this](int status) { hub_.endProgram(status); });
    hub_.setAnswerer(std::make_shared<StepAsideAnswerer>(terminal, view_));

    hub_.awakeFromNib();
    if (options.probe) {
        hub_.setProbeInto(*options.probe);
    }
    if (options.errorLimit) {
        hub_.setErrorLimit(*options.errorLimit);
    }
    hub_.setCurrentMediaArray(mediaArray);
    hub_.selectUnit(unit);
}

void TestRun::CliEnv::exitProcess(int status) {
    view_.suspend();
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}

TestRun::~TestRun() {
    hub_.setAnswerer(nullptr);
    view_.setController(nullptr);
}

bool TestRun::runTest(const std::function<bool()>& start, const std::function<void()>& stop) {
    gInterrupts.store(0);
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = countInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, &previous);
    std::atomic<bool> testUnderWay{false};
    std::mutex watchMutex;
    std::condition_variable watchEnd;
    bool watching = true;
    std::thread watcher([&] {
        int handled = 0;
        for (;;) {
            {
                // A signal handler may not notify: presses are looked for
                // every tenth of a second, and the end of the test is seen
                // at once.
                std::unique_lock<std::mutex> lock(watchMutex);
                if (watchEnd.wait_for(lock, std::chrono::milliseconds(100),
                                      [&] { return !watching; })) {
                    return;
                }
            }
            if (gInterrupts.load() == handled) {
                continue;
            }
            handled = gInterrupts.load();
            if (!testUnderWay.load()) {
                complain("interrupted before the test began");
                hub_.endProgram(kExitNotRun);
                continue;
            }
            if (hub_.underTest() || hub_.diagnosticsRunning()) {
                view_.suspend();
                std::fprintf(stderr, "\nStop requested.\n");
                view_.resume();
                stop();
            }
        }
    });

    bool started = start();
    testUnderWay.store(started);
    if (started) {
        hub_.waitForTestEnd();
    }
    {
        std::lock_guard<std::mutex> lock(watchMutex);
        watching = false;
    }
    watchEnd.notify_all();
    watcher.join();
    ::sigaction(SIGINT, &previous, nullptr);
    hub_.enableSystemItems();
    return started;
}

void TestRun::complainNotStarted() {
    std::string problem = hub_.startProblem();
    complain("no test was run" + (problem.empty() ? std::string() : ": " + problem));
    std::string device = hub_.rawTargetDevice();
    if (hub_.testResults().sizingResult == -1 && ::access(device.c_str(), R_OK) != 0 &&
        errno == EACCES) {
        complain("reading " + device + " needs more rights than this user has (try sudo)");
    }
}

void TestRun::printSummary(const nlohmann::json& summary) {
    if (!json_) {
        return;
    }
    aside_.restore();
    std::cout << summary.dump(2) << std::endl;
}

} // namespace tolvarin
