#include "cli/TestRun.h"

#include "app/DriveListLoader.h"
#include "app/UnitLookup.h"
#include "base/Clock.h"
#include "cli/TerminalAnswerer.h"
#include "logging/MessageCenter.h"
#include "platform/System.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
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
    return UnitLookup::mediaForPath(path, size, imageFile);
}

TestRun::Unit TestRun::resolveUnit(const std::string& unit, const MediaLister& lister) {
    UnitLookup::Found found = UnitLookup::resolve(unit, lister);
    Unit out;
    out.media = found.media;
    out.mediaArray = found.mediaArray;
    out.error = found.error;
    out.status = found.problem == UnitLookup::Problem::none       ? 0
                 : found.problem == UnitLookup::Problem::badInput ? kExitBadInput
                                                                  : kExitNotRun;
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

void TestRun::complainLogCut(const TestResults& summary, const std::string& logFile) {
    if (!summary.logProblem.empty()) {
        complain("the log " + logFile + " was cut, its end is missing: " + summary.logProblem);
    }
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

nlohmann::json TestRun::isoTimeOrNull(int64_t wallMicros) {
    if (wallMicros <= 0) {
        return nullptr;
    }
    // Local time with its offset from UTC: 2026-12-08T08:16:49+01:00.
    std::time_t seconds = static_cast<std::time_t>(wallMicros / 1000000);
    std::tm local{};
    if (::localtime_r(&seconds, &local) == nullptr) {
        return nullptr;
    }
    char text[40];
    std::size_t n = std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%S%z", &local);
    if (n < 5) {
        return nullptr;
    }
    std::string out(text, n);
    out.insert(out.size() - 2, ":");
    return out;
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
        {"logProblem", textOrNull(s.logProblem)},
        {"counts",
         {{"surfaceErrors", s.surfaceErrors},
          {"surfaceIrregularities", s.surfaceIrregularities},
          {"seekErrors", s.seekErrors},
          {"seekIrregularities", s.seekIrregularities},
          {"totalErrors", s.totalErrors},
          {"totalIrregularities", s.totalIrregularities}}},
        {"timings",
         {{"started", isoTimeOrNull(s.startWallMicros)},
          {"ended", isoTimeOrNull(s.endWallMicros)},
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
    : json_(options.json), aside_(true),
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

void TestRun::printResult(const std::string& text) {
    aside_.restore();
    std::cout << text << std::flush;
}

} // namespace tolvarin
