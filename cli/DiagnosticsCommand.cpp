#include "cli/DiagnosticsCommand.h"

#include "cli/TestRun.h"

#include <utility>

namespace tolvarin {

namespace {

std::string resultWord(bool started, const DiagnosticsOutcome& outcome, int status) {
    if (!started) {
        return "refused";
    }
    if (outcome.end == DiagnosticsOutcome::End::stopped) {
        return "stopped";
    }
    if (!outcome.ranToItsEnd()) {
        return "ended";
    }
    return status == TestRun::kExitErrorsFound ? "failed" : "passed";
}

nlohmann::json findingJson(const ReevaluatedFinding& f) {
    using nlohmann::json;
    const bool timed = f.passesRead > 0;
    return json{
        {"type", f.finding.typeOfTest()},
        {"class", f.finding.errorOrIrregularity()},
        {"start", f.finding.startRange()},
        {"stop", f.finding.stopRange()},
        {"recordedDuration", f.finding.duration()},
        {"verdict", verdictName(f.verdict)},
        {"passesRead", f.passesRead},
        {"average", timed ? json(f.times.sum / f.passesRead) : json(nullptr)},
        {"minimum", timed ? json(f.times.minimum) : json(nullptr)},
        {"maximum", timed ? json(f.times.maximum) : json(nullptr)},
        {"possibleTimeouts", f.possibleTimeouts},
    };
}

} // namespace

DiagnosticsCommand::DiagnosticsCommand(CliOptions options) : options_(std::move(options)) {}

DiagnosticsOptions DiagnosticsCommand::optionsFor(const CliOptions& options) {
    DiagnosticsOptions o;
    o.analyzeErrorsAndIrregularities = !options.noAnalysis;
    o.historicalAnalysis = !options.latestOnly;
    o.performInterfaceTests = options.interfaceIterations.value_or(0) > 0;
    o.interfaceTestIterations = options.interfaceIterations.value_or(o.interfaceTestIterations);
    o.performMemoryTests = options.memoryIterations.value_or(0) > 0;
    o.memoryTestIterations = options.memoryIterations.value_or(o.memoryTestIterations);
    return o;
}

int DiagnosticsCommand::exitStatusFor(bool started, const DiagnosticsOutcome& outcome) {
    if (!started || !outcome.ranToItsEnd()) {
        return TestRun::kExitNotRun;
    }
    return outcome.foundProblems() ? TestRun::kExitErrorsFound : TestRun::kExitPassed;
}

nlohmann::json DiagnosticsCommand::summaryJson(
    const CliOptions& options, bool started, const DiagnosticsOutcome& outcome,
    const DiagnosticsHistory& history, const std::string& historyFile, const std::string& device,
    const std::string& prefix, const std::string& logFile, const std::string& problem) {
    using nlohmann::json;
    const int status = exitStatusFor(started, outcome);
    const DiagnosticsOptions o = optionsFor(options);
    const DiagnosticsCounters& c = outcome.counters;
    json findings = json::array();
    for (const ReevaluatedFinding& f : outcome.findings) {
        findings.push_back(findingJson(f));
    }
    std::string why = problem.empty() ? outcome.problem : problem;
    return json{
        {"command", "diagnostics"},
        {"unit", options.unit},
        {"device", device},
        {"result", resultWord(started, outcome, status)},
        {"exitStatus", status},
        {"end", endName(outcome.end)},
        {"problem", TestRun::textOrNull(why)},
        {"filePrefix", TestRun::textOrNull(prefix)},
        {"log", TestRun::existingPathOrNull(logFile)},
        {"options",
         {{"analyzeErrorsAndIrregularities", o.analyzeErrorsAndIrregularities},
          {"historicalAnalysis", o.historicalAnalysis},
          {"interfaceTestIterations", o.performInterfaceTests ? o.interfaceTestIterations : 0},
          {"memoryTestIterations", o.performMemoryTests ? o.memoryTestIterations : 0}}},
        {"history",
         {{"file", TestRun::textOrNull(historyFile)},
          {"scanSets", history.scanSets().size()},
          {"records", history.recordCount()},
          {"refusedLines", history.refused().size()}}},
        {"referenceSector",
         outcome.referenceOffset > 0 ? json(outcome.referenceOffset) : json(nullptr)},
        {"possibleTimeouts", outcome.possibleTimeouts},
        {"counters",
         {{"weakBlocks", c.weakBlocks},
          {"badBlocks", c.badBlocks},
          {"probableSystemFaults", c.probableSystemFaults},
          {"memoryErrors", c.memoryErrors},
          {"interfaceErrors", c.interfaceErrors},
          {"seekErrors", c.seekErrors}}},
        {"findings", findings},
        {"interface", {{"iterationsRun", outcome.interfaceIterationsRun}}},
        {"memory",
         {{"passesRun", outcome.memoryPassesRun}, {"bytesTested", outcome.memoryBytesTested}}},
    };
}

int DiagnosticsCommand::run() {
    TestRun::Unit unit = TestRun::resolveUnit(options_.unit, TestRun::listAttachedMedia);
    if (!unit.media) {
        TestRun::complain(unit.error);
        return unit.status;
    }
    return runDiagnostics(*unit.media, unit.mediaArray);
}

int DiagnosticsCommand::runDiagnostics(const Media& unitMedia,
                                       const std::vector<Media>& mediaArray) {
    TestRun run(options_, unitMedia, mediaArray);
    GUIController& hub = run.hub();
    DiagnosticsControl& diagnostics = hub.diagnostics();
    diagnostics.setOptions(optionsFor(options_));
    bool started = run.runTest([&] { return hub.startDiagnosticsButtonPressed(); },
                               [&] { hub.stopDiagnosticsButtonPressed(); });

    const DiagnosticsOutcome outcome = diagnostics.lastOutcome();
    const int status = exitStatusFor(started, outcome);
    const std::string problem = started ? outcome.problem : diagnostics.startProblem();
    const std::string log = diagnostics.logFile();
    const DiagnosticsCounters& c = outcome.counters;
    if (!started) {
        TestRun::complain("no diagnostics were run" +
                          (problem.empty() ? std::string() : ": " + problem));
    } else if (!outcome.ranToItsEnd()) {
        TestRun::complain("diagnostics did not run to their end" +
                          (problem.empty() ? std::string() : ": " + problem) + "; log: " + log);
    } else {
        TestRun::complain(
            std::string("diagnostics ") +
            (status == TestRun::kExitErrorsFound ? "found problems" : "passed") + ": " +
            std::to_string(c.badBlocks) + " bad blocks, " + std::to_string(c.weakBlocks) +
            " weak blocks, " + std::to_string(c.seekErrors) + " seek errors, " +
            std::to_string(c.interfaceErrors) + " interface errors, " +
            std::to_string(c.memoryErrors) + " memory errors, " +
            std::to_string(c.probableSystemFaults) + " probable system faults; log: " + log);
    }
    run.printSummary(summaryJson(options_, started, outcome, diagnostics.history(),
                                 diagnostics.historyFile(), hub.rawTargetDevice(),
                                 hub.fileNamePrefix(), log, problem));
    return status;
}

} // namespace tolvarin
