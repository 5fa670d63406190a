#include "cli/NormalCommand.h"

#include "cli/TestRun.h"
#include "logging/Logger.h"
#include "store/DataFileFormat.h"

#include <cmath>
#include <utility>

namespace tolvarin {

namespace {

nlohmann::json index(double value) {
    if (!std::isfinite(value) || value > DataFileFormat::kNotMeasuredThreshold) {
        return nullptr;
    }
    return value;
}

} // namespace

NormalCommand::NormalCommand(CliOptions options) : options_(std::move(options)) {}

int NormalCommand::exitStatusFor(const GUIController::TestSummary& summary) {
    if (!summary.started || !summary.ended || !summary.completed) {
        return TestRun::kExitNotRun;
    }
    bool errors = summary.totalErrors > 0 || summary.surfaceErrors > 0 || summary.seekErrors > 0 ||
                  summary.sizingResult < 0;
    return errors ? TestRun::kExitErrorsFound : TestRun::kExitPassed;
}

nlohmann::json NormalCommand::summaryJson(const CliOptions& options,
                                          const GUIController::TestSummary& s,
                                          const std::string& device, const std::string& prefix,
                                          const std::string& logFile, const std::string& problem) {
    using nlohmann::json;
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
    json summary = TestRun::summaryBase("normal", options, s, exitStatusFor(s), device, problem);
    summary["filePrefix"] = TestRun::textOrNull(prefix);
    summary["log"] = TestRun::existingPathOrNull(logFile);
    summary["report"] = TestRun::existingPathOrNull(s.reportPath);
    summary["rpis"] = rpis;
    // The surface phase up to the seek scan's start: the scan and the
    // data-file work after it (first average or fold).
    summary["timings"]["surfaceSeconds"] =
        TestRun::secondsBetween(s.surfaceStartMicros, s.seekStartMicros);
    return summary;
}

int NormalCommand::run() {
    TestRun::Unit unit = TestRun::resolveUnit(options_.unit, TestRun::listAttachedMedia);
    if (!unit.media) {
        TestRun::complain(unit.error);
        return unit.status;
    }
    return runTest(*unit.media, unit.mediaArray);
}

int NormalCommand::runTest(const Media& unitMedia, const std::vector<Media>& mediaArray) {
    TestRun run(options_, unitMedia, mediaArray);
    GUIController& hub = run.hub();
    bool started = run.runTest([&] { return hub.normalStartButtonSelected(); },
                               [&] { hub.normalStopButtonSelected(); });

    GUIController::TestSummary summary = hub.testSummary();
    int status = exitStatusFor(summary);
    std::string problem = hub.startProblem();
    if (!started) {
        run.complainNotStarted();
    } else if (!summary.completed) {
        TestRun::complain("normal test did not run to its end" +
                          (problem.empty() ? std::string() : ": " + problem) +
                          "; log: " + Logger::logFileNameAndPath());
    } else {
        TestRun::complain(std::string("normal test ") +
                          (status == TestRun::kExitErrorsFound ? "found errors" : "passed") + ": " +
                          std::to_string(summary.totalErrors) + " errors, " +
                          std::to_string(summary.totalIrregularities) +
                          " irregularities; log: " + Logger::logFileNameAndPath());
        if (TestRun::pathExists(summary.reportPath)) {
            TestRun::complain("report: " + summary.reportPath);
        } else {
            TestRun::complain("no report was written (see the log)");
        }
    }
    run.printSummary(summaryJson(options_, summary, hub.rawTargetDevice(), hub.fileNamePrefix(),
                                 Logger::logFileNameAndPath(), problem));
    return status;
}

} // namespace tolvarin
