#include "cli/NormalCommand.h"

#include "app/DriveListLoader.h"
#include "cli/CliView.h"
#include "cli/CursoryCommand.h"
#include "cli/TerminalAnswerer.h"
#include "engine/Clock.h"
#include "logging/Logger.h"
#include "logging/MessageCenter.h"
#include "platform/System.h"
#include "store/DataFileFormat.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
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

extern "C" void onNormalTestInterrupt(int /*signal*/) {
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

void complain(const std::string& text) {
    std::fprintf(stderr, "tolvarin-cli: %s\n", text.c_str());
    std::fflush(stderr);
}

bool fileExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::lstat(path.c_str(), &st) == 0;
}

nlohmann::json index(double value) {
    if (!std::isfinite(value) || value > DataFileFormat::kNotMeasuredThreshold) {
        return nullptr;
    }
    return value;
}

nlohmann::json seconds(int64_t from, int64_t to) {
    if (from == 0 || to == 0 || to < from) {
        return nullptr;
    }
    return static_cast<double>(to - from) / 1e6;
}

} // namespace

NormalCommand::NormalCommand(CliOptions options) : options_(std::move(options)) {}

int NormalCommand::exitStatusFor(const GUIController::TestSummary& summary) {
    if (!summary.started || !summary.ended || !summary.completed) {
        return kExitNotRun;
    }
    bool errors = summary.totalErrors > 0 || summary.surfaceErrors > 0 || summary.seekErrors > 0 ||
                  summary.sizingResult < 0;
    return errors ? kExitErrorsFound : kExitPassed;
}

nlohmann::json NormalCommand::summaryJson(const CliOptions& options,
                                          const GUIController::TestSummary& s,
                                          const std::string& device, const std::string& prefix,
                                          const std::string& logFile, const std::string& problem) {
    using nlohmann::json;
    int status = exitStatusFor(s);
    std::string verdict = !s.started                   ? "refused"
                          : !s.completed               ? "stopped"
                          : status == kExitErrorsFound ? "failed"
                                                       : "passed";
    json rpis = nullptr;
    if (s.completed) {
        bool initial = Logger::isInitialScan();
        auto current = [&](double initialValue, double currentValue) {
            return index(initial ? initialValue : currentValue);
        };
        rpis = {{"initialScan", initial},
                {"initial",
                 {{"surfaceLinear", index(Logger::initialRPISSLIN())},
                  {"surfaceRatio", index(Logger::initialRPISSRAT())},
                  {"seekLinear", index(Logger::initialRPISKLIN())},
                  {"seekRatio", index(Logger::initialRPISKRAT())}}},
                {"current",
                 {{"surfaceLinear", current(Logger::initialRPISSLIN(), Logger::currentRPISSLIN())},
                  {"surfaceRatio", current(Logger::initialRPISSRAT(), Logger::currentRPISSRAT())},
                  {"seekLinear", current(Logger::initialRPISKLIN(), Logger::currentRPISKLIN())},
                  {"seekRatio", current(Logger::initialRPISKRAT(), Logger::currentRPISKRAT())}}}};
    }
    return json{
        {"command", "normal"},
        {"unit", options.unit},
        {"device", device},
        {"filePrefix", prefix.empty() ? json(nullptr) : json(prefix)},
        {"log", fileExists(logFile) ? json(logFile) : json(nullptr)},
        {"report", fileExists(s.reportPath) ? json(s.reportPath) : json(nullptr)},
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
        {"rpis", rpis},
        {"timings",
         {{"started", s.startStamp.empty() ? json(nullptr) : json(s.startStamp)},
          {"ended", s.endStamp.empty() ? json(nullptr) : json(s.endStamp)},
          {"seconds", seconds(s.startMicros, s.endMicros)},
          // The surface phase up to the seek scan's start: the scan and the
          // data-file work after it (first average or fold).
          {"surfaceSeconds", seconds(s.surfaceStartMicros, s.seekStartMicros)},
          {"seekSeconds", seconds(s.seekStartMicros, s.endMicros)}}},
    };
}

int NormalCommand::run() {
    CursoryCommand::Unit unit = CursoryCommand::resolveUnit(options_.unit, [] {
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

namespace {

// While a --json summary is wanted, what the test's parts print on standard
// output (time stamps, the catalogue's start line) goes to standard error, so
// that standard output carries the summary alone.
class StandardOutputAside {
  public:
    explicit StandardOutputAside(bool active) {
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
    ~StandardOutputAside() { restore(); }
    StandardOutputAside(const StandardOutputAside&) = delete;
    StandardOutputAside& operator=(const StandardOutputAside&) = delete;
    void restore() {
        if (saved_ < 0) {
            return;
        }
        std::cout.flush();
        std::fflush(stdout);
        ::dup2(saved_, STDOUT_FILENO);
        ::close(saved_);
        saved_ = -1;
    }

  private:
    int saved_ = -1;
};

} // namespace

int NormalCommand::runTest(const Media& unitMedia, const std::vector<Media>& mediaArray) {
    StandardOutputAside aside(options_.json);
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    CliView view(std::cerr, terminal, options_.logFile, CliView::terminalWidth());
    GUIController hub(view);
    view.setController(&hub);

    MessageCenter::setAnswerer(std::make_shared<StepAsideAnswerer>(
        std::make_shared<TerminalAnswerer>(options_.answers, options_.yes), view));
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

    // Ctrl-C: Stop while the test runs (the stop question follows); before
    // it, the end of the program.
    gInterrupts.store(0);
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = onNormalTestInterrupt;
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
                hub.normalStopButtonSelected();
            }
        }
    });

    bool started = hub.normalStartButtonSelected();
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
    std::string problem = hub.startProblem();
    if (!started) {
        complain("no test was run" + (problem.empty() ? std::string() : ": " + problem));
        std::string device = hub.rawTargetDevice();
        if (summary.sizingResult == -1 && ::access(device.c_str(), R_OK) != 0 && errno == EACCES) {
            complain("reading " + device + " needs more rights than this user has (try sudo)");
        }
    } else if (!summary.completed) {
        complain("normal test did not run to its end" +
                 (problem.empty() ? std::string() : ": " + problem) +
                 "; log: " + Logger::logFileNameAndPath());
    } else {
        complain(std::string("normal test ") +
                 (status == kExitErrorsFound ? "found errors" : "passed") + ": " +
                 std::to_string(summary.totalErrors) + " errors, " +
                 std::to_string(summary.totalIrregularities) +
                 " irregularities; log: " + Logger::logFileNameAndPath());
        if (fileExists(summary.reportPath)) {
            complain("report: " + summary.reportPath);
        } else {
            complain("no report was written (see the log)");
        }
    }
    if (options_.json) {
        aside.restore();
        std::cout << summaryJson(options_, summary, hub.rawTargetDevice(), hub.fileNamePrefix(),
                                 Logger::logFileNameAndPath(), problem)
                         .dump(2)
                  << std::endl;
    }
    return finish(status);
}
