#include "engine/CursoryScan.h"
#include "diagnostics/BadBlockRepair.h"
#include "engine/DiskContext.h"
#include "engine/ScanController.h"
#include "engine/SizingSweep.h"
#include "logging/Logger.h"
#include "logging/MessageCenter.h"
#include "platform/SafeFile.h"
#include "tests/support/ScanFixture.h"
#include "tests/support/SimulatedDevice.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace tolvarin {

namespace {

constexpr int64_t kG = SizingSweep::kSectionSize;

DiskContext layoutOf(int64_t size) {
    DiskContext disk;
    disk.deviceSize = size;
    SizingSweep::doSweepSectorAllocationWithFile(disk, "", "");
    return disk;
}

class CursoryScanTest : public ScanFixture {
  protected:
    CursoryScanTest() {
        controller.setErrorLimit(100);
        host.normalScanValue = false;
    }

    // A prepared unit of size bytes, as the sizing sweep leaves it.
    SimulatedDevice& prepare(int64_t size) {
        DiskContext& disk = controller.prepareDiskContext();
        auto device = std::make_unique<SimulatedDevice>(size, 0xAB);
        device->setClock(&clock);
        device->setSeekCost(1000);
        SimulatedDevice& simulated = *device;
        observer = device->sharedHandle();
        disk.device = std::move(device);
        disk.deviceSize = size;
        disk.detectedSize = size;
        disk.sectorCount = size / 512;
        return simulated;
    }

    std::unique_ptr<SimulatedDevice> observer;
};

} // namespace

TEST(CursoryScanRange, LimitedRangeSelectsTheSectionsHoldingItsEnds) {
    DiskContext disk = layoutOf(6 * kG);
    auto range = CursoryScan::limitedSectionRange(disk, 2 * CursoryScan::kGigabyte,
                                                  5 * CursoryScan::kGigabyte);
    ASSERT_TRUE(range);
    EXPECT_EQ(*range, std::make_pair(1, 4));
    // A section boundary belongs to the section it starts.
    EXPECT_EQ(*CursoryScan::limitedSectionRange(disk, kG, 2 * kG - 1), std::make_pair(1, 1));
    EXPECT_EQ(*CursoryScan::limitedSectionRange(disk, 0, 0), std::make_pair(0, 0));
    // An end beyond the unit runs to its last section.
    EXPECT_EQ(*CursoryScan::limitedSectionRange(disk, 0, 100 * CursoryScan::kGigabyte),
              std::make_pair(0, 5));
    // A start beyond the unit or a reversed range selects nothing.
    EXPECT_FALSE(CursoryScan::limitedSectionRange(disk, 6 * kG, 7 * kG));
    EXPECT_FALSE(CursoryScan::limitedSectionRange(disk, 3 * kG, kG));
    EXPECT_FALSE(CursoryScan::limitedSectionRange(disk, -1, kG));

    // A short last section is selected by an end inside it.
    DiskContext shortTail = layoutOf(2 * kG + 512);
    EXPECT_EQ(*CursoryScan::limitedSectionRange(shortTail, 0, 2 * kG + 511), std::make_pair(0, 2));
}

TEST_F(CursoryScanTest, LimitedRangeTwoToFiveScansSectionsOneToFourOnly) {
    SimulatedDevice& device = prepare(6 * kG);
    SizingSweep::doSweepSectorAllocationWithFile(*controller.disk(), "", logPath.c_str());
    host.cursoryLimitedScanSelectedValue = true;
    host.limitedCursoryScanStartByteValue = 2;
    host.limitedCursoryScanEndByteValue = 5;

    CursoryScan scan(controller, host);
    ASSERT_TRUE(scan.doLimitedSurfaceScanTest());

    std::string text = log();
    auto starts = linesWith(text, "Scan start - ");
    ASSERT_EQ(starts.size(), 4u);
    EXPECT_EQ(starts.front(), "Scan start - Start Byte: 1048576000 End Byte: 2097151999 Index: 1");
    EXPECT_EQ(starts.back(), "Scan start - Start Byte: 4194304000 End Byte: 5242879999 Index: 4");
    EXPECT_EQ(device.readCount(), 4 * 4000);
    EXPECT_EQ(controller.disk()->sections[0].endReadIndex, 0);
    EXPECT_EQ(controller.disk()->sections[5].endReadIndex, 0);

    EXPECT_EQ(text.rfind("START OF LIMITED SURFACE SCAN TEST: ", 0), 0u);
    EXPECT_NE(text.find("\nThe following subsections PASSED surface scanning tests:\n\n"
                        "   Start: 1048576000       End: 2097151999       Index: 1\n"),
              std::string::npos);
    EXPECT_EQ(linesWith(text, "   Start: ").size(), 4u);
    EXPECT_NE(text.find("   THERE WERE NO FAILURES DETECTED IN THIS TEST.\n"), std::string::npos);
    EXPECT_NE(text.find("\nEND OF LIMITED SURFACE SCAN TEST: "), std::string::npos);
    EXPECT_NE(text.find(std::string(79, '-') + "\n"), std::string::npos);
    // No indices in a limited scan.
    EXPECT_EQ(text.find("Relative Performance Indices"), std::string::npos);
    EXPECT_EQ(host.lastNumber("setSurfacePercentage"), 1.0);
    EXPECT_EQ(host.count("startCursorySurfaceScanSpinnerThread"), 1);
    EXPECT_EQ(host.count("stopCursorySurfaceScanSpinnerThread"), 1);
}

TEST_F(CursoryScanTest, LimitedRangeOutsideTheUnitIsRefused) {
    SimulatedDevice& device = prepare(4 << 20);
    SizingSweep::doSweepSectorAllocationWithFile(*controller.disk(), "", logPath.c_str());
    host.cursoryLimitedScanSelectedValue = true;
    host.limitedCursoryScanStartByteValue = 1;
    host.limitedCursoryScanEndByteValue = 2;
    CursoryScan scan(controller, host);
    EXPECT_FALSE(scan.doLimitedSurfaceScanTest());
    EXPECT_NE(log().find("LIMITED SURFACE SCAN ERROR: No scan section of this unit lies in the "
                         "range from 1000000000 to 2000000000 bytes."),
              std::string::npos);
    EXPECT_EQ(device.readCount(), 0);
    EXPECT_EQ(host.count("startCursorySurfaceScanSpinnerThread"), 0);
}

TEST_F(CursoryScanTest, StoppedSurfaceScanSkipsTheSeekScanAndStillEndsTheTest) {
    prepare(8 << 20);
    host.cursoryLimitedScanSelectedValue = true;
    host.limitedCursoryScanStartByteValue = 0;
    host.limitedCursoryScanEndByteValue = 1;
    host.setOnCall([&](const FakeScanHost::Call& call) {
        if (call.name == "setCursorySurfaceScanSpinnerLocation") {
            controller.setStopFlag(true);
        }
    });
    answers->push(6, 1); // Terminate Now

    CursoryScan(controller, host).doCursoryScanTest();

    std::string text = log();
    EXPECT_NE(text.find("\nLimited Surface Scan Terminated by User at: "), std::string::npos);
    EXPECT_EQ(text.find("START OF SEEK SCAN TEST"), std::string::npos);
    EXPECT_EQ(answers->askedNumbers(), (std::vector<int>{6, 1}));
    EXPECT_EQ(host.count("startCursorySeekScanSpinnerThread"), 0);
    EXPECT_EQ(host.numbers("setUnderTest"), std::vector<double>{1});
    // The test ends with the services back on, message 1 and the reset.
    std::vector<std::string> names = host.callNames();
    auto enable = std::find(names.begin(), names.end(), "enableSystemItemsFromScanController");
    ASSERT_NE(enable, names.end());
    EXPECT_EQ(names.back(), "resetButtons");
    EXPECT_EQ(controller.disk(), nullptr);
}

TEST_F(CursoryScanTest, SeekScanAloneUsesThirtyLocations) {
    prepare(30 << 20);
    host.doSurfaceScanValue = false;
    host.doSeekScanValue = true;

    CursoryScan(controller, host).doCursoryScanTest();

    std::string text = log();
    EXPECT_EQ(text.find("SURFACE SCAN TEST"), std::string::npos);
    EXPECT_EQ(linesWith(text, " Seek Start: ").size(), 435u);
    EXPECT_NE(
        text.find("RESULTS: Seek scan *** PASSED ***  with no errors and no irregularities.\n"),
        std::string::npos);
    EXPECT_EQ(answers->askedNumbers(), std::vector<int>{1});
    EXPECT_EQ(host.numbers("setUnderTest"), (std::vector<double>{1, 0}));
    // Only the seek test's reads, 11 per cycle; none of a surface scan.
    // The test released the unit; its image is still there to look at.
    EXPECT_EQ(observer->readCount(), 435 * 25 * 11);
    EXPECT_EQ(controller.disk(), nullptr);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"Log.txt"});
}

TEST_F(CursoryScanTest, RepairRewritesTheUnreadableSectorAndTheTestGoesOn) {
    SimulatedDevice& device = prepare(4 << 20);
    // Unreadable for the scan's read and the repair's first look; the zeros
    // written make it readable again.
    const int64_t bad = (1 << 20) + 512;
    device.failReads(bad, bad + 512, 2);
    host.attemptToRepairBadSectorsValue = true;
    host.doSeekScanValue = true;

    CursoryScan scan(controller, host);
    scan.setRepairHook([this](int index, const char* logFile) {
        BadBlockRepair(controller).doDiskRepairOnIndex(index, logFile);
    });
    scan.doCursoryScanTest();

    auto writes = observer->writeLog();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].offset, bad);
    EXPECT_EQ(writes[0].data, std::vector<uint8_t>(512, 0));

    std::string text = log();
    EXPECT_NE(text.find("   SCAN FAILED - Start Byte: 0 End Byte: 4194303 Index: 0\n"),
              std::string::npos);
    EXPECT_NE(text.find("   EVALUATING 512 BYTE SECTOR AT: 1048576\n"), std::string::npos);
    EXPECT_EQ(text.find("   EVALUATING 512 BYTE SECTOR AT: 1048064\n"), std::string::npos);
    EXPECT_NE(text.find("         ATTEMPTING REPAIR AT: 1049088\n"), std::string::npos);
    EXPECT_NE(text.find("   THIS UNIT APPEARS TO HAVE BEEN SUCCESSFULLY REPAIRED.\n"),
              std::string::npos);
    EXPECT_NE(text.find("\nThe following scan sections ***FAILED*** surface scanning tests:\n\n"
                        "   Start: 0                End: 4194303          Index: 0\n"),
              std::string::npos);
    // The seek scan follows the repaired surface scan.
    EXPECT_EQ(linesWith(text, " Seek Start: ").size(), 435u);
    EXPECT_EQ(answers->askedNumbers(), std::vector<int>{1});
}

TEST_F(CursoryScanTest, InstalledBodyRunsOnTheScanThread) {
    prepare(1 << 20);
    host.doSeekScanValue = false;
    CursoryScan::installOn(controller);
    ASSERT_TRUE(controller.startScanThread());
    controller.joinScanThread();
    EXPECT_NE(log().find("END OF SURFACE SCAN TEST"), std::string::npos);
    EXPECT_EQ(answers->askedNumbers(), std::vector<int>{1});
    EXPECT_EQ(controller.disk(), nullptr);
}

} // namespace tolvarin
