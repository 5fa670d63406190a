#include "cli/CursoryCommand.h"

#include "app/DriveListLoader.h"
#include "cli/CliView.h"
#include "cli/TerminalAnswerer.h"
#include "engine/Clock.h"
#include "logging/Logger.h"
#include "logging/MessageCenter.h"
#include "platform/Paths.h"
#include "platform/PosixRawDevice.h"
#include "platform/System.h"
#include "unitprobe/DiskToolFormatter.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace {

// Ctrl-C presses, counted by the signal handler and acted on by a watcher.
std::atomic<int> gInterrupts{0};
static_assert(std::atomic<int>::is_always_lock_free);

// Only counts: everything else happens on the watcher thread.
void countInterrupt(int /*signal*/) {
    gInterrupts.fetch_add(1);
}

// The view steps aside while the terminal answerer prints a message.
class StatusLineAnswerer : public AlertAnswerer {
  public:
    StatusLineAnswerer(std::shared_ptr<AlertAnswerer> inner, CliView& view)
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

// While it lives, whatever the program prints on standard output (the
// console chatter of time stamps and releases) goes to standard error, so
// that standard output carries the --json summary alone.
class StandardOutputAside {
  public:
    explicit StandardOutputAside(bool active) {
        if (active) {
            std::cout.flush();
            std::fflush(stdout);
            saved_ = ::dup(STDOUT_FILENO);
            if (saved_ >= 0) {
                ::dup2(STDERR_FILENO, STDOUT_FILENO);
            }
        }
    }
    ~StandardOutputAside() { restore(); }
    StandardOutputAside(const StandardOutputAside&) = delete;
    StandardOutputAside& operator=(const StandardOutputAside&) = delete;
    void restore() {
        if (saved_ >= 0) {
            std::cout.flush();
            std::fflush(stdout);
            ::dup2(saved_, STDOUT_FILENO);
            ::close(saved_);
            saved_ = -1;
        }
    }

  private:
    int saved_ = -1;
};

void complain(const std::string& text) {
    std::fprintf(stderr, "tolvarin-cli: %s\n", text.c_str());
    std::fflush(stderr);
}

std::optional<double> secondsBetween(int64_t from, int64_t to) {
    if (from == 0 || to == 0 || to < from) {
        return std::nullopt;
    }
    return static_cast<double>(to - from) / 1e6;
}

nlohmann::json orNull(const std::optional<double>& value) {
    return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

} // namespace

CursoryCommand::CursoryCommand(CliOptions options) : options_(std::move(options)) {}

Media CursoryCommand::mediaForPath(const std::string& path, int64_t size, bool imageFile) {
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

CursoryCommand::Unit CursoryCommand::resolveUnit(const std::string& unit,
                                                 const MediaLister& lister) {
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

int CursoryCommand::exitStatusFor(const GUIController::TestSummary& summary) {
    if (!summary.started || !summary.ended || summary.stopped) {
        return kExitNotRun;
    }
    // Parts of the unit the sizing sweep could not read count as errors too.
    bool errors = summary.totalErrors > 0 || summary.surfaceErrors > 0 || summary.seekErrors > 0 ||
                  summary.sizingResult < 0 || !summary.failedSections.empty();
    return errors ? kExitErrorsFound : kExitPassed;
}

nlohmann::json CursoryCommand::summaryJson(const CliOptions& options,
                                           const GUIController::TestSummary& s,
                                           const std::string& device, const std::string& logFile,
                                           const std::string& problem, bool probe, int errorLimit) {
    using nlohmann::json;
    int status = exitStatusFor(s);
    std::string verdict = !s.started                   ? "refused"
                          : !s.ended || s.stopped      ? "stopped"
                          : status == kExitErrorsFound ? "failed"
                                                       : "passed";
    json limit = nullptr;
    if (options.limit) {
        limit = {{"startGB", options.limit->first}, {"endGB", options.limit->second}};
    }
    json failed = json::array();
    for (const auto& section : s.failedSections) {
        failed.push_back({{"index", section.index},
                          {"start", section.start},
                          {"end", section.end},
                          {"errors", section.errors},
                          {"irregularities", section.irregularities}});
    }
    std::optional<double> surfaceSeconds =
        secondsBetween(s.surfaceStartMicros, s.seekStartMicros ? s.seekStartMicros : s.endMicros);
    return json{
        {"command", "cursory"},
        {"unit", options.unit},
        {"device", device},
        {"log", logFile.empty() ? json(nullptr) : json(logFile)},
        {"options",
         {{"surface", !options.noSurface},
          {"seek", !options.noSeek},
          {"limit", limit},
          {"repair", options.repair},
          {"probe", probe},
          {"errorLimit", errorLimit}}},
        {"result", verdict},
        {"exitStatus", status},
        {"problem", problem.empty() ? json(nullptr) : json(problem)},
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
        {"rpis",
         {{"surfaceLinear", orNull(s.surfaceLinearRPI)},
          {"surfaceRatio", orNull(s.surfaceRatioRPI)},
          {"seekLinear", orNull(s.seekLinearRPI)},
          {"seekRatio", orNull(s.seekRatioRPI)}}},
        {"failedSections", failed},
        {"timings",
         {{"started", s.startStamp.empty() ? json(nullptr) : json(s.startStamp)},
          {"ended", s.endStamp.empty() ? json(nullptr) : json(s.endStamp)},
          {"seconds", orNull(secondsBetween(s.startMicros, s.endMicros))},
          {"surfaceSeconds", orNull(surfaceSeconds)},
          {"seekSeconds", orNull(secondsBetween(s.seekStartMicros, s.endMicros))}}},
    };
}

int CursoryCommand::run() {
    Unit unit = resolveUnit(options_.unit, [] {
        DriveListLoader loader([](const std::string& reason) { complain(reason); });
        std::vector<Media> media =
            loader.loadMediaList(System::releaseName(System::kernelRelease()));
        if (media.empty()) {
            complain("no disks could be listed: " + loader.problem());
        }
        return media;
    });
    if (!unit.media) {
        complain(unit.error);
        return unit.status;
    }
    return runTest(*unit.media, unit.mediaArray);
}

int CursoryCommand::runTest(const Media& unitMedia, const std::vector<Media>& mediaArray) {
    StandardOutputAside aside(options_.json);
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    CliView view(std::cerr, terminal, options_.logFile, CliView::terminalWidth());
    GUIController hub(view);
    view.setController(&hub);

    auto answerer = std::make_shared<StatusLineAnswerer>(
        std::make_shared<TerminalAnswerer>(options_.answers, options_.yes), view);
    MessageCenter::setAnswerer(answerer);
    // Whatever ends the program early (an unanswered message, a S.M.A.R.T.
    // failure, Ctrl-C before the test) turns the services back on first.
    System::setExitHook([&hub, &view](int status) {
        view.suspend();
        hub.enableSystemItems();
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(status);
    });
    auto finish = [&](int status) {
        System::resetExitHook();
        MessageCenter::setAnswerer(nullptr);
        view.setController(nullptr);
        return status;
    };

    hub.awakeFromNib();
    if (options_.probe) {
        hub.setProbeInto(*options_.probe);
    }
    if (options_.errorLimit) {
        hub.setErrorLimit(*options_.errorLimit);
    }
    hub.setCurrentMediaArray(mediaArray);
    hub.selectUnit(unitMedia);

    auto printSummary = [&] {
        if (options_.json) {
            // The log, once it has been started.
            std::string log = Logger::logFileNameAndPath();
            struct stat st {};
            if (log.empty() || ::lstat(log.c_str(), &st) != 0) {
                log.clear();
            }
            nlohmann::json summary =
                summaryJson(options_, hub.testSummary(), hub.rawTargetDevice(), log,
                            hub.startProblem(), hub.probeInto(), hub.errorLimit());
            aside.restore();
            std::cout << summary.dump(2) << std::endl;
        }
    };

    GUIController::CursoryChoice choice;
    choice.surface = !options_.noSurface;
    choice.seek = !options_.noSeek;
    choice.repair = options_.repair;
    if (options_.limit) {
        choice.limit = true;
        choice.startGB = options_.limit->first;
        choice.endGB = options_.limit->second;
    }
    hub.cursoryOptionsButtonSelected();
    if (!hub.confirmCursoryOptions(choice)) {
        hub.cursoryOptionsCancelled();
        complain("the cursory options were not accepted; no test was run");
        printSummary();
        return finish(kExitNotRun);
    }

    // Ctrl-C: Stop while a test runs; before it, the end of the program.
    gInterrupts.store(0);
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = countInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, &previous);
    std::atomic<bool> watching{true};
    std::atomic<bool> testUnderWay{false};
    std::thread watcher([&] {
        int handled = 0;
        while (watching.load()) {
            clockSleepMicroseconds(100000);
            if (gInterrupts.load() == handled) {
                continue;
            }
            handled = gInterrupts.load();
            if (!testUnderWay.load()) {
                complain("interrupted before the test began");
                System::terminate(kExitNotRun);
                continue;
            }
            if (hub.underTest()) {
                view.suspend();
                std::fprintf(stderr, "\nStop requested.\n");
                view.resume();
                hub.cursoryStopButtonSelected();
            }
        }
    });

    bool started = hub.cursoryStartButtonSelected();
    testUnderWay.store(started);
    if (started) {
        hub.waitForTestEnd();
    }
    watching.store(false);
    watcher.join();
    ::sigaction(SIGINT, &previous, nullptr);
    hub.enableSystemItems();

    GUIController::TestSummary summary = hub.testSummary();
    int status = exitStatusFor(summary);
    if (!started) {
        std::string problem = hub.startProblem();
        complain("no test was run" + (problem.empty() ? std::string() : ": " + problem));
        std::string device = hub.rawTargetDevice();
        if (summary.sizingResult == -1 && ::access(device.c_str(), R_OK) != 0 && errno == EACCES) {
            complain("reading " + device + " needs more rights than this user has (try sudo)");
        }
    } else {
        std::string verdict = status == kExitNotRun        ? "stopped"
                              : status == kExitErrorsFound ? "found errors"
                                                           : "passed";
        complain("cursory test " + verdict + ": " + std::to_string(summary.totalErrors) +
                 " errors, " + std::to_string(summary.totalIrregularities) +
                 " irregularities; log: " + Logger::logFileNameAndPath());
    }
    printSummary();
    return finish(status);
}
