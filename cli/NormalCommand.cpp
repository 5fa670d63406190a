#include "cli/NormalCommand.h"

#include "cli/MeasurementJson.h"
#include "cli/SurfaceMapFile.h"
#include "cli/TestRun.h"
#include "store/DataFileFormat.h"

#include <cmath>
#include <utility>

namespace tolvarin {

namespace {

nlohmann::json index(double value) {
    if (DataFileFormat::isNotMeasured(value)) {
        return nullptr;
    }
    return value;
}

} // namespace

NormalCommand::NormalCommand(CliOptions options) : options_(std::move(options)) {}

int NormalCommand::exitStatusFor(const TestResults& summary) {
    // A test whose report could not be written did not reach its end.
    if (!summary.started || !summary.ended || !summary.completed ||
        !summary.reportProblem.empty()) {
        return TestRun::kExitNotRun;
    }
    bool errors = summary.totalErrors > 0 || summary.surfaceErrors > 0 || summary.seekErrors > 0 ||
                  summary.sizingResult < 0;
    return errors ? TestRun::kExitErrorsFound : TestRun::kExitPassed;
}

nlohmann::json NormalCommand::summaryJson(const CliOptions& options, const TestResults& s,
                                          const std::string& device, const std::string& prefix,
                                          const std::string& logFile, const std::string& problem) {
    using nlohmann::json;
    json rpis = nullptr;
    if (s.completed) {
        // The first test's current indices are its baseline's.
        const TestResults::StoredIndices& initial = s.initialRPIs;
        const TestResults::StoredIndices current = s.currentRPIs.value_or(initial);
        auto indices = [&](const TestResults::StoredIndices& i) {
            return json{{"surfaceLinear", index(i.surfaceLinear)},
                        {"surfaceRatio", index(i.surfaceRatio)},
                        {"seekLinear", index(i.seekLinear)},
                        {"seekRatio", index(i.seekRatio)}};
        };
        rpis = {{"initialScan", s.initialScan},
                {"initial", indices(initial)},
                {"current", indices(s.initialScan ? initial : current)}};
    }
    json summary = TestRun::summaryBase("normal", options, s, exitStatusFor(s), device, problem);
    summary["filePrefix"] = TestRun::textOrNull(prefix);
    summary["log"] = TestRun::existingPathOrNull(logFile);
    summary["report"] = TestRun::existingPathOrNull(s.reportPath);
    summary["reportProblem"] = TestRun::textOrNull(s.reportProblem);
    if (s.completed && !s.reportProblem.empty()) {
        // The scans' verdict stands; only the report is missing.
        bool errors =
            s.totalErrors > 0 || s.surfaceErrors > 0 || s.seekErrors > 0 || s.sizingResult < 0;
        summary["result"] = errors ? "failed" : "passed";
    }
    summary["rpis"] = rpis;
    summary["measurements"] = MeasurementJson::ofTest(s);
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

    TestResults summary = hub.testResults();
    int status = exitStatusFor(summary);
    if (started && options_.mapFile) {
        writeSurfaceMapFile(hub, *options_.mapFile);
    }
    std::string problem = hub.startProblem();
    if (!started) {
        run.complainNotStarted();
    } else if (!summary.completed) {
        TestRun::complain("normal test did not run to its end" +
                          (problem.empty() ? std::string() : ": " + problem) +
                          "; log: " + hub.logFile());
        // Files no test can continue from: the way out is named.
        if (problem.rfind("The unit's data files", 0) == 0) {
            TestRun::complain("to test the unit anew, without its stored results: tolvarin-cli "
                              "forget " +
                              options_.unit);
        }
    } else {
        bool errors = summary.totalErrors > 0 || summary.surfaceErrors > 0 ||
                      summary.seekErrors > 0 || summary.sizingResult < 0;
        TestRun::complain(std::string("normal test ") + (errors ? "found errors" : "passed") +
                          ": " + std::to_string(summary.totalErrors) + " errors, " +
                          std::to_string(summary.totalIrregularities) +
                          " irregularities; log: " + hub.logFile());
        if (TestRun::pathExists(summary.reportPath)) {
            TestRun::complain("report: " + summary.reportPath);
        } else {
            TestRun::complain("no report was written: " + (summary.reportProblem.empty()
                                                               ? std::string("see the log")
                                                               : summary.reportProblem));
        }
    }
    TestRun::complainLogCut(summary, hub.logFile());
    run.printSummary(summaryJson(options_, summary, hub.rawTargetDevice(), hub.fileNamePrefix(),
                                 hub.logFile(), problem));
    return status;
}

} // namespace tolvarin
