#include "engine/ScanController.h"
#include "logging/Logger.h"
#include "logging/MessageCenter.h"
#include "platform/SafeFile.h"
#include "platform/System.h"
#include "store/DataFileSet.h"
#include "store/Quarrykit.h"
#include "tests/support/FakeClock.h"
#include "tests/support/FakeScanHost.h"
#include "tests/support/ScriptedAnswerer.h"
#include "tests/support/SimulatedDevice.h"
#include "tests/support/TempDir.h"

#include <future>
#include <gtest/gtest.h>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>

namespace tolvarin {

namespace {

std::string readAll(const std::string& path) {
    return SafeFile::read(path).value_or("");
}

class ScanControllerTest : public ::testing::Test {
  protected:
    ScanControllerTest() {
        MessageCenter::resetForTests();
        Logger::resetForTests();
        answers = std::make_shared<ScriptedAnswerer>();
        MessageCenter::setAnswerer(answers);
        logPath = dir.path() + "/Log.txt";
        Logger::setUserLogFileNameAndPathWithString(logPath);
    }
    ~ScanControllerTest() override {
        MessageCenter::resetForTests();
        Logger::resetForTests();
    }

    // A disk tool that notes each run's arguments and prints report.
    void installDiskTool(const std::string& smartStatus) {
        std::string tool = dir.path() + "/disktool";
        std::string script = "#!/bin/sh\necho \"$@\" >> '" + dir.path() +
                             "/runs'\n"
                             "echo '   Device Identifier:        sdz'\n"
                             "echo '   SMART Status:             " +
                             smartStatus + "'\n";
        ASSERT_TRUE(SafeFile::replace(tool, script));
        ASSERT_EQ(::chmod(tool.c_str(), 0755), 0);
        diskTool.reset(); // restore before setting again
        diskTool = std::make_unique<ScopedEnv>("TOLVARIN_DISKTOOL", tool);
    }
    std::string toolRuns() { return readAll(dir.path() + "/runs"); }

    void touch(const std::string& name) {
        ASSERT_TRUE(SafeFile::append(dir.path() + "/" + name, "x"));
    }

    TempDir dir;
    FakeClock clock;
    FakeScanHost host{clock};
    std::shared_ptr<ScriptedAnswerer> answers;
    std::string logPath;
    std::unique_ptr<ScopedEnv> diskTool;
};

} // namespace

TEST_F(ScanControllerTest, ErrorLimitAsksAboveTheLimitAndContinueStartsTheCountAgain) {
    ScanController controller(host);
    controller.setErrorLimit(5);
    answers->push(2, 1); // Continue
    answers->push(2, 0); // Terminate

    for (int i = 0; i < 5; ++i) {
        controller.updateErrorCount();
    }
    EXPECT_TRUE(answers->askedNumbers().empty());
    controller.updateErrorCount();
    ASSERT_EQ(answers->askedNumbers(), std::vector<int>{2});
    EXPECT_EQ(controller.errorCount(), 0);
    EXPECT_FALSE(controller.stopFlag());
    EXPECT_EQ(readAll(logPath), "\nERROR LIMIT EXCEEDED\nCurrent error count reset to 0 by user.\n"
                                "Resuming test.\n\n");

    // After Continue the next question comes errorLimit + 1 errors later.
    for (int i = 0; i < 5; ++i) {
        controller.updateErrorCount();
    }
    EXPECT_EQ(answers->askedNumbers().size(), 1u);
    controller.updateErrorCount();
    EXPECT_EQ(answers->askedNumbers(), (std::vector<int>{2, 2}));
    EXPECT_TRUE(controller.stopFlag());
    EXPECT_EQ(controller.errorCount(), 6);
    std::string log = readAll(logPath);
    EXPECT_NE(log.find("Resuming test.\n\n\nERROR LIMIT EXCEEDED\n"
                       "Program being terminated at user request.\n\n"),
              std::string::npos);
}

TEST_F(ScanControllerTest, SMARTWatchChecksOnlyAfterTheFirstCallAndEveryFiveMinutes) {
    installDiskTool("Verified");
    ScanController controller(host);
    controller.setHasSMARTFromStatus("Verified");
    ASSERT_TRUE(controller.hasSMART());

    EXPECT_TRUE(controller.checkSMARTStatusOnDisk("/dev/sdz"));
    clock.advance(299LL * 1000000);
    EXPECT_TRUE(controller.checkSMARTStatusOnDisk("/dev/sdz"));
    EXPECT_EQ(toolRuns(), "");

    clock.advance(1000000); // 300 s since the first call
    EXPECT_TRUE(controller.checkSMARTStatusOnDisk("/dev/sdz"));
    EXPECT_EQ(toolRuns(), "info /dev/sdz\n");
    clock.advance(299LL * 1000000);
    EXPECT_TRUE(controller.checkSMARTStatusOnDisk("/dev/sdz"));
    EXPECT_EQ(toolRuns(), "info /dev/sdz\n");

    // A wall clock stepped back an hour neither holds off nor brings on a check.
    clock.stepWall(-3600LL * 1000000);
    clock.advance(1000000);
    EXPECT_TRUE(controller.checkSMARTStatusOnDisk("sdz"));
    EXPECT_EQ(toolRuns(), "info /dev/sdz\ninfo sdz\n");
    EXPECT_TRUE(answers->askedNumbers().empty());
    EXPECT_TRUE(host.fakeEnv().exits().empty());
}

TEST_F(ScanControllerTest, AReportCutShortIsNoSMARTFailure) {
    // A tool ended at its time limit or for too much output may stop in the
    // middle of "Verified": that says nothing about the unit.
    ScanController controller(host);
    controller.setHasSMART(true);
    EXPECT_TRUE(controller.checkSMARTStatusOnDisk("/dev/sdz"));
    for (int cut = 0; cut < 2; ++cut) {
        host.fakeEnv().setRunner([cut](const std::string&, const std::vector<std::string>&) {
            ProcessResult r;
            r.started = true;
            r.exitStatus = 128 + 9;
            r.output = "Device\n   SMART Status:             Ver";
            (cut == 0 ? r.timedOut : r.outputCut) = true;
            return r;
        });
        clock.advance(300LL * 1000000);
        EXPECT_TRUE(controller.checkSMARTStatusOnDisk("/dev/sdz"));
    }
    EXPECT_TRUE(answers->askedNumbers().empty());
    EXPECT_TRUE(host.fakeEnv().exits().empty());
    EXPECT_FALSE(controller.stopFlag());
}

TEST_F(ScanControllerTest, UnitWithoutSMARTNeverRunsTheTool) {
    installDiskTool("Failing");
    ScanController controller(host);
    controller.setHasSMARTFromStatus("Not Supported");
    EXPECT_FALSE(controller.hasSMART());
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(controller.checkSMARTStatusOnDisk("/dev/sdz"));
        clock.advance(1000LL * 1000000);
    }
    EXPECT_EQ(toolRuns(), "");
    EXPECT_TRUE(host.fakeEnv().exits().empty());
}

TEST_F(ScanControllerTest, FailingSMARTStatusWarnsAndEndsTheProgramWithAFailureStatus) {
    installDiskTool("Not Supported");
    ScanController controller(host);
    controller.setHasSMART(true);
    EXPECT_TRUE(controller.checkSMARTStatusOnDisk("/dev/sdz"));
    clock.advance(300LL * 1000000);
    // A status the tool could not read this time is no reason to end a test.
    EXPECT_TRUE(controller.checkSMARTStatusOnDisk("/dev/sdz"));
    EXPECT_TRUE(host.fakeEnv().exits().empty());

    installDiskTool("Failing");
    clock.advance(300LL * 1000000);

    // The exit hook returns here, so the check answers NO and stops the scan.
    EXPECT_FALSE(controller.checkSMARTStatusOnDisk("/dev/sdz"));
    EXPECT_EQ(answers->askedNumbers(), std::vector<int>{5000});
    ASSERT_EQ(host.fakeEnv().exits().size(), 1u);
    EXPECT_NE(host.fakeEnv().exits()[0], 0);
    EXPECT_EQ(host.fakeEnv().exits()[0], ScanController::kSMARTFailureExitStatus);
    EXPECT_TRUE(controller.stopFlag());

    // A missing tool is no failure.
    diskTool.reset();
    diskTool = std::make_unique<ScopedEnv>("TOLVARIN_DISKTOOL", dir.path() + "/none");
    clock.advance(300LL * 1000000);
    EXPECT_TRUE(controller.checkSMARTStatusOnDisk("/dev/sdz"));
    EXPECT_EQ(host.fakeEnv().exits().size(), 1u);
}

TEST_F(ScanControllerTest, DeviceStateSumsTheBitsOfThisUnitsFilesOnly) {
    const std::string prefix = "M01-D-SAT-12-06-2026-18-35-54";
    Quarrykit kit;
    ScanController controller(host);
    controller.setQuarrykit(&kit);
    controller.setTolvarinDir(dir.path());
    controller.setFilePrefix(prefix);

    touch(prefix + ".hdr");
    touch(prefix + ".siz");
    // Another unit with the same number, a longer prefix, and files outside
    // the catalogue.
    touch("M01-D-SAT-12-06-2026-18-35-59.iss");
    touch(prefix + "0.ssx");
    touch(prefix + ".dia");
    touch(prefix + ".tmp");
    EXPECT_EQ(controller.determineDeviceState(), 3);
    EXPECT_EQ(controller.deviceState(), 3);

    for (const char* suffix : {".ssx", ".skx", ".iss", ".ssa", ".isk", ".ska"}) {
        touch(prefix + suffix);
    }
    EXPECT_EQ(controller.determineDeviceState(), 255);
    for (const char* suffix : {".css", ".csk"}) {
        touch(prefix + suffix);
    }
    EXPECT_EQ(controller.determineDeviceState(), 1535);
    for (const char* suffix : {".pss", ".psk", ".sst", ".skt"}) {
        touch(prefix + suffix);
    }
    EXPECT_EQ(controller.determineDeviceState(), 16383);

    // Without a prefix nothing is this unit's.
    controller.setFilePrefix("");
    EXPECT_EQ(controller.determineDeviceState(), 0);
}

TEST_F(ScanControllerTest, DiagnosticsRecordsAreOneLineEach) {
    ScanController controller(host);
    controller.setUnitFiles(DataFileSet(dir.path(), "unit"));
    EXPECT_TRUE(controller.writeSurfaceStartTimeToDiagFile("18:35:54, Sun. Dec.  6, 2026"));
    EXPECT_TRUE(controller.writeSurfaceErrorToDiagFile(5368709120LL, 5));
    EXPECT_TRUE(controller.writeSurfaceIrregularityToFile(262144, 0.75, 0));
    EXPECT_TRUE(controller.writeSeekStartTimeToDiagFile("18:40:00, Sun. Dec.  6, 2026"));
    EXPECT_TRUE(controller.writeSeekErrorToDiagFile(0, 499999997952LL));
    EXPECT_TRUE(controller.writeSeekIrregularityToFile(1024, 2048));
    EXPECT_EQ(readAll(dir.path() + "/unit.dia"), "SRTS:18:35:54, Sun. Dec.  6, 2026\n"
                                                 "SSE:5368709120:5\n"
                                                 "SSI:262144:0.750000:0\n"
                                                 "SKTS:18:40:00, Sun. Dec.  6, 2026\n"
                                                 "SKE:0:499999997952\n"
                                                 "SKI:1024:2048\n");

    // A file that cannot be opened loses the record and nothing else.
    controller.setUnitFiles(DataFileSet(dir.path() + "/missing", "unit"));
    EXPECT_FALSE(controller.writeSurfaceErrorToDiagFile(0, 0));
    EXPECT_FALSE(controller.writeSeekStartTimeToDiagFile(nullptr));
    controller.setUnitFiles(DataFileSet());
    EXPECT_FALSE(controller.writeSeekErrorToDiagFile(0, 0));
}

TEST_F(ScanControllerTest, UpdateGUICopiesProgressInOrderThenNotifies) {
    ScanController controller(host);
    DiskContext& disk = controller.prepareDiskContext();
    disk.surfaceErrors = 1;
    disk.surfaceIrregularities = 2;
    disk.seekErrors = 3;
    disk.seekIrregularities = 4;
    disk.totalErrors = 4;
    disk.totalIrregularities = 6;
    controller.setRawTargetDrive("/dev/sdz");
    controller.setTypeOfTest("Surface Scan");
    controller.setCurrentTestRange("Scanning from 1.000 GB to 1.001 GB");
    controller.setSurfacePercentDone(0.25);
    controller.setSeekPercentDone(0.5);

    size_t callsWhenNotified = 0;
    const void* sender = nullptr;
    host.note().addObserver("UpdateTestStatusWindow", [&](const std::string&, const void* obj) {
        callsWhenNotified = host.calls().size();
        sender = obj;
    });
    controller.updateGUI();

    std::vector<std::string> expected = {"setDeviceBeingTestedString",
                                         "setTypeOfTestString",
                                         "setCurrentTestRangeString",
                                         "setTotalSurfaceScanErrorsString",
                                         "setTotalSurfaceScanIrregularitiesString",
                                         "setTotalSeekScanErrorString",
                                         "setTotalSeekScanIrregularitiesString",
                                         "setTotalErrorsString",
                                         "setTotalIrregularitiesString",
                                         "setSurfacePercentage",
                                         "setSeekPercentage"};
    EXPECT_EQ(host.callNames(), expected);
    std::vector<std::string> texts;
    for (const auto& call : host.calls()) {
        texts.push_back(call.text);
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"/dev/sdz", "Surface Scan",
                                               "Scanning from 1.000 GB to 1.001 GB", "1", "2", "3",
                                               "4", "4", "6", "", ""}));
    EXPECT_EQ(host.lastNumber("setSurfacePercentage"), 0.25);
    EXPECT_EQ(host.lastNumber("setSeekPercentage"), 0.5);
    EXPECT_EQ(callsWhenNotified, expected.size());
    EXPECT_EQ(sender, &controller);
}

TEST_F(ScanControllerTest, PostTestResetZeroesTheTestAndReleasesTheDevice) {
    ScanController controller(host);
    DiskContext& disk = controller.prepareDiskContext();
    SimulatedDevice image(1 << 20);
    disk.device = image.sharedHandle();
    disk.surfaceErrors = 2;
    disk.totalIrregularities = 9;
    controller.setSurfacePercentDone(1.0);
    controller.setSeekPercentDone(0.3);

    controller.doPostTestReset();
    EXPECT_EQ(controller.disk(), nullptr);
    EXPECT_EQ(controller.surfacePercentDone(), 0.0);
    EXPECT_EQ(controller.seekPercentDone(), 0.0);
    EXPECT_EQ(host.callNames(), std::vector<std::string>{"resetButtons"});

    // The window may still refresh after the reset: it shows zeros.
    host.clear();
    controller.updateGUI();
    EXPECT_EQ(host.lastText("setTotalIrregularitiesString"), "0");
}

TEST_F(ScanControllerTest, ScanThreadRunsTheChosenBodyAndIsJoined) {
    std::thread::id bodyThread;
    std::string ran;
    // Declared before the controller so that they outlive the scan thread,
    // which the controller's destructor joins.
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::promise<void> entered;
    {
        ScanController controller(host);
        controller.setFormalScanBody([&](ScanController&) { ran += "formal "; });
        controller.setCursoryScanBody([&](ScanController& c) {
            ran += "cursory ";
            bodyThread = std::this_thread::get_id();
            EXPECT_FALSE(c.stopFlag()); // cleared by the start
        });

        controller.setStopFlag(true);
        ASSERT_TRUE(controller.startScanThread());
        controller.joinScanThread();
        EXPECT_NE(bodyThread, std::this_thread::get_id());
        EXPECT_FALSE(controller.scanThreadRunning());

        host.normalScanValue = true;
        ASSERT_TRUE(controller.startScanThread());
        controller.joinScanThread();
        EXPECT_EQ(ran, "cursory formal ");

        // A second start while a scan runs is refused; the destructor waits.
        controller.setFormalScanBody([&](ScanController&) {
            entered.set_value();
            released.wait();
            ran += "held";
        });
        ASSERT_TRUE(controller.startScanThread());
        entered.get_future().wait();
        EXPECT_TRUE(controller.scanThreadRunning());
        EXPECT_FALSE(controller.startScanThread());
        release.set_value();
    }
    EXPECT_EQ(ran, "cursory formal held");
}

TEST_F(ScanControllerTest, AnErrorInTheScanEndsTheTestNotTheProgram) {
    ScanController controller(host);
    controller.setCursoryScanBody([](ScanController&) { throw std::runtime_error("boom"); });
    ASSERT_TRUE(controller.startScanThread());
    controller.joinScanThread();
    EXPECT_EQ(host.count("resetButtons"), 1);
    EXPECT_FALSE(controller.scanThreadRunning());
    // And the controller can start again.
    controller.setCursoryScanBody(nullptr);
    EXPECT_TRUE(controller.startScanThread());
    controller.joinScanThread();
}

} // namespace tolvarin
