#include "engine/SeekScan.h"
#include "engine/DiskContext.h"
#include "engine/ScanController.h"
#include "logging/Logger.h"
#include "logging/MessageCenter.h"
#include "platform/SafeFile.h"
#include "store/DataFileSet.h"
#include "tests/support/ScanFixture.h"
#include "tests/support/SimulatedDevice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

namespace tolvarin {

namespace {

class SeekScanTest : public ScanFixture {
  protected:
    static constexpr int64_t kSectors = 30 * 64; // 64 sectors between locations

    SeekScanTest() {
        DiskContext& disk = controller.prepareDiskContext();
        auto device = std::make_unique<SimulatedDevice>(kSectors * 512);
        device->setClock(&clock);
        // Every seek costs 1 ms: a cycle of 10 seeks takes 10 ms.
        device->setSeekCost(1000);
        simulated = device.get();
        disk.device = std::move(device);
        disk.deviceSize = kSectors * 512;
        disk.sectorCount = kSectors;
        controller.setErrorLimit(1000);
        controller.setTolvarinDir(dir.path());
        controller.setFilePrefix("unit");
        controller.setUnitFiles(DataFileSet(dir.path(), "unit"));
    }

    std::string file(const std::string& name) const {
        return SafeFile::read(dir.path() + "/" + name).value_or("");
    }
    void writeSkx(const std::string& body) {
        ASSERT_TRUE(SafeFile::replace(dir.path() + "/unit.skx", body));
    }
    // A normal scan: seek file started as the sequence starts it.
    void startNormal() {
        host.normalScanValue = true;
        ASSERT_TRUE(SafeFile::replace(
            dir.path() + "/unit.isk",
            "***** IMPORTANT: DO NOT EDIT, RENAME, OR DELETE THIS FILE!!!! *****\n\n"));
    }

    SimulatedDevice* simulated = nullptr;
};

} // namespace

TEST(SeekScanLayout, PairsRunRowByRowWithTheLowerLocationFirst) {
    EXPECT_EQ(SeekScan::pairCountFor(30), 435);
    EXPECT_EQ(SeekScan::pairCountFor(1), 0);
    EXPECT_EQ(SeekScan::pairLocations(30, 0), std::make_pair(0, 1));
    EXPECT_EQ(SeekScan::pairLocations(30, 28), std::make_pair(0, 29));
    EXPECT_EQ(SeekScan::pairLocations(30, 29), std::make_pair(1, 2));
    EXPECT_EQ(SeekScan::pairLocations(30, 434), std::make_pair(28, 29));
    // Every pair once, in order.
    int64_t index = 0;
    for (int a = 0; a < 6; ++a) {
        for (int b = a + 1; b < 6; ++b) {
            EXPECT_EQ(SeekScan::pairLocations(6, index++), std::make_pair(a, b));
        }
    }
}

TEST(SeekScanLayout, ReadsTheSeekIndexAndRefusesWhatItCannotUse) {
    TempDir dir;
    std::string path = dir.path() + "/u.skx";
    std::string why;
    EXPECT_FALSE(SeekScan::readSeekIndexFile(path, &why));
    EXPECT_NE(why.find("Could not read"), std::string::npos);

    ASSERT_TRUE(SafeFile::replace(path, "warning\n\nCNT: 30\nISZ: 1234\nSTRT: 0\nEND: 9\n\n"));
    auto layout = SeekScan::readSeekIndexFile(path, &why);
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->count, 30);
    EXPECT_EQ(layout->interval, 1234);

    for (const char* bad : {"ISZ: 10\n", "CNT: 1\nISZ: 10\n", "CNT: 3x\nISZ: 10\n",
                            "CNT: 100000\nISZ: 10\n", "CNT: 3\n", "CNT: 3\nISZ: 0\n"}) {
        ASSERT_TRUE(SafeFile::replace(path, bad));
        EXPECT_FALSE(SeekScan::readSeekIndexFile(path, &why)) << bad;
    }
}

TEST_F(SeekScanTest, CursoryScanMeasures435PairsAndPasses) {
    SeekScan scan(controller, host);
    ASSERT_TRUE(scan.doSeekScanTestUsingSeekFile("", ""));

    std::string text = log();
    auto starts = linesWith(text, " Seek Start: ");
    ASSERT_EQ(starts.size(), 435u);
    EXPECT_EQ(starts.front(), " Seek Start: 0              End: 32768          Status: PASSED");
    EXPECT_EQ(starts.back(), " Seek Start: 917504         End: 950272         Status: PASSED");
    EXPECT_NE(text.find("\nSTART OF SEEK SCAN TEST: "), std::string::npos);
    EXPECT_NE(text.find("Number of errors during seek test: 0\n"
                        "Number of irregularities during seek test: 0\n"
                        "RESULTS: Seek scan *** PASSED ***  with no errors and no "
                        "irregularities.\n"),
              std::string::npos);
    // 25 cycles of 10 seeks at 1 ms: every cycle 10 ms.
    EXPECT_NEAR(disk().seekLinearRPI, 10.0, 1e-9);
    EXPECT_NEAR(disk().seekRatioRPI, 0.0, 1e-9);
    EXPECT_NE(text.find("   Seek Scan Linear RPI: 10.000000\n   Seek Scan Ratio RPI: 0.000000\n"),
              std::string::npos);

    EXPECT_EQ(host.count("startCursorySeekScanSpinnerThread"), 1);
    EXPECT_EQ(host.count("stopCursorySeekScanSpinnerThread"), 1);
    EXPECT_EQ(host.count("setCursorySeekScanSpinnerLocation"), 435);
    EXPECT_EQ(host.lastNumber("setCursorySeekScanSpinnerLocation"), 29 * 64 * 512);
    EXPECT_EQ(host.lastNumber("setSeekPercentage"), 1.0);
    EXPECT_EQ(host.lastNumber("setUnderTest"), 0);
    EXPECT_EQ(controller.typeOfTest(), "Seek Scan");
    EXPECT_TRUE(disk().seekPairs.empty()); // released at the end
    // A cursory scan writes no files.
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"Log.txt"});
}

TEST_F(SeekScanTest, SlowestCycleAboveHalfASecondIsAnIrregularity) {
    disk().seekLocationCount = 2;
    int64_t b = kSectors / 2 * 512;
    simulated->setSeekCost(0);
    // Five reads at B per cycle: exactly 0.5 s.
    simulated->slowReads(b, b + 1024, 100000);
    SeekScan scan(controller, host);
    ASSERT_TRUE(scan.doSeekScanTestUsingSeekFile("", ""));
    EXPECT_EQ(linesWith(log(), "Status: PASSED").size(), 1u);
    EXPECT_EQ(disk().seekIrregularities, 0);

    // One microsecond more per read: 0.500005 s.
    std::filesystem::remove(logPath);
    simulated->slowReads(b, b + 1024, 1);
    SeekScan again(controller, host);
    ASSERT_TRUE(again.doSeekScanTestUsingSeekFile("", ""));
    std::string text = log();
    EXPECT_EQ(linesWith(text, "Status: PASSED W/IRREGULARITY").size(), 1u);
    EXPECT_EQ(disk().seekIrregularities, 1);
    EXPECT_EQ(disk().totalIrregularities, 1);
    EXPECT_NE(text.find("RESULTS: Seek scan passed with no errors and 1 irregularities.\n"),
              std::string::npos);
}

TEST_F(SeekScanTest, FailedPairsCountErrorsAndTakeTheSentinel) {
    disk().seekLocationCount = 3;
    int64_t one = kSectors / 3 * 512;
    simulated->failReads(one, one + 1024);
    SeekScan scan(controller, host);
    ASSERT_TRUE(scan.doSeekScanTestUsingSeekFile("", ""));

    std::string text = log();
    auto lines = linesWith(text, " Seek Start: ");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[0].find("Status: FAILED - UNABLE TO READ"), std::string::npos); // (0,1)
    EXPECT_NE(lines[1].find("Status: PASSED"), std::string::npos);                  // (0,2)
    EXPECT_NE(lines[2].find("Status: FAILED - UNABLE TO READ"), std::string::npos); // (1,2)
    EXPECT_EQ(disk().seekErrors, 2);
    EXPECT_EQ(disk().totalErrors, 2);
    EXPECT_EQ(controller.errorCount(), 2);
    EXPECT_NE(text.find("RESULTS: Seek scan *** FAILED *** with 2 errors.\n"), std::string::npos);
    // The failed pairs enter the indices with their sentinel values.
    EXPECT_NEAR(disk().seekLinearRPI, 2 * SeekScan::kSentinel / 3 * 1000.0, 1e90);
    EXPECT_NEAR(disk().seekRatioRPI, std::log10(SeekScan::kSentinel / 0.01), 1e-9);
}

TEST_F(SeekScanTest, NormalScanRecordsPairsAndFindingsAndResumes) {
    startNormal();
    writeSkx("warning\n\nCNT: 3\nISZ: 640\nSTRT: 0\nEND: 655360\n\n");
    simulated->failReads(640 * 512, 640 * 512 + 1024); // location 1: reads fail
    simulated->failSeeks(1280 * 512, 1280 * 512 + 1);  // location 2: seeks fail
    int surfaceReads = 0;
    SeekScan scan(controller, host);
    scan.setStoreHooks({[&](const std::string& f) {
                            EXPECT_EQ(f, dir.path() + "/unit.iss");
                            ++surfaceReads;
                            return 7;
                        },
                        [&](const std::string& f) {
                            EXPECT_EQ(f, dir.path() + "/unit.isk");
                            return 0;
                        }});
    ASSERT_TRUE(
        scan.doSeekScanTestUsingSeekFile(dir.path() + "/unit.isk", dir.path() + "/unit.iss"));
    EXPECT_EQ(surfaceReads, 1);

    std::string data = file("unit.isk");
    EXPECT_NE(data.find("I:0 MN:N/A MX:N/A AV:N/A T:N/A O:1 E:0\n"
                        "I:1 MN:N/A MX:N/A AV:N/A T:N/A O:1 E:0\n"
                        "I:2 MN:N/A MX:N/A AV:N/A T:N/A O:1 E:0\n"),
              std::string::npos)
        << data;
    EXPECT_NE(data.find("\nRPISKLIN: "), std::string::npos);
    EXPECT_NE(data.find("Seek Scan Complete\n\nEND OF FILE unit.isk\n"), std::string::npos);
    // A read failure is recorded for diagnostics, a seek failure is not.
    std::string dia = file("unit.dia");
    EXPECT_NE(dia.find("SKTS:"), std::string::npos);
    EXPECT_EQ(linesWith(dia, "SKE:").size(), 1u);
    EXPECT_NE(dia.find("SKE:0:327680\n"), std::string::npos);
    EXPECT_EQ(linesWith(log(), "UNABLE TO SEEK").size(), 2u);
    EXPECT_EQ(host.count("startNormalSeekScanSpinnerThread"), 1);
    EXPECT_EQ(host.lastNumber("setSurfacePercentage"), 1.0);
}

TEST_F(SeekScanTest, NormalScanResumesAfterTheRecordedPairs) {
    startNormal();
    writeSkx("CNT: 4\nISZ: 480\n");
    controller.setUnitFiles(DataFileSet(dir.path(), "unit"));
    SeekScan scan(controller, host);
    scan.setStoreHooks({nullptr, [&](const std::string&) {
                            // Two pairs recorded: 20 ms and 30 ms cycles.
                            for (int i = 0; i < 2; ++i) {
                                SeekPair& p = disk().seekPairs[static_cast<std::size_t>(i)];
                                p.minTime = p.maxTime = 0.02 + 0.01 * i;
                                p.avgTime = p.minTime;
                                p.totalTime = 25 * p.avgTime;
                                p.passed = p.clean = 1;
                            }
                            return 2;
                        }});
    ASSERT_TRUE(scan.doSeekScanTestUsingSeekFile(dir.path() + "/unit.isk", ""));
    auto records = linesWith(file("unit.isk"), "I:");
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records.front().rfind("I:2 MN:0.010000 MX:0.010000", 0), 0u) << records.front();
    EXPECT_EQ(linesWith(log(), " Seek Start: ").size(), 4u);
    EXPECT_EQ(host.numbers("setSeekPercentage").front(), 2.0 / 6.0);
    // The recorded pairs count in the indices: (20 + 30 + 4 x 10) / 6 ms.
    EXPECT_NEAR(disk().seekLinearRPI, 15.0, 1e-9);
    EXPECT_NEAR(disk().seekRatioRPI, std::log10(3.0), 1e-9);
}

TEST_F(SeekScanTest, NormalScanWithoutUsableSeekIndexIsRefused) {
    startNormal();
    SeekScan scan(controller, host);
    EXPECT_FALSE(scan.doSeekScanTestUsingSeekFile(dir.path() + "/unit.isk", ""));
    std::string text = log();
    EXPECT_NE(text.find("SEEK SCAN CRITICAL ERROR: Could not read the seek location file"),
              std::string::npos);
    EXPECT_NE(text.find("SEEK SCAN ABORTING TEST!\n\n"), std::string::npos);
    EXPECT_EQ(text.find("Seek Start"), std::string::npos);
    EXPECT_EQ(host.count("resetButtons"), 1);
    EXPECT_EQ(host.count("enableSystemItemsFromScanController"), 1);
    EXPECT_EQ(host.count("startNormalSeekScanSpinnerThread"), 0);
    EXPECT_EQ(linesWith(file("unit.isk"), "I:").size(), 0u);

    // Locations recorded for a larger unit are not measured past its end.
    writeSkx("CNT: 30\nISZ: 67\n");
    SeekScan larger(controller, host);
    EXPECT_FALSE(larger.doSeekScanTestUsingSeekFile(dir.path() + "/unit.isk", ""));
    EXPECT_NE(log().find("lie beyond the end of the unit"), std::string::npos);

    writeSkx("CNT: 30\nISZ: 66\n");
    SeekScan fits(controller, host);
    EXPECT_TRUE(fits.doSeekScanTestUsingSeekFile(dir.path() + "/unit.isk", ""));
}

TEST_F(SeekScanTest, StopIsAskedBeforeEachRow) {
    disk().seekLocationCount = 4; // rows: (0,1) (0,2) (0,3) | (1,2) (1,3) | (2,3)
    host.setOnCall([&](const FakeScanHost::Call& call) {
        if (call.name == "setCursorySeekScanSpinnerLocation") {
            controller.setStopFlag(true);
        }
    });
    answers->push(6, 0); // Cancel: go on
    answers->push(6, 1); // Terminate Now
    SeekScan scan(controller, host);
    EXPECT_FALSE(scan.doSeekScanTestUsingSeekFile("", ""));

    std::string text = log();
    // The whole first row, then after the resume the whole second row.
    EXPECT_EQ(linesWith(text, " Seek Start: ").size(), 5u);
    EXPECT_EQ(answers->askedNumbers(), (std::vector<int>{6, 6}));
    EXPECT_EQ(host.count("resumeCursoryTest"), 1);
    EXPECT_NE(text.find("\nSeek Scan Terminated by User at: "), std::string::npos);
    EXPECT_EQ(text.find("END OF SEEK SCAN TEST"), std::string::npos);
    EXPECT_EQ(host.count("stopCursorySeekScanSpinnerThread"), 1);
    std::vector<std::string> names = host.callNames();
    auto reset = std::find(names.begin(), names.end(), "resetButtons");
    ASSERT_NE(reset, names.end());
    EXPECT_NE(std::find(reset, names.end(), "enableSystemItemsFromScanController"), names.end());
}

} // namespace tolvarin
