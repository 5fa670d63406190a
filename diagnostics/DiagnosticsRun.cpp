#include "diagnostics/DiagnosticsRun.h"

#include "base/TextFormat.h"
#include "base/Utils.h"
#include "diagnostics/InterfaceTest.h"
#include "diagnostics/MemoryTest.h"
#include "diagnostics/TimedReread.h"
#include "logging/Logger.h"
#include "logging/MessageCenter.h"
#include "platform/Env.h"
#include "platform/RawDevice.h"
#include "platform/System.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <exception>
#include <set>
#include <utility>

namespace tolvarin {

namespace {

constexpr double kFullBar = 100.0;

std::string dashes(std::size_t count) {
    return std::string(count, '-');
}

// The step one item moves a bar by: nothing when there are no items, so a
// bar never runs past its end or divides by zero.
double stepFor(int items) {
    return items > 0 ? kFullBar / items : 0.0;
}

double clampPercent(double value) {
    return std::clamp(value, 0.0, kFullBar);
}

} // namespace

const char* endName(DiagnosticsOutcome::End end) {
    switch (end) {
    case DiagnosticsOutcome::End::notStarted:
        return "notStarted";
    case DiagnosticsOutcome::End::completed:
        return "completed";
    case DiagnosticsOutcome::End::stopped:
        return "stopped";
    case DiagnosticsOutcome::End::noFindings:
        return "noFindings";
    case DiagnosticsOutcome::End::findingsDeclined:
        return "findingsDeclined";
    case DiagnosticsOutcome::End::noReferenceSector:
        return "noReferenceSector";
    case DiagnosticsOutcome::End::volumeNotWritable:
        return "volumeNotWritable";
    case DiagnosticsOutcome::End::memoryNotAllocated:
        return "memoryNotAllocated";
    case DiagnosticsOutcome::End::failed:
        return "failed";
    }
    return "failed";
}

DiagnosticsRun::DiagnosticsRun(DiagnosticsHost& host, const DiagnosticsOptions& options,
                               std::vector<DiagnosticsHistory::ScanSet> diagnosticsData,
                               DiagnosticsUnit unit, std::string logFile)
    : host_(host), options_(options), diagnosticsData_(std::move(diagnosticsData)),
      unit_(std::move(unit)), logFile_(std::move(logFile)) {}

DiagnosticsRun::~DiagnosticsRun() = default;

DiagnosticsOutcome DiagnosticsRun::outcome() const {
    std::lock_guard<std::mutex> lock(outcomeMutex_);
    return outcome_;
}

void DiagnosticsRun::setEnd(DiagnosticsOutcome::End end, const std::string& problem) {
    std::lock_guard<std::mutex> lock(outcomeMutex_);
    outcome_.end = end;
    outcome_.problem = problem;
    outcome_.counters = progress_.counters;
}

void DiagnosticsRun::log(const char* format, ...) {
    va_list args;
    va_start(args, format);
    Logger::vwriteDataToLogFile(logFile_, format, args);
    va_end(args);
}

void DiagnosticsRun::show() {
    progress_.currentProgress = clampPercent(progress_.currentProgress);
    progress_.overallProgress = clampPercent(progress_.overallProgress);
    {
        std::lock_guard<std::mutex> lock(outcomeMutex_);
        outcome_.counters = progress_.counters;
    }
    host_.updateDiagnosticStats(progress_);
}

void DiagnosticsRun::step(double currentStep) {
    progress_.currentProgress += currentStep;
    progress_.overallProgress += overallStep_;
}

void DiagnosticsRun::setCurrentTest(const std::string& text) {
    progress_.currentTest = text;
}

void DiagnosticsRun::noteFinding(std::size_t index, const ReevaluatedFinding& result) {
    std::lock_guard<std::mutex> lock(outcomeMutex_);
    if (index < outcome_.findings.size()) {
        outcome_.findings[index] = result;
    }
}

bool DiagnosticsRun::takeReread(ReevaluatedFinding& result, double seconds, Verdict onFailedRead) {
    if (TimedReread::failedRead(seconds) || TimedReread::failedSeek(seconds)) {
        result.verdict = TimedReread::failedRead(seconds) ? onFailedRead : Verdict::unableToSeek;
        return false;
    }
    Verdicts::Times& t = result.times;
    const bool first = result.passesRead == 0;
    t.sum += seconds;
    t.minimum = first ? seconds : std::min(t.minimum, seconds);
    t.maximum = first ? seconds : std::max(t.maximum, seconds);
    ++result.passesRead;
    return true;
}

void DiagnosticsRun::countVerdict(std::size_t index, const ReevaluatedFinding& result,
                                  double currentStep) {
    DiagnosticsCounters& c = progress_.counters;
    c.weakBlocks += Verdicts::countsAsWeakBlock(result.verdict) ? 1 : 0;
    c.badBlocks += Verdicts::countsAsBadBlock(result.verdict) ? 1 : 0;
    c.seekErrors += result.verdict == Verdict::unableToSeek ? 1 : 0;
    noteFinding(index, result);
    step(currentStep);
    show();
}

// --- stop and early ends ---------------------------------------------------------

void DiagnosticsRun::diagnosticsStopped() {
    Env& env = host_.env();
    log("%s", "\n\nDIAGNOSTICS STOPPED BY USER\n");
    log("Diagnostics were terminated at: %s.\n", Utils::createPrintableTimeStamp(env).c_str());
    host_.setUnderTest(false);
}

bool DiagnosticsRun::diagnosticsStoppedByUser() {
    if (host_.diagnosticsRunning()) {
        return false;
    }
    diagnosticsStopped();
    host_.setUnderTest(false);
    setEnd(DiagnosticsOutcome::End::stopped, "The diagnostics were stopped.");
    host_.enableSystemItemsFromDiagnosticsThread();
    MessageCenter::generateAlertDialogWithNumber(kStoppedMessage);
    return true;
}

void DiagnosticsRun::endEarly(DiagnosticsOutcome::End end, const std::string& problem) {
    System::consoleLog("Diagnostics ended early: " + problem);
    setEnd(end, problem);
    host_.resetButtons();
    host_.enableSystemItemsFromDiagnosticsThread();
    host_.setUnderTest(false);
}

// --- the run ----------------------------------------------------------------------

void DiagnosticsRun::doDiagnosticsTests() {
    try {
        reread_ = std::make_unique<TimedReread>(
            host_.env(), host_.timedReadLock(),
            [this] { return host_.openDevice(unit_.rawDevice); },
            [this](int64_t location) { host_.spinner(SpinnerAction::locate, location); });
        if (buildFindings() == Flow::goOn) {
            writePlan();
            if (obtainReference() == Flow::goOn) {
                progress_ = DiagnosticsProgress{};
                host_.setUnderTest(true);
                show();
                host_.spinner(SpinnerAction::start);
                Flow flow = Flow::goOn;
                if (options_.analyzeErrorsAndIrregularities) {
                    flow = irregularityPhase();
                    if (flow == Flow::goOn) {
                        flow = errorPhase();
                    }
                }
                host_.spinner(SpinnerAction::stop);
                if (flow == Flow::goOn && options_.performInterfaceTests) {
                    flow = interfacePhase();
                }
                if (flow == Flow::goOn && options_.performMemoryTests) {
                    flow = diagnosticsStoppedByUser() ? Flow::ended : memoryPhase();
                }
                if (flow == Flow::goOn) {
                    completeRun();
                }
            }
        }
    } catch (const std::exception& e) {
        // An escaped exception would end the whole program; end the run and
        // give the user the buttons back.
        log("\n\nDiagnostics ended on an error: %s\n", e.what());
        endEarly(DiagnosticsOutcome::End::failed,
                 std::string("An error ended the run: ") + e.what());
    }
    host_.spinner(SpinnerAction::stop);
    host_.setDiagnosticsRunning(false);
    reread_.reset();
}

std::vector<DiagResults>
DiagnosticsRun::findingsList(const std::vector<DiagnosticsHistory::ScanSet>& diagnosticsData,
                             bool historicalAnalysis) {
    std::vector<DiagResults> list;
    if (diagnosticsData.empty()) {
        return list;
    }
    auto first = historicalAnalysis ? diagnosticsData.begin() : diagnosticsData.end() - 1;
    // A location is re-tested once per class, whichever scan recorded it.
    std::set<int64_t> errors;
    std::set<int64_t> irregularities;
    for (auto set = first; set != diagnosticsData.end(); ++set) {
        for (const DiagResults& record : *set) {
            std::set<int64_t>& seen = record.isError() ? errors : irregularities;
            if (seen.insert(record.startRange()).second) {
                list.push_back(record);
            }
        }
    }
    return list;
}

DiagnosticsRun::Flow DiagnosticsRun::buildFindings() {
    if (!options_.analyzeErrorsAndIrregularities) {
        return Flow::goOn;
    }
    bool noFindings = std::all_of(diagnosticsData_.begin(), diagnosticsData_.end(),
                                  [](const DiagnosticsHistory::ScanSet& s) { return s.empty(); });
    if (noFindings) {
        if (!options_.performInterfaceTests && !options_.performMemoryTests) {
            MessageCenter::generateAlertDialogWithNumber(kNoFindingsMessage);
            endEarly(DiagnosticsOutcome::End::noFindings,
                     "The diagnostics history holds no findings.");
            return Flow::ended;
        }
        if (MessageCenter::generateAlertDialogWithNumber(kNoFindingsOtherTestsMessage) == 0) {
            endEarly(DiagnosticsOutcome::End::findingsDeclined,
                     "The diagnostics history holds no findings; the run was not continued.");
            return Flow::ended;
        }
    }
    findings_ = findingsList(diagnosticsData_, options_.historicalAnalysis);
    for (const DiagResults& r : findings_) {
        surfaceErrorsPresent_ = surfaceErrorsPresent_ || (r.isSurfaceScan() && r.isError());
        surfaceIrregularitiesPresent_ =
            surfaceIrregularitiesPresent_ || (r.isSurfaceScan() && r.isIrregularity());
        seekRecordsPresent_ = seekRecordsPresent_ || r.isSeekScan();
        errorCount_ += r.isError() ? 1 : 0;
        irregularityCount_ += r.isIrregularity() ? 1 : 0;
    }
    {
        std::lock_guard<std::mutex> lock(outcomeMutex_);
        outcome_.findings.clear();
        for (const DiagResults& r : findings_) {
            outcome_.findings.push_back(ReevaluatedFinding{r, Verdict::notTested, 0, {}, {}});
        }
    }
    if (timeouts_.search(findings_)) {
        timeouts_.merge();
        timeouts_.writeNoteToLog();
        std::lock_guard<std::mutex> lock(outcomeMutex_);
        outcome_.possibleTimeouts = timeouts_.durations();
    }
    return Flow::goOn;
}

void DiagnosticsRun::writePlan() {
    Logger::updateLogWithCRString("\nTests to be performed during this diagnostic session:\n");
    Logger::updateLogWithCRString(dashes(53) + "\n");
    if (timeouts_.timeoutsPresent()) {
        Logger::updateLogWithCRString("\t- Look for system and drive timeouts.\n");
    }
    if (surfaceErrorsPresent_) {
        Logger::updateLogWithCRString("\t- Confirm detected errors.\n");
    }
    if (surfaceIrregularitiesPresent_) {
        Logger::updateLogWithCRString("\t- Confirm detected irregularities.\n");
    }
    if (seekRecordsPresent_) {
        Logger::updateLogWithCRString("\t- Evaluate possible seek problems.\n");
    }
    if (options_.performInterfaceTests) {
        Logger::updateLogWithCRString("\t- Perform interface tests.\n");
    }
    if (options_.performMemoryTests) {
        Logger::updateLogWithCRString("\t- Perform memory tests.\n");
    }
    // Every re-tested finding is a step, seek findings included, so that the
    // overall bar ends at its end.
    int total = errorCount_ + irregularityCount_;
    total += options_.performInterfaceTests ? options_.interfaceTestIterations : 0;
    total += options_.performMemoryTests ? options_.memoryTestIterations : 0;
    overallStep_ = stepFor(total);
}

DiagnosticsRun::Flow DiagnosticsRun::obtainReference() {
    if (!surfaceErrorsPresent_ && !surfaceIrregularitiesPresent_ && !seekRecordsPresent_) {
        referenceOffset_ = 0;
        return Flow::goOn;
    }
    log("%s", "\nAttempting to obtain reference sector.\n");
    referenceOffset_ = reread_->obtainReferenceSector();
    {
        std::lock_guard<std::mutex> lock(outcomeMutex_);
        outcome_.referenceOffset = referenceOffset_;
    }
    if (referenceOffset_ < 0) {
        MessageCenter::generateAlertDialogWithNumber(kNoReferenceSectorMessage);
        endEarly(DiagnosticsOutcome::End::noReferenceSector,
                 "No reference sector could be found on " + unit_.rawDevice + ".");
        return Flow::ended;
    }
    log("\nUsing sector starting at byte %s\nas a reference sector.\n\n",
        Verdicts::dualFormat(referenceOffset_).c_str());
    return Flow::goOn;
}

DiagnosticsRun::Flow DiagnosticsRun::irregularityPhase() {
    log("%s", "Beginning evaluation of detected irregularities.\n");
    log("%s\n\n", dashes(48).c_str());
    progress_.currentProgress = 0;
    const double currentStep = stepFor(irregularityCount_);
    Env& env = host_.env();
    for (std::size_t i = 0; i < findings_.size(); ++i) {
        if (diagnosticsStoppedByUser()) {
            return Flow::ended;
        }
        const DiagResults& finding = findings_[i];
        const int64_t location = finding.startRange();
        const double recorded = finding.duration();
        const bool likelyTimeout =
            timeouts_.timeoutsPresent() && timeouts_.isPossibleTimeout(recorded);
        if (!finding.isIrregularity()) {
            continue;
        }
        const double gigabytes = static_cast<double>(location) / 1000000000.0;
        setCurrentTest(formatText("Evaluating irregularity at %f GB, pass 1", gigabytes));
        show();
        env.sleepMicros(kIrregularityPassPauseMicros);
        log("\tEvaluating irregularity at: %s\n", Verdicts::dualFormat(location).c_str());
        if (diagnosticsStoppedByUser()) {
            return Flow::ended;
        }
        ReevaluatedFinding result{finding, Verdict::notTested, 0, {}, {}};
        for (int pass = 1; pass <= Verdicts::kPasses; ++pass) {
            if (pass > 1) {
                if (diagnosticsStoppedByUser()) {
                    noteFinding(i, result);
                    return Flow::ended;
                }
                setCurrentTest(
                    formatText("Evaluating irregularity at %f GB, pass %d", gigabytes, pass));
                show();
                env.sleepMicros(kIrregularityPassPauseMicros);
            }
            const double t = reread_->surfaceScanDiagnosticsAtByte(location, referenceOffset_);
            if (!takeReread(result, t, Verdict::irregularityBecameError)) {
                break;
            }
        }
        if (result.verdict == Verdict::notTested) {
            result.verdict = Verdicts::classifyIrregularity(result.times, recorded, likelyTimeout);
        }
        Verdicts::writeVerdict(logFile_, result.verdict, result.times, recorded);
        countVerdict(i, result, currentStep);
    }
    return Flow::goOn;
}

DiagnosticsRun::Flow DiagnosticsRun::errorPhase() {
    log("%s", "\nBeginning evaluation of detected errors.\n");
    log("%s\n\n", dashes(40).c_str());
    if (errorCount_ == 0) {
        log("%s", "There were no errors detected in the recorded tests.\n\n");
    }
    progress_.currentProgress = 0;
    const double currentStep = stepFor(errorCount_);
    for (std::size_t i = 0; i < findings_.size(); ++i) {
        if (diagnosticsStoppedByUser()) {
            return Flow::ended;
        }
        const DiagResults& finding = findings_[i];
        const int64_t location = finding.startRange();
        if (!finding.isError()) {
            continue;
        }
        setCurrentTest(
            formatText("Evaluating error at %f GB", static_cast<double>(location) / 1000000000.0));
        show();
        log("\tEvaluating error at: %s\n", Verdicts::dualFormat(location).c_str());
        if (diagnosticsStoppedByUser()) {
            return Flow::ended;
        }
        ReevaluatedFinding result{finding, Verdict::notTested, 0, {}, {}};
        for (int pass = 1; pass <= Verdicts::kPasses; ++pass) {
            if (pass > 1 && diagnosticsStoppedByUser()) {
                noteFinding(i, result);
                return Flow::ended;
            }
            const double t = reread_->surfaceScanDiagnosticsAtByte(location, referenceOffset_);
            if (timeouts_.timeoutsPresent() && timeouts_.isPossibleTimeout(t)) {
                Verdicts::possibleTimeoutDetected(logFile_, t);
                result.possibleTimeouts.push_back(t);
            }
            if (!takeReread(result, t, Verdict::errorConfirmed)) {
                break;
            }
        }
        if (result.verdict == Verdict::notTested) {
            result.verdict = Verdicts::classifyError(result.times);
        }
        Verdicts::writeVerdict(logFile_, result.verdict, result.times, finding.duration());
        countVerdict(i, result, currentStep);
    }
    return Flow::goOn;
}

DiagnosticsRun::Flow DiagnosticsRun::interfacePhase() {
    log("%s", "\nBeginning interface tests.\n");
    log("%s\n\n", dashes(25).c_str());
    std::string problem;
    std::optional<std::string> mountPoint = host_.volumeMountPoint(&problem);
    InterfaceTest test(host_.env(), mountPoint.value_or(std::string()));
    if (mountPoint && !test.createTestFilePathAndName()) {
        problem = test.problem();
    }
    if (!mountPoint || !problem.empty()) {
        // Why the volume could not take the test file: the log says so.
        log("Interface test file could not be created: %s\n", problem.c_str());
        MessageCenter::generateAlertDialogWithNumber(kVolumeNotWritableMessage);
        endEarly(DiagnosticsOutcome::End::volumeNotWritable,
                 "The interface test file could not be created: " + problem);
        return Flow::ended;
    }

    const int iterations = options_.interfaceTestIterations;
    const double currentStep = stepFor(iterations);
    progress_.currentProgress = 0;
    std::vector<uint8_t> written = InterfaceTest::allocateBuffer(InterfaceTest::kBufferSize);
    DiagnosticsCounters& c = progress_.counters;
    auto possibleTimeout = [&](double seconds) {
        if (timeouts_.timeoutsPresent() && timeouts_.isPossibleTimeout(seconds)) {
            Verdicts::possibleTimeoutDetected(logFile_, seconds);
        }
    };
    for (int i = 1; i <= iterations && !test.exitNow(); ++i) {
        setCurrentTest(formatText("Performing interface test %d of %d", i, iterations));
        show();
        InterfaceTest::fillBuffer(written,
                                  i % 2 == 1 ? MemoryTest::kOddPattern : MemoryTest::kEvenPattern);
        const double w = test.writeTestFileUsingBuffer(written);
        possibleTimeout(w);
        if (w > kAbnormalTransferSeconds) {
            ++c.probableSystemFaults;
            Verdicts::interfaceWriteFileTookAbnomallyLong(logFile_, w);
        }
        if (w < 0) {
            ++c.probableSystemFaults;
            Verdicts::interfaceWriteOperationFailed(logFile_);
            test.setExitNow(true);
            break;
        }
        bool problemSeen = false;
        bool readFailed = false;
        for (int r = 0; r < kReadsPerInterfaceIteration; ++r) {
            if (diagnosticsStoppedByUser()) {
                // A stopped run leaves nothing of its own on the volume.
                test.deleteTestFile();
                return Flow::ended;
            }
            std::vector<uint8_t> read = InterfaceTest::allocateBuffer(InterfaceTest::kBufferSize);
            const double t = test.readTestFileUsingBuffer(read);
            possibleTimeout(t);
            if (t < -999.0) {
                ++c.probableSystemFaults;
                Verdicts::interfaceReadOperationFailed(logFile_);
                test.setExitNow(true);
                readFailed = true;
                break;
            }
            if (t > kAbnormalTransferSeconds) {
                ++c.probableSystemFaults;
                Verdicts::interfaceReadFileTookAbnomallyLong(logFile_, t);
                problemSeen = true;
            }
            if (std::memcmp(read.data(), written.data(), written.size()) != 0) {
                ++c.interfaceErrors;
                Verdicts::interfaceErrorDetected(logFile_);
                problemSeen = true;
            }
        }
        if (!readFailed) {
            log(problemSeen ? "\tERROR: Interface problem detected during iteration %d.\n"
                            : "\tInterface test number %d passed with no problems.\n",
                i);
        }
        {
            std::lock_guard<std::mutex> lock(outcomeMutex_);
            outcome_.interfaceIterationsRun = i;
        }
        step(currentStep);
        show();
    }
    show();
    test.deleteTestFile();
    if (c.interfaceErrors == 0) {
        log("%s", "\nInterface tests passed with no errors detected.\n\n");
    } else {
        log("\nInterface tests FAILED with %d errors detected.\n\n", c.interfaceErrors);
    }
    return Flow::goOn;
}

DiagnosticsRun::Flow DiagnosticsRun::memoryPhase() {
    log("%s", "\nPerforming memory and system bus tests.\n");
    log("%s\n\n", dashes(39).c_str());
    const int passes = options_.memoryTestIterations;
    const double currentStep = stepFor(passes);
    progress_.currentProgress = 0;
    setCurrentTest(formatText("Performing memory test number %d of %d", 1, passes));
    show();
    MemoryTest test(host_.memorySource(), logFile_);
    if (!test.prepMemoryTest()) {
        log("%s", "\n\n****** MEMORY TEST FAILED TO ALLOCATE MEMORY *****\n");
        log("%s", "Terminating diagnostics operation and returning to main application.\n\n");
        host_.setDiagnosticsRunning(false);
        endEarly(DiagnosticsOutcome::End::memoryNotAllocated,
                 "The memory test could not allocate its memory.");
        return Flow::ended;
    }
    {
        std::lock_guard<std::mutex> lock(outcomeMutex_);
        outcome_.memoryBytesTested = test.bytesTaken();
    }
    DiagnosticsCounters& c = progress_.counters;
    for (int n = 1; n <= passes; ++n) {
        if (diagnosticsStoppedByUser()) {
            return Flow::ended;
        }
        setCurrentTest(formatText("Performing memory test number %d of %d", n, passes));
        step(currentStep);
        show();
        if (test.doMemoryTest()) {
            log("\tMemory test number %d passed with no problems.\n", n);
        } else {
            ++c.memoryErrors;
            log("\tMemory test number %d FAILED.\n", n);
        }
        {
            std::lock_guard<std::mutex> lock(outcomeMutex_);
            outcome_.memoryPassesRun = n;
        }
        show();
    }
    test.memoryTestCleanup();
    if (c.memoryErrors == 0) {
        log("%s", "Memory tests passed with no errors detected.\n\n");
    } else {
        log("Memory tests FAILED with %d errors detected.\n\n", c.memoryErrors);
    }
    return Flow::goOn;
}

void DiagnosticsRun::completeRun() {
    host_.setUnderTest(false);
    host_.setDiagnosticsRunning(false);
    setCurrentTest("Diagnostic tests complete");
    log("\n\nDiagnostics completed at %s.\n", Utils::createPrintableTimeStamp(host_.env()).c_str());
    progress_.currentProgress = kFullBar;
    progress_.overallProgress = kFullBar;
    show();
    setEnd(DiagnosticsOutcome::End::completed);
    host_.resetButtons();
    host_.enableSystemItemsFromDiagnosticsThread();
    MessageCenter::generateAlertDialogWithNumber(kCompletedMessage);
}

} // namespace tolvarin
