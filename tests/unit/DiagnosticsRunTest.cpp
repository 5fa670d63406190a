#include "diagnostics/DiagnosticsRun.h"
#include "diagnostics/InterfaceTest.h"
#include "diagnostics/MemorySource.h"
#include "diagnostics/MemoryTest.h"
#include "diagnostics/TimedReread.h"
#include "logging/Logger.h"
#include "logging/MessageCenter.h"
#include "platform/SafeFile.h"
#include "tests/support/FakeClock.h"
#include "tests/support/FakeEnv.h"
#include "tests/support/ScriptedAnswerer.h"
#include "tests/support/SimulatedDevice.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvarin {

namespace {

constexpr int64_t GB = 1000000000;
constexpr int64_t kRead = TimedReread::kReadSize;

using ScanSet = DiagnosticsHistory::ScanSet;

DiagResults surfaceError(int64_t at) {
    return {"d", DiagResults::kSurfaceScan, DiagResults::kError, at, at, 999999.999999};
}
DiagResults surfaceIrregularity(int64_t at, double seconds) {
    return {"d", DiagResults::kSurfaceScan, DiagResults::kIrregularity, at, at, seconds};
}
DiagResults seekError(int64_t a, int64_t b) {
    return {"d", DiagResults::kSeekScan, DiagResults::kError, a, b, 999999.999999};
}

// A memory of a made-up size whose blocks can fail to come, or read back
// one flipped bit on chosen passes.
class FakeMemory : public MemorySource {
  public:
    explicit FakeMemory(uint64_t available) {
        facts_.total = 4 * available, facts_.available = available;
    }
    MemoryFacts facts() override { return facts_; }
    MemoryLimits limits() override { return MemoryLimits{uint64_t{1} << 40, 0}; }
    MemoryBlock allocate(std::size_t size) override {
        if (failFrom >= 0 && allocations++ >= failFrom) {
            return MemoryBlock();
        }
        return MemorySource::allocate(size);
    }
    void settle(int blockIndex, std::byte* block, std::size_t size) override {
        if (blockIndex == 1) {
            ++pass;
        }
        if (flipOnPass == pass && blockIndex == flipBlock) {
            block[size / 2] ^= std::byte{0x04};
        }
    }
    MemoryFacts facts_;
    int failFrom = -1;
    int allocations = 0;
    int pass = 0;
    int flipOnPass = -1;
    int flipBlock = 2;
};

class FakeHost : public DiagnosticsHost {
  public:
    FakeHost(FakeEnv& env, SimulatedDevice& device) : env_(env), device_(device) {}

    Env& env() override { return env_; }
    bool diagnosticsRunning() const override {
        int check = ++checks;
        return running.load() && (stopAtCheck < 0 || check < stopAtCheck);
    }
    void setDiagnosticsRunning(bool value) override { running = value; }
    void updateDiagnosticStats(const DiagnosticsProgress& progress) override {
        shown.push_back(progress);
    }
    void setUnderTest(bool value) override { underTest = value; }
    void resetButtons() override { ++resets; }
    void enableSystemItemsFromDiagnosticsThread() override { ++servicesOn; }
    void spinner(SpinnerAction action, int64_t location) override {
        if (action == SpinnerAction::start) {
            spinning = true;
        } else if (action == SpinnerAction::stop) {
            spinning = false;
        } else {
            spinnerLocation = location;
        }
    }
    std::mutex& timedReadLock() override { return lock_; }
    std::unique_ptr<RawDevice> openDevice(const std::string&) override {
        return device_.sharedHandle();
    }
    MemorySource& memorySource() override { return memory; }
    std::optional<std::string> volumeMountPoint(std::string* problem) override {
        if (!mountPoint) {
            *problem = "not mounted";
        }
        return mountPoint;
    }

    std::atomic<bool> running{true};
    mutable std::atomic<int> checks{0};
    int stopAtCheck = -1; // the stop check that finds the run stopped
    std::vector<DiagnosticsProgress> shown;
    bool underTest = false;
    int resets = 0;
    int servicesOn = 0;
    bool spinning = false;
    int64_t spinnerLocation = 0;
    FakeMemory memory{40 * 1048576};
    std::optional<std::string> mountPoint;

  private:
    FakeEnv& env_;
    SimulatedDevice& device_;
    std::mutex lock_;
};

class DiagnosticsRunTest : public ::testing::Test {
  protected:
    DiagnosticsRunTest() {
        MessageCenter::resetForTests();
        Logger::resetForTests();
        MessageCenter::setAnswerer(answers);
        Logger::setUserLogFileNameAndPathWithString(log);
        device.setClock(&clock);
        device.setReadCost(2000); // 2 ms: fast enough for a reference sector
    }
    ~DiagnosticsRunTest() override {
        MessageCenter::resetForTests();
        Logger::resetForTests();
    }

    DiagnosticsOutcome run(const std::vector<ScanSet>& history,
                           DiagnosticsOptions options = DiagnosticsOptions{}) {
        host.running = true;
        DiagnosticsRun r(host, options, history, DiagnosticsUnit{"/dev/sdz", false, "sdz1", "V"},
                         log);
        r.doDiagnosticsTests();
        return r.outcome();
    }
    std::string logText() const { return SafeFile::read(log).value_or(""); }
    size_t occurrences(const std::string& text) const {
        std::string all = logText();
        size_t n = 0;
        for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1)) {
            ++n;
        }
        return n;
    }
    Verdict verdictAt(const DiagnosticsOutcome& o, int64_t at, bool error) const {
        for (const auto& f : o.findings) {
            if (f.finding.startRange() == at && f.finding.isError() == error) {
                return f.verdict;
            }
        }
        ADD_FAILURE() << "no finding at " << at;
        return Verdict::notTested;
    }

    TempDir dir;
    std::string log = dir.path() + "/log.txt";
    FakeClock clock;
    FakeEnv env{clock};
    SimulatedDevice device{4 * GB};
    FakeHost host{env, device};
    std::shared_ptr<ScriptedAnswerer> answers = std::make_shared<ScriptedAnswerer>();
};

TEST_F(DiagnosticsRunTest, EachRecordedFindingGetsItsVerdictAndTheCountersFollow) {
    const int64_t bad = 1 * GB, weak = 1100000000, falseAlarm = 1200000000,
                  intermittent = 1300000000, healed = 1400000000, unreachable = 1600000000,
                  slowError = 1700000000, borderline = 1800000000;
    device.failReads(bad, bad + 512);
    device.slowReads(weak, weak + 512, 700000);
    device.failSeeks(unreachable, unreachable + 1);
    device.slowReads(slowError, slowError + 512, 700000);
    device.slowReads(borderline, borderline + 512, 690000 - 2000);
    std::vector<ScanSet> history = {
        {surfaceError(bad), surfaceIrregularity(weak, 0.7), surfaceIrregularity(falseAlarm, 0.8),
         surfaceIrregularity(intermittent, 5.0), surfaceError(healed),
         seekError(unreachable, 5000)},
        // Recorded again by a later scan: re-tested once.
        {surfaceError(bad), surfaceIrregularity(weak, 0.9), surfaceError(slowError),
         surfaceError(borderline)},
    };
    DiagnosticsOutcome o = run(history);

    EXPECT_EQ(o.end, DiagnosticsOutcome::End::completed);
    EXPECT_EQ(answers->askedNumbers(), std::vector<int>{31});
    ASSERT_EQ(o.findings.size(), 8u);
    EXPECT_EQ(verdictAt(o, bad, true), Verdict::errorConfirmed);
    EXPECT_EQ(verdictAt(o, weak, false), Verdict::weakSector);
    EXPECT_EQ(verdictAt(o, falseAlarm, false), Verdict::falseIrregularity);
    EXPECT_EQ(verdictAt(o, intermittent, false), Verdict::possibleIntermittentProblem);
    EXPECT_EQ(verdictAt(o, healed, true), Verdict::errorNoLongerPresent);
    EXPECT_EQ(verdictAt(o, unreachable, true), Verdict::unableToSeek);
    EXPECT_EQ(verdictAt(o, slowError, true), Verdict::errorNowAnIrregularity);
    EXPECT_EQ(verdictAt(o, borderline, true), Verdict::errorNoLongerPresent);
    EXPECT_EQ(o.counters, (DiagnosticsCounters{2, 1, 0, 0, 0, 1}));
    EXPECT_GE(o.referenceOffset, TimedReread::kReferenceStride);

    // The log: plan, reference, verdicts in their words, the end.
    std::string text = logText();
    for (const char* line :
         {"\t- Confirm detected errors.\n", "\t- Confirm detected irregularities.\n",
          "\t- Evaluate possible seek problems.\n",
          "\nUsing sector starting at byte 0.134218GB (actual:134217728)\nas a reference",
          "\tEvaluating irregularity at: 1.100000GB (actual:1100000000)\n",
          "\tIRREGULARITY CONFIRMED AS A WEAK SECTOR\n", "\t\tMaximum duration: 0.702000\n\n",
          "\tSURFACE SCAN ERROR CONFIRMED AS BAD BLOCK\n", "\tNO PROBLEMS DETECTED\n",
          "\n\tPOSSIBLE SIGNIFICANT INTERMITTENT PROBLEM\n", "\t\t\t5.000000 Seconds\n\n",
          "\tORIGINAL ERROR IS NO LONGER PRESENT\n", "\tERROR NOW DETECTED AS AN IRREGULARITY\n",
          "\tERROR: UNABLE TO SEEK TO TARGET LOCATION\n", "\n\nDiagnostics completed at "}) {
        EXPECT_NE(text.find(line), std::string::npos) << line;
    }
    EXPECT_EQ(text.find("Tests to be performed"), text.find("\nTests to be performed") + 1);
    EXPECT_EQ(occurrences("\tEvaluating error at:"), 5u);
    EXPECT_EQ(text.find("- Perform"), std::string::npos);

    // Irregularity passes are 250 ms apart; the bars stay within their ends
    // and the last display is the end.
    EXPECT_GE(clock.sleptMicros(), 3 * 5 * 250000);
    for (const DiagnosticsProgress& p : host.shown) {
        EXPECT_LE(p.currentProgress, 100.0);
        EXPECT_LE(p.overallProgress, 100.0);
    }
    ASSERT_FALSE(host.shown.empty());
    EXPECT_EQ(host.shown.back().currentTest, "Diagnostic tests complete");
    EXPECT_EQ(host.shown.back().overallProgress, 100.0);
    EXPECT_EQ(host.shown.back().counters, o.counters);
    EXPECT_FALSE(host.underTest);
    EXPECT_FALSE(host.running);
    EXPECT_FALSE(host.spinning);
    EXPECT_EQ(host.resets, 1);
    EXPECT_EQ(host.servicesOn, 1);
}

TEST_F(DiagnosticsRunTest, LatestOnlyTakesTheLastScanSetButTheEmptyCheckLooksAtAll) {
    const int64_t a = 1 * GB, b = 2 * GB;
    DiagnosticsOptions latest;
    latest.historicalAnalysis = false;
    DiagnosticsOutcome o = run({{surfaceError(a)}, {surfaceError(b)}}, latest);
    ASSERT_EQ(o.findings.size(), 1u);
    EXPECT_EQ(o.findings[0].finding.startRange(), b);

    // The last set is empty: nothing is re-tested, but the history is not
    // "without findings".
    o = run({{surfaceError(a)}, {}}, latest);
    EXPECT_EQ(o.end, DiagnosticsOutcome::End::completed);
    EXPECT_TRUE(o.findings.empty());
    EXPECT_NE(logText().find("There were no errors detected in the recorded tests.\n\n"),
              std::string::npos);
    EXPECT_EQ(answers->askedNumbers(), (std::vector<int>{31, 31}));
}

TEST_F(DiagnosticsRunTest, TimeoutClustersAreListedOnceAndExplainFastReReads) {
    const int64_t x = 1 * GB, y = 1100000000, z = 1200000000, w = 1300000000;
    device.slowReads(w, w + 512, 12200000);
    DiagnosticsOutcome o = run({{surfaceIrregularity(x, 12.0), surfaceIrregularity(y, 12.4),
                                 surfaceIrregularity(z, 12.9), surfaceError(w)}});
    EXPECT_EQ(o.possibleTimeouts, std::vector<double>{12.4});
    std::string text = logText();
    EXPECT_NE(text.find("\n\nNOTE:\n\tA number of the irregularities"), std::string::npos);
    EXPECT_NE(text.find("\tfollowing intervals:\n\n \t12.400000 Seconds\n\n\n"), std::string::npos);
    EXPECT_EQ(occurrences(" Seconds\n\n\n"), 1u);
    EXPECT_NE(text.find("\t- Look for system and drive timeouts.\n"), std::string::npos);
    EXPECT_EQ(verdictAt(o, x, false), Verdict::likelyTimeout);
    EXPECT_EQ(verdictAt(o, z, false), Verdict::likelyTimeout);
    EXPECT_EQ(occurrences("\tORIGINAL IRREGULARITY LIKELY CAUSED BY TIMEOUT\n"), 3u);
    // Every re-read of the error took as long as the timeouts: five notes,
    // no count.
    EXPECT_EQ(verdictAt(o, w, true), Verdict::errorNowAnIrregularity);
    EXPECT_EQ(occurrences("\n\tPOSSIBLE TIMEOUT DETECTED\n"), 5u);
    EXPECT_EQ(o.findings.back().possibleTimeouts.size(), 5u);
    EXPECT_EQ(o.counters, (DiagnosticsCounters{1, 0, 0, 0, 0, 0}));
}

TEST_F(DiagnosticsRunTest, EarlyEndsAskTheirMessageAndGiveEverythingBack) {
    // Nothing recorded, nothing else chosen: 28.
    DiagnosticsOutcome o = run({{}, {}});
    EXPECT_EQ(o.end, DiagnosticsOutcome::End::noFindings);
    EXPECT_TRUE(o.ranToItsEnd());
    // Nothing recorded with the memory test chosen: 27, Terminate.
    DiagnosticsOptions memory;
    memory.performMemoryTests = true;
    memory.memoryTestIterations = 2;
    answers->push(27, 0);
    o = run({}, memory);
    EXPECT_EQ(o.end, DiagnosticsOutcome::End::findingsDeclined);
    // Continue: the memory test runs; no reference sector is searched.
    answers->push(27, 1);
    o = run({{}}, memory);
    EXPECT_EQ(o.end, DiagnosticsOutcome::End::completed);
    EXPECT_EQ(o.memoryPassesRun, 2);
    EXPECT_EQ(o.referenceOffset, 0);
    // Every read fails: no reference sector, 29.
    device.failReads(0, 4 * GB);
    o = run({{surfaceError(GB)}});
    EXPECT_EQ(o.end, DiagnosticsOutcome::End::noReferenceSector);
    EXPECT_EQ(answers->askedNumbers(), (std::vector<int>{28, 27, 27, 31, 29}));
    EXPECT_EQ(host.resets, 4);
    EXPECT_EQ(host.servicesOn, 4);
    EXPECT_FALSE(host.underTest);
    EXPECT_NE(logText().find("\nAttempting to obtain reference sector.\n"), std::string::npos);
}

TEST_F(DiagnosticsRunTest, ReferenceSearchStaysOnTheUnitAndSkipsFailingCandidates) {
    std::mutex lock;
    SimulatedDevice small(300 * 1048576);
    small.setClock(&clock);
    small.setReadCost(2000);
    small.failReads(TimedReread::kReferenceStride, TimedReread::kReferenceStride + kRead);
    TimedReread reread(clock, lock, [&] { return small.sharedHandle(); });
    // 128 MiB fails, the stride grows by 512 MiB and passes the end.
    EXPECT_EQ(reread.obtainReferenceSector(), -1);
    SimulatedDevice slow(1 * GB);
    slow.setClock(&clock);
    slow.setReadCost(60000);
    TimedReread patient(clock, lock, [&] { return slow.sharedHandle(); });
    EXPECT_EQ(patient.obtainReferenceSector(), -1);
    // A short read counts as 0 s, a read that failed to open as a failed seek.
    SimulatedDevice shortOne(1 * GB);
    shortOne.shortReadAt(GB / 2, 4096);
    TimedReread shortRead(clock, lock, [&] { return shortOne.sharedHandle(); });
    EXPECT_EQ(shortRead.surfaceScanDiagnosticsAtByte(GB / 2, 0), 0.0);
    TimedReread none(clock, lock, [] { return std::unique_ptr<RawDevice>(); });
    EXPECT_EQ(none.surfaceScanDiagnosticsAtByte(0, 0), -1.0);
}

TEST_F(DiagnosticsRunTest, EveryStopCheckEndsTheRunWithTheStopRecord) {
    // A run through every phase: a finding of each class, two interface
    // iterations, two memory passes.
    TempDir volume;
    host.mountPoint = volume.path();
    DiagnosticsOptions all;
    all.performInterfaceTests = true;
    all.interfaceTestIterations = 2;
    all.performMemoryTests = true;
    all.memoryTestIterations = 2;
    const std::vector<ScanSet> history = {{surfaceIrregularity(GB, 0.7), surfaceError(2 * GB)}};

    host.stopAtCheck = -1;
    host.checks = 0;
    ASSERT_EQ(run(history, all).end, DiagnosticsOutcome::End::completed);
    const int checks = host.checks;
    // Per finding of its phase: 1 + 1 + 4 (irregularity), 1 + 1 + 4 (error);
    // 1 passed-over finding in each phase; 20 reads per interface
    // iteration; 1 before the memory phase and 1 per pass.
    EXPECT_EQ(checks, 6 + 1 + 6 + 1 + 40 + 1 + 2);
    for (int stopAt = 1; stopAt <= checks; ++stopAt) {
        SCOPED_TRACE(stopAt);
        ASSERT_TRUE(SafeFile::replace(log, ""));
        host.checks = 0;
        host.stopAtCheck = stopAt;
        int asked = static_cast<int>(answers->askedNumbers().size());
        int servicesOn = host.servicesOn;
        DiagnosticsOutcome o = run(history, all);
        EXPECT_EQ(o.end, DiagnosticsOutcome::End::stopped);
        EXPECT_EQ(host.checks, stopAt);
        std::string text = logText();
        EXPECT_NE(text.find("\n\nDIAGNOSTICS STOPPED BY USER\nDiagnostics were terminated at: "),
                  std::string::npos);
        EXPECT_EQ(text.find("Diagnostics completed at"), std::string::npos);
        ASSERT_EQ(answers->askedNumbers().size(), static_cast<size_t>(asked + 1));
        EXPECT_EQ(answers->askedNumbers().back(), 32);
        EXPECT_EQ(host.servicesOn, servicesOn + 1);
        EXPECT_FALSE(host.underTest);
        EXPECT_FALSE(host.spinning);
        // A stopped interface phase leaves nothing on the volume.
        EXPECT_TRUE(volume.entries().empty());
    }
}

TEST_F(DiagnosticsRunTest, InterfacePhaseWritesReadsComparesAndCleansUp) {
    TempDir volume;
    host.mountPoint = volume.path();
    DiagnosticsOptions interface;
    interface.analyzeErrorsAndIrregularities = false;
    interface.performInterfaceTests = true;
    interface.interfaceTestIterations = 3;
    DiagnosticsOutcome o = run({}, interface);
    EXPECT_EQ(o.end, DiagnosticsOutcome::End::completed);
    EXPECT_EQ(o.interfaceIterationsRun, 3);
    EXPECT_EQ(o.counters, DiagnosticsCounters{});
    std::string text = logText();
    EXPECT_NE(text.find("\nBeginning interface tests.\n-------------------------\n\n"),
              std::string::npos);
    EXPECT_EQ(occurrences("passed with no problems.\n"), 3u);
    EXPECT_NE(text.find("\nInterface tests passed with no errors detected.\n\n"),
              std::string::npos);
    // The directory the test made went with its file.
    EXPECT_TRUE(volume.entries().empty());
    // An existing tmp directory stays.
    ASSERT_EQ(::mkdir((volume.path() + "/tmp").c_str(), 0755), 0);
    EXPECT_EQ(run({}, interface).end, DiagnosticsOutcome::End::completed);
    EXPECT_EQ(volume.entries(), std::vector<std::string>{"tmp"});
    EXPECT_EQ(::rmdir((volume.path() + "/tmp").c_str()), 0) << "the tmp directory kept a file";
    ASSERT_EQ(::mkdir((volume.path() + "/tmp").c_str(), 0755), 0);

    // A link planted at the test file's path: message 30, the target
    // untouched, the link left where it was.
    TempDir outside;
    const std::string target = outside.path() + "/precious";
    ASSERT_TRUE(SafeFile::replace(target, "keep me"));
    const std::string planted = volume.path() + "/tmp/" + InterfaceTest::kFileName;
    ASSERT_EQ(::symlink(target.c_str(), planted.c_str()), 0);
    o = run({}, interface);
    EXPECT_EQ(o.end, DiagnosticsOutcome::End::volumeNotWritable);
    EXPECT_EQ(SafeFile::read(target).value_or(""), "keep me");
    struct stat st {};
    EXPECT_EQ(::lstat(planted.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_NE(logText().find("Interface test file could not be created: "), std::string::npos);
    // Not mounted: message 30 as well.
    host.mountPoint.reset();
    EXPECT_EQ(run({}, interface).end, DiagnosticsOutcome::End::volumeNotWritable);
    EXPECT_EQ(answers->askedNumbers(), (std::vector<int>{31, 31, 30, 30}));
}

TEST_F(DiagnosticsRunTest, MemoryPhaseCountsAFlippedBitAndEndsOnAFailedAllocation) {
    DiagnosticsOptions memory;
    memory.analyzeErrorsAndIrregularities = false;
    memory.performMemoryTests = true;
    memory.memoryTestIterations = 3;
    host.memory.flipOnPass = 2;
    DiagnosticsOutcome o = run({}, memory);
    EXPECT_EQ(o.end, DiagnosticsOutcome::End::completed);
    EXPECT_EQ(o.counters.memoryErrors, 1);
    EXPECT_TRUE(o.foundProblems());
    // 40 MiB free: 5 blocks available, 3 tested.
    EXPECT_EQ(o.memoryBytesTested, 3 * MemoryTest::kBlockSize);
    std::string text = logText();
    EXPECT_NE(text.find("Number of test blocks available: 5\n"), std::string::npos);
    EXPECT_NE(text.find("Number of test blocks assigned: 3\n\n"), std::string::npos);
    EXPECT_NE(text.find("\tERROR: Memory error detected on block 2\n"), std::string::npos);
    EXPECT_NE(text.find("\tMemory test number 2 FAILED.\n"), std::string::npos);
    EXPECT_NE(text.find("Memory tests FAILED with 1 errors detected.\n\n"), std::string::npos);

    host.memory.failFrom = 0;
    o = run({}, memory);
    EXPECT_EQ(o.end, DiagnosticsOutcome::End::memoryNotAllocated);
    EXPECT_FALSE(host.running);
    EXPECT_NE(logText().find("\n\n****** MEMORY TEST FAILED TO ALLOCATE MEMORY *****\n"),
              std::string::npos);
    EXPECT_EQ(answers->askedNumbers(), std::vector<int>{31});
}

} // namespace

} // namespace tolvarin
