#include "cli/CursoryCommand.h"

#include "cli/MeasurementJson.h"
#include "cli/SurfaceMapFile.h"
#include "cli/TestRun.h"

#include <optional>
#include <utility>

namespace tolvarin {

namespace {

nlohmann::json orNull(const std::optional<double>& value) {
    return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

} // namespace

CursoryCommand::CursoryCommand(CliOptions options) : options_(std::move(options)) {}

int CursoryCommand::exitStatusFor(const TestResults& summary) {
    if (!summary.started || !summary.ended || summary.stopped) {
        return TestRun::kExitNotRun;
    }
    // Parts of the unit the sizing sweep could not read count as errors too.
    bool errors = summary.totalErrors > 0 || summary.surfaceErrors > 0 || summary.seekErrors > 0 ||
                  summary.sizingResult < 0 || !summary.failedSections.empty();
    return errors ? TestRun::kExitErrorsFound : TestRun::kExitPassed;
}

nlohmann::json CursoryCommand::summaryJson(const CliOptions& options, const TestResults& s,
                                           const std::string& device, const std::string& logFile,
                                           const std::string& problem, bool probe, int errorLimit) {
    using nlohmann::json;
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
    json summary = TestRun::summaryBase("cursory", options, s, exitStatusFor(s), device, problem);
    summary["log"] = TestRun::existingPathOrNull(logFile);
    summary["options"] = {{"surface", !options.noSurface},
                          {"seek", !options.noSeek},
                          {"limit", limit},
                          {"repair", options.repair},
                          {"probe", probe},
                          {"errorLimit", errorLimit},
                          {"queueDepth", options.queueDepth.value_or(1)}};
    // Reads timed with others queued at the device wait behind them: such
    // indices cannot be set against a normal test's.
    summary["queueDepth"] = s.queueDepth;
    summary["rpisComparableWithNormalTests"] = s.queueDepth == 1;
    summary["rpis"] = {{"surfaceLinear", orNull(s.surfaceLinearRPI)},
                       {"surfaceRatio", orNull(s.surfaceRatioRPI)},
                       {"seekLinear", orNull(s.seekLinearRPI)},
                       {"seekRatio", orNull(s.seekRatioRPI)}};
    summary["failedSections"] = failed;
    summary["measurements"] = MeasurementJson::ofTest(s);
    // Without a seek scan the surface scan runs to the end of the test.
    summary["timings"]["surfaceSeconds"] = TestRun::secondsBetween(
        s.surfaceStartMicros, s.seekStartMicros ? s.seekStartMicros : s.endMicros);
    return summary;
}

int CursoryCommand::run() {
    TestRun::Unit unit = TestRun::resolveUnit(options_.unit, TestRun::listAttachedMedia);
    if (!unit.media) {
        TestRun::complain(unit.error);
        return unit.status;
    }
    return runTest(*unit.media, unit.mediaArray);
}

int CursoryCommand::runTest(const Media& unitMedia, const std::vector<Media>& mediaArray) {
    TestRun run(options_, unitMedia, mediaArray);
    GUIController& hub = run.hub();
    auto printSummary = [&] {
        run.printSummary(summaryJson(options_, hub.testResults(), hub.rawTargetDevice(),
                                     hub.logFile(), hub.startProblem(), hub.probeInto(),
                                     hub.errorLimit()));
    };

    GUIController::CursoryChoice choice;
    choice.surface = !options_.noSurface;
    choice.seek = !options_.noSeek;
    choice.repair = options_.repair;
    choice.queueDepth = options_.queueDepth.value_or(1);
    if (options_.limit) {
        choice.limit = true;
        choice.startGB = options_.limit->first;
        choice.endGB = options_.limit->second;
    }
    hub.cursoryOptionsButtonSelected();
    if (!hub.confirmCursoryOptions(choice)) {
        hub.cursoryOptionsCancelled();
        TestRun::complain("the cursory options were not accepted; no test was run");
        printSummary();
        return TestRun::kExitNotRun;
    }

    bool started = run.runTest([&] { return hub.cursoryStartButtonSelected(); },
                               [&] { hub.cursoryStopButtonSelected(); });

    TestResults summary = hub.testResults();
    int status = exitStatusFor(summary);
    if (started && options_.mapFile) {
        writeSurfaceMapFile(hub, *options_.mapFile);
    }
    if (!started) {
        run.complainNotStarted();
    } else {
        std::string verdict = status == TestRun::kExitNotRun        ? "stopped"
                              : status == TestRun::kExitErrorsFound ? "found errors"
                                                                    : "passed";
        std::string problem = hub.startProblem();
        if (status == TestRun::kExitNotRun && !problem.empty()) {
            verdict += " (" + problem + ")";
        }
        TestRun::complain("cursory test " + verdict + ": " + std::to_string(summary.totalErrors) +
                          " errors, " + std::to_string(summary.totalIrregularities) +
                          " irregularities; log: " + hub.logFile());
    }
    TestRun::complainLogCut(hub.testResults(), hub.logFile());
    printSummary();
    return status;
}

} // namespace tolvarin
