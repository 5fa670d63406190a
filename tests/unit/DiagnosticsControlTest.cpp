#include "app/GUIController.h"
#include "cli/DiagnosticsCommand.h"
#include "diagnostics/DiagnosticsRun.h"
#include "diagnostics/MemorySource.h"
#include "logging/Logger.h"
#include "logging/MessageCenter.h"
#include "platform/SafeFile.h"
#include "store/Quarrykit.h"
#include "tests/support/FakeClock.h"
#include "tests/support/FakeEnv.h"
#include "tests/support/RecordingServices.h"
#include "tests/support/RecordingView.h"
#include "tests/support/ScriptedAnswerer.h"
#include "tests/support/SimulatedDevice.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

namespace tolvarin {

namespace {

namespace fs = std::filesystem;

constexpr int64_t MiB = 1048576;

Media disk(const std::string& id, const std::string& uuid) {
    Media m;
    m.setIsPrimaryDisk(true);
    m.setPrimaryDiskID(id);
    m.setPrimaryDiskSize(std::string("314.6 MB"));
    m.setPrimaryDiskPartitionType(std::string("None"));
    m.setVolumeDiskID(std::string());
    m.setSMARTStatus(std::string("Not Supported"));
    m.setUUID(uuid);
    m.setInterfaceType(std::string("Serial ATA Hard Drive"));
    return m;
}

// Hands every switch to a recorder that outlives the hub.
class SharedServices : public SystemServices {
  public:
    explicit SharedServices(std::shared_ptr<RecordingServices> record)
        : record_(std::move(record)) {}
    bool present(Service s, const std::string& d) override { return record_->present(s, d); }
    bool turnOff(Service s, const std::string& d) override { return record_->turnOff(s, d); }
    bool turnOn(Service s, const std::string& d) override { return record_->turnOn(s, d); }

  private:
    std::shared_ptr<RecordingServices> record_;
};

// The hub with a simulated 300 MiB unit on which one normal test recorded
// a bad block and a slow place.
class DiagnosticsControlTest : public ::testing::Test {
  protected:
    static constexpr int64_t kBad = 205 * MiB; // away from the seek locations (every 10 MiB)
    static constexpr int64_t kSlow =
        105 * MiB; // before the bad block: the rest of a failed section is not read

    DiagnosticsControlTest()
        : home("TOLVARIN_HOME", dir.path()),
          resources("TOLVARIN_RESOURCES", std::string(TOLVARIN_TEST_DATA) + "/../../resources") {
        MessageCenter::resetForTests();
        Logger::resetForTests();
        MessageCenter::setAnswerer(answers);
        view.setLogFileAnswer(dir.path() + "/Log.txt");
        clock.setSleep([this](int64_t micros) {
            if (micros == DiagnosticsRun::kIrregularityPassPauseMicros && onPause) {
                onPause();
            }
            std::this_thread::yield();
        });
        device.setClock(&clock);
        device.setReadCost(1000);
        device.failReads(kBad, kBad + 512);
        device.slowReads(kSlow, kSlow + 512, 700000);

        Preferences p(dir.path() + "/Tolvarin.conf");
        p.setIntegerForKey(1, Preferences::indexingControl);
        p.setIntegerForKey(0, Preferences::disableTimeMachine);
        p.setIntegerForKey(0, Preferences::disablePowerManagement);
        hub = std::make_unique<GUIController>(view, p, env,
                                              std::make_unique<SharedServices>(services));
        hub->setQuarrykit(std::make_shared<Quarrykit>());
        hub->setDeviceOpener([this](const std::string&, bool) { return device.sharedHandle(); });
        hub->awakeFromNib();
        hub->setCurrentMediaArray({unit, other});
        hub->selectUnit(unit);
    }
    ~DiagnosticsControlTest() override {
        hub.reset();
        MessageCenter::resetForTests();
        Logger::resetForTests();
    }

    void recordFindings() {
        answers->push(0, 1);
        answers->push(8, 0);
        ASSERT_TRUE(hub->normalStartButtonSelected()) << hub->startProblem();
        hub->waitForTestEnd();
        std::string asked;
        for (int n : answers->askedNumbers()) {
            asked += std::to_string(n) + " ";
        }
        ASSERT_TRUE(hub->testResults().completed) << hub->startProblem() << " asked " << asked;
    }
    bool runDiagnostics() {
        bool started = hub->startDiagnosticsButtonPressed();
        hub->waitForTestEnd();
        return started;
    }
    std::string log() const { return SafeFile::read(dir.path() + "/Log.txt").value_or(""); }

    TempDir dir;
    ScopedEnv home;
    ScopedEnv resources;
    FakeClock clock;
    FakeEnv env{clock};
    std::shared_ptr<RecordingServices> services = std::make_shared<RecordingServices>();
    SimulatedDevice device{300 * MiB};
    RecordingView view;
    std::shared_ptr<ScriptedAnswerer> answers = std::make_shared<ScriptedAnswerer>();
    std::function<void()> onPause;
    Media unit = disk("sdz", "0x5000c500deadbeef");
    Media other = disk("sdy", "0x5000c500feedface");
    std::unique_ptr<GUIController> hub;
};

TEST_F(DiagnosticsControlTest, ARunOnRecordedFindingsShowsItsCountersInThePane) {
    recordFindings();
    const DiagnosticsPaneValues before = hub->diagnostics().pane();
    EXPECT_EQ(before, DiagnosticsPaneValues{});
    std::vector<std::string> servicesBefore = services->switched();

    ASSERT_TRUE(runDiagnostics()) << hub->diagnostics().startProblem();
    DiagnosticsOutcome o = hub->diagnostics().lastOutcome();
    ASSERT_EQ(o.end, DiagnosticsOutcome::End::completed);
    EXPECT_GE(o.counters.badBlocks, 1);
    EXPECT_GE(o.counters.weakBlocks, 1);
    bool sawBad = false;
    bool sawSlow = false;
    for (const ReevaluatedFinding& f : o.findings) {
        sawBad = sawBad || (f.finding.startRange() == kBad && f.verdict == Verdict::errorConfirmed);
        sawSlow = sawSlow || (f.finding.startRange() == kSlow && f.verdict == Verdict::weakSector);
    }
    EXPECT_TRUE(sawBad);
    EXPECT_TRUE(sawSlow);

    // The pane shows what the run counted.
    DiagnosticsPaneValues pane = hub->diagnostics().pane();
    EXPECT_EQ(pane.currentDiagnosticsTest, "Diagnostic tests complete");
    EXPECT_EQ(pane.diagnosticsOverallProgress, 100.0);
    EXPECT_EQ(pane.diagnosticsBadBlockCount, std::to_string(o.counters.badBlocks));
    EXPECT_EQ(pane.diagnosticsWeakBlockCount, std::to_string(o.counters.weakBlocks));
    EXPECT_EQ(pane.diagnosticsSeekErrors, std::to_string(o.counters.seekErrors));
    EXPECT_EQ(pane.diagnosticsMemoryErrors, "0");
    // The CLI's summary carries the same counters.
    CliOptions cli;
    cli.unit = "sdz";
    nlohmann::json summary = DiagnosticsCommand::summaryJson(
        cli, true, o, hub->diagnostics().history(), hub->diagnostics().historyFile(), "/dev/sdz",
        hub->fileNamePrefix(), hub->diagnostics().logFile(), "");
    EXPECT_EQ(summary["counters"]["badBlocks"], o.counters.badBlocks);
    EXPECT_EQ(summary["exitStatus"], 1);
    EXPECT_EQ(summary["history"]["scanSets"], 1);

    EXPECT_EQ(answers->askedNumbers().back(), 31);
    EXPECT_NE(log().find("Raw device designation: "), std::string::npos);
    EXPECT_NE(log().find("\n\nDiagnostics completed at "), std::string::npos);
    // Services off for the run and on again; the buttons as reset.
    std::vector<std::string> switched = services->switched();
    EXPECT_EQ(std::vector<std::string>(switched.begin() + servicesBefore.size(), switched.end()),
              (std::vector<std::string>{"indexing OFF", "indexing ON"}));
    EXPECT_EQ(hub->buttonStates(),
              (std::array<bool, kGUIButtonCount>{0, 1, 0, 0, 0, 0, 1, 1, 0, 0}));
    EXPECT_FALSE(hub->underTest());
    EXPECT_FALSE(hub->diagnosticsRunning());
}

TEST_F(DiagnosticsControlTest, StartIsRefusedAsDesignedAndServicesComeBack) {
    DiagnosticsControl& d = hub->diagnostics();
    DiagnosticsOptions none;
    none.analyzeErrorsAndIrregularities = false;
    d.setOptions(none);
    EXPECT_FALSE(runDiagnostics());
    DiagnosticsOptions interface;
    interface.performInterfaceTests = true;
    d.setOptions(interface);
    EXPECT_FALSE(runDiagnostics()); // a whole disk has no volume
    d.setOptions(DiagnosticsOptions{});
    EXPECT_FALSE(runDiagnostics()); // never tested: no history
    EXPECT_EQ(answers->askedNumbers(), (std::vector<int>{24, 23, 26}));
    EXPECT_NE(d.startProblem().find("no diagnostics history"), std::string::npos);
    EXPECT_EQ(services->switched().size(), 6u);
    EXPECT_EQ(services->switched().back(), "indexing ON");

    // Other tests chosen: 25, "Continue" drops the analysis for this run and
    // later ones.
    DiagnosticsOptions memory;
    memory.performMemoryTests = true;
    memory.memoryTestIterations = 1;
    d.setOptions(memory);
    struct TinyMemory : MemorySource {
        MemoryFacts facts() override { return MemoryFacts{64 * MiB, 32 * MiB, std::nullopt}; }
        MemoryLimits limits() override { return MemoryLimits{64 * MiB, 0}; }
    };
    d.setMemorySource(std::make_shared<TinyMemory>());
    answers->push(25, 1);
    EXPECT_TRUE(runDiagnostics());
    EXPECT_FALSE(d.analyzeErrorsAndIrregularities());
    EXPECT_FALSE(d.historicalAnalysis());
    EXPECT_EQ(d.lastOutcome().end, DiagnosticsOutcome::End::completed);
    EXPECT_EQ(d.lastOutcome().memoryPassesRun, 1);
    EXPECT_EQ(answers->askedNumbers().back(), 31);

    // While a test is under way the options window does not open.
    hub->progress().setUnderTest(true);
    EXPECT_FALSE(hub->configureDiagnosticsButtonPressed());
    EXPECT_EQ(answers->askedNumbers().back(), 20);
    hub->progress().setUnderTest(false);
    EXPECT_TRUE(hub->configureDiagnosticsButtonPressed());
    EXPECT_FALSE(hub->buttonEnabled(GUIButton::configureDiagnosticsButton));
    DiagnosticsOptions tooMany;
    tooMany.memoryTestIterations = DiagnosticsOptions::kMaximumIterations + 1;
    EXPECT_FALSE(d.confirmDiagnosticsOptions(tooMany));
    EXPECT_EQ(d.memoryTestIterations(), 1);
    EXPECT_TRUE(d.confirmDiagnosticsOptions(DiagnosticsOptions{}));
    EXPECT_TRUE(hub->buttonEnabled(GUIButton::startDiagnosticsButton));
    EXPECT_TRUE(hub->buttonEnabled(GUIButton::configureDiagnosticsButton));
    EXPECT_EQ(d.options(), DiagnosticsOptions{});
}

TEST_F(DiagnosticsControlTest, TheStopButtonAndTheEndOfTheHubStopARun) {
    recordFindings();
    // Stop pressed during the first pause of the irregularity phase.
    std::atomic<int> pauses{0};
    onPause = [&] {
        if (pauses++ == 0) {
            EXPECT_TRUE(hub->buttonEnabled(GUIButton::stopDiagnosticsButton));
            hub->stopDiagnosticsButtonPressed();
        }
    };
    ASSERT_TRUE(runDiagnostics());
    EXPECT_EQ(hub->diagnostics().lastOutcome().end, DiagnosticsOutcome::End::stopped);
    EXPECT_NE(log().find("\n\nDIAGNOSTICS STOPPED BY USER\n"), std::string::npos);
    EXPECT_EQ(answers->askedNumbers().back(), 32);
    EXPECT_EQ(services->switched().back(), "indexing ON");
    EXPECT_FALSE(hub->underTest());

    // The hub taken down in the middle of a run: the run stops and ends
    // before the hub goes, its questions taking their safe answers.
    std::atomic<bool> paused{false};
    pauses = 0;
    onPause = [&] { paused = true; };
    ASSERT_TRUE(hub->startDiagnosticsButtonPressed());
    while (!paused) {
        hub->runMainThreadWork();
        std::this_thread::yield();
    }
    hub.reset();
    EXPECT_EQ(services->switched().back(), "indexing ON");
}

TEST(DiagnosticsCommand, OptionsAndExitStatusFromTheCommandLine) {
    CliOptions cli;
    DiagnosticsOptions o = DiagnosticsCommand::optionsFor(cli);
    EXPECT_EQ(o, DiagnosticsOptions{});
    cli.noAnalysis = true;
    cli.latestOnly = true;
    cli.interfaceIterations = 3;
    cli.memoryIterations = 0;
    o = DiagnosticsCommand::optionsFor(cli);
    EXPECT_FALSE(o.analyzeErrorsAndIrregularities);
    EXPECT_FALSE(o.historicalAnalysis);
    EXPECT_TRUE(o.performInterfaceTests);
    EXPECT_EQ(o.interfaceTestIterations, 3);
    EXPECT_FALSE(o.performMemoryTests);

    DiagnosticsOutcome outcome;
    EXPECT_EQ(DiagnosticsCommand::exitStatusFor(false, outcome), 3);
    outcome.end = DiagnosticsOutcome::End::completed;
    EXPECT_EQ(DiagnosticsCommand::exitStatusFor(true, outcome), 0);
    outcome.counters.weakBlocks = 4; // weak blocks alone are no failure
    EXPECT_EQ(DiagnosticsCommand::exitStatusFor(true, outcome), 0);
    outcome.counters.seekErrors = 1;
    EXPECT_EQ(DiagnosticsCommand::exitStatusFor(true, outcome), 1);
    outcome.end = DiagnosticsOutcome::End::stopped;
    EXPECT_EQ(DiagnosticsCommand::exitStatusFor(true, outcome), 3);
    outcome = DiagnosticsOutcome{};
    outcome.end = DiagnosticsOutcome::End::noFindings;
    EXPECT_EQ(DiagnosticsCommand::exitStatusFor(true, outcome), 0);
    outcome.end = DiagnosticsOutcome::End::noReferenceSector;
    EXPECT_EQ(DiagnosticsCommand::exitStatusFor(true, outcome), 3);
}

} // namespace

} // namespace tolvarin
