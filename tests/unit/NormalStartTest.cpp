#include "app/GUIController.h"
#include "base/Clock.h"
#include "engine/ScanController.h"
#include "logging/Logger.h"
#include "logging/MessageCenter.h"
#include "platform/SafeFile.h"
#include "platform/System.h"
#include "store/CurrentDriveInfo.h"
#include "store/DataFilePrefix.h"
#include "store/DriveProcessor.h"
#include "store/Quarrykit.h"
#include "tests/support/FakeClock.h"
#include "tests/support/FakeEnv.h"
#include "tests/support/RecordingServices.h"
#include "tests/support/RecordingView.h"
#include "tests/support/ScriptedAnswerer.h"
#include "tests/support/SimulatedDevice.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

namespace tolvarin {

namespace fs = std::filesystem;

namespace {

constexpr int64_t MiB = 1048576;

Media blankDisk(const std::string& id, const std::string& uuid) {
    Media m;
    m.setIsPrimaryDisk(true);
    m.setPrimaryDiskID(id);
    m.setPrimaryDiskSize(std::string("16.8 MB"));
    m.setPrimaryDiskPartitionType(std::string("None"));
    m.setVolumeDiskID(std::string());
    m.setSMARTStatus(std::string("Not Supported"));
    m.setUUID(uuid);
    m.setInterfaceType(std::string("Serial ATA Hard Drive"));
    return m;
}

std::shared_ptr<CurrentDriveInfo> headerAt(const std::string& path, const std::string& text) {
    EXPECT_TRUE(SafeFile::replace(path, text));
    auto info = std::make_shared<CurrentDriveInfo>();
    info->setFullDataFileName(path);
    return info;
}

TEST(DataFilePrefixTest, FirstHeaderWhoseLinesBeginWithTheTargetLinesGivesThePrefix) {
    std::vector<std::string> header{"disk:500", "UUID:AB-12 PART:s1 SIZE:500.1 GB"};
    EXPECT_TRUE(DataFilePrefix::headerMatches(header, {"disk:500", "UUID:AB-12 PART:s1"}));
    EXPECT_FALSE(DataFilePrefix::headerMatches(header, {"disk:500", "UUID:AB-13"}));
    EXPECT_FALSE(DataFilePrefix::headerMatches(header, {"disk:5000"}));
    // Nothing to match is no match: any header would do otherwise.
    EXPECT_FALSE(DataFilePrefix::headerMatches(header, {}));

    EXPECT_EQ(DataFilePrefix::prefixOfPath("/a/b/X12.ABC.iss"), "X12");
    EXPECT_EQ(DataFilePrefix::prefixOfPath("M01-D-SAT-1-2-2026-3-4-5.hdr"),
              "M01-D-SAT-1-2-2026-3-4-5");

    TempDir dir;
    std::string text = "x\n\ndisk:500\nUUID:AB-12 PART:s1 SIZE:500.1 GB\n";
    auto other = headerAt(dir.path() + "/M01-other.hdr", "x\n\ndisk:250\nUUID:CD PART: SIZE:\n");
    auto first = headerAt(dir.path() + "/M02-first.hdr", text);
    auto second = headerAt(dir.path() + "/M03-second.hdr", text);
    std::vector<std::string> target{"disk:500", "UUID:AB-12 PART:s1 SIZE:500.1 GB"};
    EXPECT_EQ(DataFilePrefix::find({other, first, second}, target), "M02-first");
    EXPECT_EQ(DataFilePrefix::find({other}, target), "");
    auto missing = std::make_shared<CurrentDriveInfo>();
    missing->setFullDataFileName(dir.path() + "/gone.hdr");
    EXPECT_EQ(DataFilePrefix::find({missing, nullptr, second}, target), "M03-second");
}

class NormalStartTest : public ::testing::Test {
  protected:
    NormalStartTest()
        : home("TOLVARIN_HOME", dir.path()),
          resources("TOLVARIN_RESOURCES", std::string(TOLVARIN_TEST_DATA) + "/../../resources") {
        MessageCenter::resetForTests();
        Logger::resetForTests();
        MessageCenter::setAnswerer(answers);
        view.setLogFileAnswer(dir.path() + "/Log.txt");
        // The spinner watchers must not move the fake clock the scans time with.
        clock.setSleep([](int64_t) { std::this_thread::yield(); });
        device.setClock(&clock);

        Preferences p(dir.path() + "/Tolvarin.conf");
        p.setIntegerForKey(1, Preferences::indexingControl);
        p.setIntegerForKey(0, Preferences::disableTimeMachine);
        p.setIntegerForKey(0, Preferences::disablePowerManagement);
        auto recorder = std::make_unique<RecordingServices>();
        services = recorder.get();
        hub = std::make_unique<GUIController>(view, p, env, std::move(recorder));
        hub->setQuarrykit(std::make_shared<Quarrykit>());
        hub->setDeviceOpener([this](const std::string&, bool) { return device.sharedHandle(); });
        hub->awakeFromNib();
        hub->setCurrentMediaArray({unit, other});
        hub->selectUnit(unit);
    }
    ~NormalStartTest() override {
        hub.reset();
        MessageCenter::resetForTests();
        Logger::resetForTests();
    }

    std::string dataDir() const { return dir.path() + "/Library/Application Support/Tolvarin"; }
    std::vector<std::string> switchedServices() { return services->switched(); }

    TempDir dir;
    ScopedEnv home;
    ScopedEnv resources;
    FakeClock clock;
    FakeEnv env{clock};
    RecordingServices* services = nullptr;
    SimulatedDevice device{16 * MiB};
    RecordingView view;
    std::shared_ptr<ScriptedAnswerer> answers = std::make_shared<ScriptedAnswerer>();
    Media unit = blankDisk("sdz", "0x5000c500deadbeef");
    Media other = blankDisk("sdy", "0x5000c500feedface");
    std::unique_ptr<GUIController> hub;
};

TEST_F(NormalStartTest, FirstAndSecondStartFindTheSameUnitAndRunToTheirEnd) {
    std::string prefix;
    for (int test = 1; test <= 2; ++test) {
        SCOPED_TRACE(test);
        clock.advance(2000000); // a report name of its own
        answers->push(0, 1);
        answers->push(8, 0);
        ASSERT_TRUE(hub->normalStartButtonSelected()) << hub->startProblem();
        hub->waitForTestEnd();

        TestResults s = hub->testResults();
        EXPECT_TRUE(s.ended);
        EXPECT_TRUE(s.completed);
        EXPECT_FALSE(s.stopped);
        EXPECT_TRUE(fs::exists(s.reportPath));
        EXPECT_EQ(s.detectedSize, 16 * MiB);
        if (test == 1) {
            prefix = hub->fileNamePrefix();
            EXPECT_EQ(prefix.substr(0, 4), "M01-");
        }
        // The unit keeps its prefix; the other drive got a header of its own.
        EXPECT_EQ(hub->fileNamePrefix(), prefix);
        EXPECT_TRUE(fs::exists(dataDir() + "/" + prefix + ".csk"));
        EXPECT_EQ(s.initialScan, test == 1);
        EXPECT_FALSE(hub->underTest());
    }
    EXPECT_EQ(fs::exists(dataDir() + "/" + prefix + ".iss"), true);
    EXPECT_EQ(switchedServices(), (std::vector<std::string>{"indexing OFF", "indexing ON",
                                                            "indexing OFF", "indexing ON"}));
    EXPECT_EQ(view.testsEnded(), 2);
    EXPECT_TRUE(env.exits().empty());

    // A unit no header matches has no prefix, not the last unit's.
    hub->selectUnit(blankDisk("sdx", "0x0"));
    EXPECT_EQ(DataFilePrefix::find(hub->driveProcessor()->currentDataFiles(),
                                   hub->selection().targetDriveInfo()),
              "");
}

TEST_F(NormalStartTest, AUnitThatCannotBeReadIsRefusedWithMessage1000) {
    hub->setDeviceOpener([](const std::string&, bool) { return nullptr; });
    answers->push(0, 1);
    EXPECT_FALSE(hub->normalStartButtonSelected());
    EXPECT_NE(hub->startProblem().find("could not be opened"), std::string::npos);
    EXPECT_EQ(answers->askedNumbers(), (std::vector<int>{0, 1000}));
    EXPECT_EQ(hub->testResults().sizingResult, -1);
    EXPECT_FALSE(hub->underTest());
    EXPECT_EQ(switchedServices(), (std::vector<std::string>{"indexing OFF", "indexing ON"}));
    // The catalogue registered the drives; no scan file was written.
    for (const auto& entry : fs::directory_iterator(dataDir())) {
        std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "prev" || (name.size() > 4 && name.substr(name.size() - 4) == ".hdr"))
            << name;
    }
}

} // namespace

} // namespace tolvarin
