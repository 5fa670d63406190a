#include "app/GUIController.h"
#include "base/Clock.h"
#include "engine/ScanController.h"
#include "logging/Logger.h"
#include "logging/MessageCenter.h"
#include "platform/SafeFile.h"
#include "platform/System.h"
#include "tests/support/FakeClock.h"
#include "tests/support/FakeEnv.h"
#include "tests/support/GatedSleep.h"
#include "tests/support/RecordingServices.h"
#include "tests/support/RecordingView.h"
#include "tests/support/ScriptedAnswerer.h"
#include "tests/support/SimulatedDevice.h"
#include "tests/support/TempDir.h"

#include <algorithm>
#include <future>
#include <gtest/gtest.h>
#include <thread>

namespace tolvarin {

namespace {

using Buttons = std::array<bool, kGUIButtonCount>;
constexpr int64_t MiB = 1048576;

// Columns: normal pause, start, stop; cursory pause, start, stop; cursory
// options; configure, start, stop diagnostics.
Buttons row(std::initializer_list<int> states) {
    Buttons out{};
    size_t i = 0;
    for (int s : states) {
        out[i++] = s == 1;
    }
    return out;
}

Media disk(const std::string& id, const std::string& size, const std::string& uuid = "") {
    Media m;
    m.setIsPrimaryDisk(true);
    m.setPrimaryDiskID(id);
    m.setPrimaryDiskSize(size);
    m.setPrimaryDiskPartitionType(std::string("GUID_partition_scheme"));
    m.setVolumeDiskID(std::string());
    m.setSMARTStatus(std::string("Not Supported"));
    m.setUUID(uuid);
    m.setInterfaceType(std::string("Serial ATA Hard Drive"));
    return m;
}

Media volume(const std::string& diskId, const std::string& id, const std::string& name,
             const std::string& size, const std::string& uuid) {
    Media m;
    m.setIsPrimaryDisk(false);
    m.setPrimaryDiskID(diskId);
    m.setPrimaryDiskSize(std::string("500.1 GB"));
    m.setVolumeDiskID(id);
    m.setVolumeName(name);
    m.setVolumePartitionSize(size);
    m.setSMARTStatus(std::string("Not Supported"));
    m.setUUID(uuid);
    m.setInterfaceType(std::string("Serial ATA Hard Drive"));
    return m;
}

class GUIControllerTest : public ::testing::Test {
  protected:
    GUIControllerTest()
        : home("TOLVARIN_HOME", dir.path()), devices("TOLVARIN_DEV_DIR", dir.path() + "/dev") {
        MessageCenter::resetForTests();
        Logger::resetForTests();
        answers = std::make_shared<ScriptedAnswerer>();
        MessageCenter::setAnswerer(answers);
        view.setLogFileAnswer(dir.path() + "/Log.txt");
    }
    ~GUIControllerTest() override {
        hub.reset();
        MessageCenter::resetForTests();
        Logger::resetForTests();
    }

    // No service is switched unless a test asks for it.
    Preferences preferences(int spotlight = 0, int timeMachine = 0, int driveSleep = 0) {
        Preferences p(dir.path() + "/Tolvarin.conf");
        p.setIntegerForKey(spotlight, Preferences::indexingControl);
        p.setIntegerForKey(timeMachine, Preferences::disableTimeMachine);
        p.setIntegerForKey(driveSleep, Preferences::disablePowerManagement);
        return p;
    }

    void makeHub(const Preferences& p) {
        hub.reset();
        auto recorder = std::make_unique<RecordingServices>();
        services = recorder.get();
        hub = std::make_unique<GUIController>(view, p, env, std::move(recorder));
        hub->awakeFromNib();
    }
    void makeHub() { makeHub(preferences()); }

    std::vector<std::string> switchedServices() { return services->switched(); }

    // Selects a simulated unit and confirms the default cursory options.
    void selectSimulatedUnit(int64_t size) {
        device = std::make_shared<SimulatedDevice>(size);
        device->setClock(&clock);
        hub->setDeviceOpener([this](const std::string&, bool) -> std::unique_ptr<RawDevice> {
            return device->sharedHandle();
        });
        Media unit = disk("sdz", std::to_string(size / 1000000) + ".0 MB");
        hub->setCurrentMediaArray({unit});
        hub->selectUnit(unit);
        hub->cursoryOptionsButtonSelected();
        ASSERT_TRUE(hub->confirmCursoryOptions(GUIController::CursoryChoice{}));
    }

    int asked(int number) {
        auto numbers = answers->askedNumbers();
        return static_cast<int>(std::count(numbers.begin(), numbers.end(), number));
    }

    TempDir dir;
    ScopedEnv home;
    ScopedEnv devices;
    FakeClock clock;
    FakeEnv env{clock};
    RecordingServices* services = nullptr;
    RecordingView view;
    std::shared_ptr<ScriptedAnswerer> answers;
    std::shared_ptr<SimulatedDevice> device;
    std::unique_ptr<GUIController> hub;
};

// A cursory body that runs until the test lets it end.
struct HeldScan {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    void install(GUIController& hub) {
        auto waitFor = released;
        hub.scanController().setCursoryScanBody([waitFor](ScanController& c) {
            waitFor.wait();
            c.doPostTestReset();
        });
    }
};

} // namespace

TEST_F(GUIControllerTest, ButtonsFollowTheTableThroughACursorySession) {
    makeHub();
    EXPECT_EQ(hub->buttonStates(), row({0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));

    Media unit = disk("sdb", "500.1 GB");
    hub->setCurrentMediaArray({unit});
    hub->selectUnit(unit);
    EXPECT_EQ(hub->buttonStates(), row({0, 1, 0, 0, 0, 0, 1, 1, 0, 0}));
    hub->cursoryOptionsButtonSelected();
    EXPECT_FALSE(hub->buttonEnabled(GUIButton::cursoryOptionsButton));
    hub->cursoryOptionsCancelled();
    EXPECT_EQ(hub->buttonStates(), row({0, 1, 0, 0, 0, 0, 1, 1, 0, 0}));
    hub->cursoryOptionsButtonSelected();
    ASSERT_TRUE(hub->confirmCursoryOptions(GUIController::CursoryChoice{}));
    EXPECT_EQ(hub->buttonStates(), row({0, 1, 0, 0, 1, 0, 1, 1, 0, 0}));

    hub->cursoryPauseButtonSelected();
    EXPECT_EQ(hub->buttonStates(), row({0, 0, 0, 0, 1, 1, 0, 0, 0, 0}));
    hub->progress().resumeTest(false);
    EXPECT_EQ(hub->buttonStates(), row({0, 0, 0, 1, 0, 1, 0, 0, 0, 0}));
    EXPECT_TRUE(hub->underTest());
    hub->cursoryStopButtonSelected();
    EXPECT_EQ(hub->buttonStates(), row({0, 1, 0, 0, 0, 0, 0, 1, 0, 0}));
    EXPECT_FALSE(hub->underTest());

    hub->normalPauseButtonSelected();
    EXPECT_EQ(hub->buttonStates(), row({0, 1, 1, 0, 0, 0, 0, 0, 0, 0}));
    hub->progress().resumeTest(true);
    EXPECT_EQ(hub->buttonStates(), row({1, 0, 1, 0, 0, 0, 0, 0, 0, 0}));
    // Unlike a cursory stop, a normal stop leaves stop-diagnostics enabled.
    hub->normalStopButtonSelected();
    EXPECT_EQ(hub->buttonStates(), row({0, 1, 0, 0, 0, 0, 1, 0, 0, 1}));
    hub->progress().resetButtons();
    EXPECT_EQ(hub->buttonStates(), row({0, 1, 0, 0, 0, 0, 1, 1, 0, 0}));
    // The face saw every change the hub made.
    EXPECT_EQ(view.buttons(), hub->buttonStates());
}

TEST_F(GUIControllerTest, TargetSizeReadsDecimalMultipliers) {
    makeHub();
    hub->selection().setTargetSize("931.5 GB");
    EXPECT_EQ(hub->selection().targetSize(), 931500000000LL);
    hub->selection().setTargetSize("3 TB");
    EXPECT_EQ(hub->selection().targetSize(), 3000000000000LL);
    hub->selection().setTargetSize("1.2 PB");
    EXPECT_NEAR(static_cast<double>(hub->selection().targetSize()), 1.2e15, 1.0);
    hub->selection().setTargetSize("250.0 MB");
    EXPECT_EQ(hub->selection().targetSize(), 250000000);
    // Texts without a known unit leave it as it was.
    hub->selection().setTargetSize("512 B");
    hub->selection().setTargetSize("Unavailable");
    hub->selection().setTargetSize("GB");
    EXPECT_EQ(hub->selection().targetSize(), 250000000);

    // A newly selected unit whose size cannot be read does not inherit the
    // size of the one before.
    Media unknown = disk("sdc", "Unavailable");
    hub->selectUnit(unknown);
    EXPECT_EQ(hub->selection().targetSize(), 0);
}

TEST_F(GUIControllerTest, SelectionDescribesTheTarget) {
    makeHub();
    Media disk1 = disk("disk1", "500.1 GB");
    Media data = volume("disk1", "disk1s2", "Data", "250.0 GB", "1234-ABCD");
    Media spare = volume("disk1", "disk1s3", "Spare", "12.3 GB", "");
    Media blank = disk("sdb", "3.0 TB", "WWN-5000C500");
    hub->setCurrentMediaArray({disk1, data, spare, blank});

    hub->selectUnit(spare);
    EXPECT_EQ(hub->rawTargetDevice(), dir.path() + "/dev/disk1s3");
    EXPECT_EQ(hub->selection().targetDriveInfo(),
              (std::vector<std::string>{"volume:12.3", "UUID:EMPTY PART:s3 SIZE:12.3 GB"}));
    EXPECT_EQ(hub->selection().targetSize(), 12300000000LL);
    EXPECT_EQ(hub->selection().selectedItem(), "Spare");
    ASSERT_EQ(view.unitInfo().size(), 6u);
    EXPECT_EQ(view.unitInfo()[0].first, "Volume Name:");

    hub->selectUnit(disk1);
    EXPECT_EQ(hub->rawTargetDevice(), dir.path() + "/dev/disk1");
    EXPECT_EQ(hub->selection().targetDriveInfo(),
              (std::vector<std::string>{"disk:500.1", "UUID:1234-ABCD PART:s2 SIZE:250.0 GB",
                                        "UUID:EMPTY PART:s3 SIZE:12.3 GB"}));
    EXPECT_EQ(hub->selection().selectedItem(), "Primary Drive disk1");

    // A disk without volumes is known by its own identity line.
    hub->selectUnit(blank);
    EXPECT_EQ(hub->selection().targetDriveInfo(),
              (std::vector<std::string>{"disk:3.0", "UUID:WWN-5000C500 PART: SIZE:3.0 TB"}));
}

TEST_F(GUIControllerTest, CursoryOptionsAreCheckedAsTheWindowChecksThem) {
    makeHub();
    Media unit = disk("sdb", "500.1 GB");
    hub->setCurrentMediaArray({unit});
    hub->selectUnit(unit);

    GUIController::CursoryChoice none;
    none.surface = false;
    none.seek = false;
    EXPECT_FALSE(hub->confirmCursoryOptions(none));
    EXPECT_EQ(answers->askedNumbers().back(), 5);
    EXPECT_FALSE(hub->buttonEnabled(GUIButton::cursoryStartScan));

    // A reversed range is refused even without the limit.
    GUIController::CursoryChoice reversed;
    reversed.startGB = 5;
    reversed.endGB = 3;
    EXPECT_FALSE(hub->confirmCursoryOptions(reversed));
    EXPECT_EQ(answers->askedNumbers().back(), 11);

    GUIController::CursoryChoice limited;
    limited.limit = true;
    limited.startGB = 2;
    limited.endGB = 4;
    answers->push(2000, 1);
    EXPECT_TRUE(hub->confirmCursoryOptions(limited));
    EXPECT_DOUBLE_EQ(MessageCenter::cursoryStart(), 1.048576);
    EXPECT_DOUBLE_EQ(MessageCenter::cursoryEnd(), 4.194304);
    // The scan keeps the values chosen; the snapping was only shown.
    EXPECT_EQ(hub->cursoryOptions().limitedCursoryScanStartByte(), 2);
    EXPECT_EQ(hub->cursoryOptions().limitedCursoryScanEndByte(), 4);
    EXPECT_TRUE(hub->cursoryOptions().cursoryLimitedScanSelected());
    EXPECT_TRUE(hub->buttonEnabled(GUIButton::cursoryStartScan));

    GUIController::CursoryChoice beyond = limited;
    beyond.endGB = 600;
    answers->push(13, 1);
    answers->push(2000, 1);
    EXPECT_TRUE(hub->confirmCursoryOptions(beyond));
    EXPECT_DOUBLE_EQ(MessageCenter::cursoryEnd(), 500.1);

    GUIController::CursoryChoice late = limited;
    late.startGB = 501;
    late.endGB = 502;
    EXPECT_FALSE(hub->confirmCursoryOptions(late));
    EXPECT_EQ(answers->askedNumbers().back(), 12);

    GUIController::CursoryChoice seekOnly = limited;
    seekOnly.surface = false;
    EXPECT_FALSE(hub->confirmCursoryOptions(seekOnly));
    EXPECT_EQ(answers->askedNumbers().back(), 14);

    GUIController::CursoryChoice repair;
    repair.repair = true;
    answers->push(10, 0);
    EXPECT_FALSE(hub->confirmCursoryOptions(repair));
    EXPECT_FALSE(hub->cursoryOptions().attemptToRepairBadSectors());
    answers->push(10, 1);
    EXPECT_TRUE(hub->confirmCursoryOptions(repair));
    EXPECT_TRUE(hub->cursoryOptions().attemptToRepairBadSectors());
    // Repair is chosen anew each time the window opens.
    hub->cursoryOptionsButtonSelected();
    EXPECT_FALSE(hub->cursoryOptions().attemptToRepairBadSectors());
}

TEST_F(GUIControllerTest, NoTestChosenShowsMessage5AndTurnsServicesBackOn) {
    makeHub(preferences(1, 1, 0));
    Media unit = disk("sdb", "500.1 GB");
    hub->selectUnit(unit);
    hub->cursoryOptions().setDoSurfaceScan(false);
    hub->cursoryOptions().setDoSeekScan(false);

    EXPECT_FALSE(hub->cursoryStartButtonSelected());
    EXPECT_EQ(answers->askedNumbers(), std::vector<int>{5});
    EXPECT_FALSE(hub->underTest());
    EXPECT_EQ(hub->buttonStates(), row({0, 1, 0, 0, 0, 0, 1, 1, 0, 0}));
    EXPECT_EQ(switchedServices(), (std::vector<std::string>{"indexing OFF", "backups OFF",
                                                            "indexing ON", "backups ON"}));
    EXPECT_TRUE(hub->services().systemItemsLoaded());
}

TEST_F(GUIControllerTest, CancelledLogDialogTurnsServicesBackOn) {
    makeHub(preferences(1, 0, 1));
    Media unit = volume("sdb", "sdb2", "Data", "250.0 GB", "1234");
    hub->selectUnit(unit);
    view.setLogFileAnswer(std::nullopt);
    answers->push(0, 1);

    EXPECT_FALSE(hub->cursoryStartButtonSelected());
    EXPECT_EQ(view.logFileQuestions(), 1);
    EXPECT_EQ(view.lastProposedLogName(), "Log" + Logger::currentTimeStamp() + ".txt");
    // Drive sleep is switched for the whole disk, on and off alike.
    const std::string sleepDevice = dir.path() + "/dev/sdb";
    EXPECT_EQ(switchedServices(),
              (std::vector<std::string>{"indexing OFF", "driveSleep OFF " + sleepDevice,
                                        "indexing ON", "driveSleep ON " + sleepDevice}));
    EXPECT_EQ(view.sheets(),
              (std::vector<std::string>{
                  "Unloading the MDS Process", "Disabling Power Management Drive Sleep",
                  "Re-loading the MDS Process", "Re-enabling Power Management Drive Sleep"}));
    EXPECT_FALSE(hub->underTest());
    EXPECT_FALSE(hub->scanController().scanThreadRunning());
}

TEST_F(GUIControllerTest, CancelledConfirmationTurnsServicesBackOnAndAsksNothingMore) {
    makeHub(preferences(1));
    hub->selectUnit(disk("sdb", "500.1 GB"));
    answers->push(0, 0);

    EXPECT_FALSE(hub->cursoryStartButtonSelected());
    EXPECT_EQ(answers->askedNumbers(), std::vector<int>{0});
    EXPECT_EQ(view.logFileQuestions(), 0);
    EXPECT_EQ(switchedServices(), (std::vector<std::string>{"indexing OFF", "indexing ON"}));
    EXPECT_FALSE(hub->startProblem().empty());
}

TEST_F(GUIControllerTest, PauseAndResumeDoNotPrepareAgain) {
    makeHub();
    selectSimulatedUnit(8 * MiB);
    HeldScan scan;
    scan.install(*hub);
    answers->push(0, 1);

    ASSERT_TRUE(hub->cursoryStartButtonSelected()) << hub->startProblem();
    EXPECT_TRUE(hub->underTest());
    EXPECT_EQ(hub->buttonStates(), row({0, 0, 0, 1, 0, 1, 0, 0, 0, 0}));
    EXPECT_EQ(hub->scanController().disk()->detectedSize, 8 * MiB);

    hub->cursoryPauseButtonSelected();
    EXPECT_TRUE(hub->scanController().pauseFlag());
    EXPECT_TRUE(hub->underTest());

    EXPECT_TRUE(hub->cursoryStartButtonSelected());
    EXPECT_FALSE(hub->scanController().pauseFlag());
    EXPECT_EQ(hub->buttonStates(), row({0, 0, 0, 1, 0, 1, 0, 0, 0, 0}));
    EXPECT_EQ(asked(0), 1);
    EXPECT_EQ(view.logFileQuestions(), 1);

    // Stopped, but still asking its stop question: a new start must not
    // prepare a unit under the running scan.
    hub->cursoryStopButtonSelected();
    EXPECT_TRUE(hub->scanController().stopFlag());
    EXPECT_FALSE(hub->normalStartButtonSelected());
    EXPECT_NE(hub->startProblem().find("not ended"), std::string::npos);
    EXPECT_FALSE(hub->normalScan());
    EXPECT_EQ(asked(0), 1);
    EXPECT_NE(hub->scanController().disk(), nullptr);

    scan.release.set_value();
    hub->waitForTestEnd();
    EXPECT_EQ(hub->scanController().disk(), nullptr);
    EXPECT_EQ(hub->buttonStates(), row({0, 1, 0, 0, 0, 0, 1, 1, 0, 0}));
}

TEST_F(GUIControllerTest, UnreadableUnitRefusesTheTestWithMessage1000) {
    makeHub(preferences(1));
    hub->selectUnit(disk("sdz", "8.4 MB"));
    hub->setDeviceOpener([](const std::string&, bool) { return nullptr; });
    answers->push(0, 1);

    EXPECT_FALSE(hub->cursoryStartButtonSelected());
    EXPECT_EQ(answers->askedNumbers(), (std::vector<int>{0, 1000}));
    EXPECT_EQ(Logger::sizingScanStatus(), "FAILED");
    EXPECT_EQ(hub->scanController().disk(), nullptr);
    EXPECT_FALSE(hub->underTest());
    EXPECT_TRUE(hub->services().systemItemsLoaded());
    EXPECT_NE(hub->startProblem().find("could not be opened"), std::string::npos);
}

TEST_F(GUIControllerTest, SpinnerShowsAfterAStallAndNotWhileTheLocationMoves) {
    makeHub();
    GatedSleep gate(clock);
    hub->progress().setUnderTest(true);
    hub->progress().spinner(SpinnerPane::cursory, SpinnerScan::surface, SpinnerAction::locate, 100);
    hub->progress().spinner(SpinnerPane::cursory, SpinnerScan::surface, SpinnerAction::start);
    EXPECT_TRUE(hub->progress().spinnerActive(SpinnerPane::cursory, SpinnerScan::surface));

    // A location that moves between two looks 0.6 s apart never spins.
    for (int64_t at = 200; at <= 500; at += 100) {
        ASSERT_EQ(gate.waitForSleeper(), 600000);
        hub->progress().spinner(SpinnerPane::cursory, SpinnerScan::surface, SpinnerAction::locate,
                                at);
        gate.release();
    }
    ASSERT_EQ(gate.waitForSleeper(), 600000);
    EXPECT_EQ(view.animationStarts(GUISpinner::cursory), 0);

    // Standing still for one look: the spinner turns until it moves.
    const int64_t stalledAt = clock.now();
    gate.release();
    ASSERT_EQ(gate.waitForSleeper(), 100000);
    EXPECT_TRUE(view.animating(GUISpinner::cursory));
    EXPECT_GE(clock.now() - stalledAt, 600000);
    gate.release();
    ASSERT_EQ(gate.waitForSleeper(), 100000);
    EXPECT_TRUE(view.animating(GUISpinner::cursory));
    hub->progress().spinner(SpinnerPane::cursory, SpinnerScan::surface, SpinnerAction::locate, 600);
    gate.release();
    ASSERT_EQ(gate.waitForSleeper(), 600000);
    EXPECT_FALSE(view.animating(GUISpinner::cursory));
    EXPECT_EQ(view.animationStarts(GUISpinner::cursory), 1);

    gate.open();
    hub->progress().spinner(SpinnerPane::cursory, SpinnerScan::surface, SpinnerAction::stop);
    EXPECT_FALSE(hub->progress().spinnerActive(SpinnerPane::cursory, SpinnerScan::surface));
    EXPECT_FALSE(view.animating(GUISpinner::cursory));
}

TEST_F(GUIControllerTest, SpinnerWatcherIdlesWithoutATestAndStopsWhileSpinning) {
    makeHub();
    GatedSleep gate(clock);
    hub->progress().spinner(SpinnerPane::normal, SpinnerScan::seek, SpinnerAction::start);
    // No test under way: it only looks every 2 s and never spins.
    ASSERT_EQ(gate.waitForSleeper(), 2000000);
    gate.release();
    ASSERT_EQ(gate.waitForSleeper(), 2000000);
    EXPECT_EQ(view.animationStarts(GUISpinner::normal), 0);

    hub->progress().setUnderTest(true);
    gate.release();
    ASSERT_EQ(gate.waitForSleeper(), 600000);
    gate.release();
    ASSERT_EQ(gate.waitForSleeper(), 100000);
    EXPECT_TRUE(view.animating(GUISpinner::normal));
    // A second start while one watches changes nothing.
    hub->progress().spinner(SpinnerPane::normal, SpinnerScan::seek, SpinnerAction::start);

    // Stopped while spinning: the watcher ends and the animation with it.
    gate.open();
    hub->progress().spinner(SpinnerPane::normal, SpinnerScan::seek, SpinnerAction::stop);
    EXPECT_FALSE(hub->progress().spinnerActive(SpinnerPane::normal, SpinnerScan::seek));
    EXPECT_FALSE(view.animating(GUISpinner::normal));
}

TEST_F(GUIControllerTest, CursoryTestOnASimulatedUnitReportsItsFindings) {
    makeHub(preferences(1));
    // The spinner watchers must not move the fake clock the scans time with.
    clock.setSleep([](int64_t) { std::this_thread::yield(); });
    selectSimulatedUnit(64 * MiB);
    device->slowReads(5 * MiB, 5 * MiB + 4096, 700000);
    device->failReads(40 * MiB, 40 * MiB + 4096);
    answers->push(0, 1);

    ASSERT_TRUE(hub->cursoryStartButtonSelected()) << hub->startProblem();
    hub->waitForTestEnd();

    TestResults s = hub->testResults();
    EXPECT_TRUE(s.started);
    EXPECT_TRUE(s.ended);
    EXPECT_FALSE(s.stopped);
    EXPECT_EQ(s.detectedSize, 64 * MiB);
    EXPECT_EQ(s.sectionCount, 1);
    EXPECT_EQ(s.surfaceErrors, 1);
    EXPECT_EQ(s.surfaceIrregularities, 1);
    EXPECT_EQ(s.totalErrors, 1);
    ASSERT_EQ(s.failedSections.size(), 1u);
    EXPECT_EQ(s.failedSections[0].index, 0);
    EXPECT_TRUE(s.surfaceCompleted);
    EXPECT_TRUE(s.seekCompleted);
    EXPECT_TRUE(s.surfaceLinearRPI.has_value());
    EXPECT_TRUE(s.seekLinearRPI.has_value());
    EXPECT_GT(s.seekStartMicros, s.surfaceStartMicros);
    EXPECT_GE(s.endMicros - s.startMicros, 700000);

    EXPECT_EQ(answers->askedNumbers(), (std::vector<int>{0, 1}));
    EXPECT_EQ(view.testsEnded(), 1);
    EXPECT_FALSE(hub->underTest());
    EXPECT_EQ(hub->buttonStates(), row({0, 1, 0, 0, 0, 0, 1, 1, 0, 0}));
    EXPECT_EQ(switchedServices(), (std::vector<std::string>{"indexing OFF", "indexing ON"}));
    EXPECT_FALSE(hub->progress().spinnerActive(SpinnerPane::cursory, SpinnerScan::surface));
    EXPECT_FALSE(hub->progress().spinnerActive(SpinnerPane::cursory, SpinnerScan::seek));
    std::string log = SafeFile::read(dir.path() + "/Log.txt").value_or("");
    EXPECT_NE(log.find("Seek Scan Linear RPI"), std::string::npos);
}

TEST_F(GUIControllerTest, StopAnsweredCancelResumesAndTerminateEndsTheTest) {
    for (int answer : {0, 1}) {
        SCOPED_TRACE(answer);
        makeHub();
        clock.setSleep([](int64_t) { std::this_thread::yield(); });
        selectSimulatedUnit(16 * MiB);
        std::atomic<bool> pressed{false};
        view.setOnStatsChanged([&] {
            if (hub->progress().progress().typeOfTest == "Surface Scan" && hub->underTest() &&
                !pressed.exchange(true)) {
                hub->cursoryStopButtonSelected();
            }
        });
        answers->push(0, 1);
        answers->push(6, answer);

        ASSERT_TRUE(hub->cursoryStartButtonSelected());
        hub->waitForTestEnd();
        view.setOnStatsChanged(nullptr);

        TestResults s = hub->testResults();
        EXPECT_TRUE(s.ended);
        EXPECT_EQ(s.stopped, answer != 0);
        // A stopped surface scan skips the seek scan; the end is announced
        // either way.
        EXPECT_EQ(s.seekCompleted, answer == 0);
        EXPECT_EQ(answers->askedNumbers(), (std::vector<int>{0, 6, 1}));
        EXPECT_EQ(hub->buttonStates(), row({0, 1, 0, 0, 0, 0, 1, 1, 0, 0}));
        hub.reset();
        answers = std::make_shared<ScriptedAnswerer>();
        MessageCenter::setAnswerer(answers);
    }
}

} // namespace tolvarin

namespace tolvarin {

// Every end of the program goes through the hub: the services come back on
// first, then the surroundings' exit (a fake one here, which returns).
TEST_F(GUIControllerTest, TheEndOfTheProgramTurnsTheServicesBackOnThenExits) {
    makeHub(preferences(1, 0, 1));
    hub->selectUnit(disk("sdb", "500.1 GB"));
    hub->disableSystemItems();
    hub->endProgram(3);
    EXPECT_EQ(env.exits(), std::vector<int>{3});
    EXPECT_TRUE(hub->services().systemItemsLoaded());
    const std::string sleepDevice = dir.path() + "/dev/sdb";
    EXPECT_EQ(switchedServices(),
              (std::vector<std::string>{"indexing OFF", "driveSleep OFF " + sleepDevice,
                                        "indexing ON", "driveSleep ON " + sleepDevice}));
}

} // namespace tolvarin
