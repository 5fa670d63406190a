#include "engine/ScanRecorder.h"
#include "engine/DiskContext.h"
#include "engine/ScanController.h"
#include "engine/SeekScan.h"
#include "engine/SizingSweep.h"
#include "engine/SurfaceScan.h"
#include "platform/DeviceActivity.h"
#include "tests/support/ScanFixture.h"
#include "tests/support/SimulatedDevice.h"

#include <gtest/gtest.h>

namespace tolvarin {

namespace {

constexpr int64_t kSection = SizingSweep::kSectionSize;
constexpr int64_t kRead = DiskContext::kScanReadSize;

// The counters of a unit that only the scan reads, until the clock passes
// a moment from which another reader has read 64 KiB.
class MadeUpActivity : public DeviceActivity {
  public:
    MadeUpActivity(const SimulatedDevice& device, const FakeClock& clock, int64_t otherFrom)
        : device_(device), clock_(clock), otherFrom_(otherFrom) {}
    bool sample(IoCounters* out) override {
        out->readIos = device_.readCount();
        out->readSectors = device_.readCount() * (kRead / 512);
        if (clock_.monotonicMicros() >= otherFrom_) {
            out->readSectors += 128;
        }
        return true;
    }

  private:
    const SimulatedDevice& device_;
    const FakeClock& clock_;
    int64_t otherFrom_;
};

class ScanRecorderScanTest : public ScanFixture {
  protected:
    ScanRecorderScanTest() {
        controller.setErrorLimit(100);
        host.normalScanValue = false;
    }

    SimulatedDevice& prepare(int64_t size) {
        DiskContext& disk = controller.prepareDiskContext();
        auto device = std::make_unique<SimulatedDevice>(size);
        device->setClock(&clock);
        device->setReadCost(2000);
        device->setSeekCost(1000);
        SimulatedDevice& simulated = *device;
        disk.device = std::move(device);
        disk.deviceSize = size;
        disk.detectedSize = size;
        disk.sectorCount = size / 512;
        SizingSweep::doSweepSectorAllocationWithFile(disk, "", logPath.c_str());
        return simulated;
    }

    void begin() {
        controller.recorder().beginTest({"cursory", "/dev/simulated", "", "", false, "", ""});
    }
};

} // namespace

TEST_F(ScanRecorderScanTest, SlowAndUnreadablePlacesLandInTheirStretchesAndClasses) {
    SimulatedDevice& device = prepare(2 * kSection);
    // One read of 0.7 s in section 0, reads of 30 ms over a whole stretch
    // of section 1, and a bad block further on in section 1.
    const int64_t slowAt = 123 * kRead;
    device.slowReads(slowAt, slowAt + kRead, 700000);
    const int64_t warmStart = kSection + 40 * kRead;
    device.slowReads(warmStart, warmStart + 40 * kRead, 30000);
    const int64_t badAt = kSection + 2000 * kRead;
    device.failReads(badAt, badAt + 512);
    begin();

    SurfaceScan scan(controller, host);
    ASSERT_TRUE(scan.doSurfaceScanTestUsingFile(""));
    std::shared_ptr<const TestMeasurements> m = controller.endMeasurements("completed", false);
    ASSERT_TRUE(m);
    const SurfaceMap& map = m->map;
    ASSERT_EQ(map.stretches().size(), 200u);
    auto classAt = [&](int64_t offset) {
        return map.stretches()[static_cast<size_t>(map.stretchAt(offset))].latencyClass();
    };
    EXPECT_EQ(classAt(slowAt), LatencyClass::from500ms);
    EXPECT_EQ(map.stretches()[static_cast<size_t>(map.stretchAt(slowAt))].slowestAt, slowAt);
    EXPECT_EQ(classAt(0), LatencyClass::under5ms);
    EXPECT_EQ(classAt(warmStart), LatencyClass::under50ms);
    const Stretch& warm = map.stretches()[static_cast<size_t>(map.stretchAt(warmStart))];
    EXPECT_EQ(warm.reads, 40u);
    EXPECT_GE(warm.medianMicros, 30000);
    EXPECT_LE(warm.medianMicros, warm.maxMicros);
    // Each timed read: the seek (1 ms), the read (2 ms) and the slow place.
    EXPECT_NEAR(warm.rate(), kRead / 0.033, kRead / 0.033 * 0.001);
    EXPECT_EQ(classAt(badAt), LatencyClass::unreadable);
    // The rest of the failed section was not read.
    EXPECT_EQ(classAt(2 * kSection - 1), LatencyClass::notRead);
    EXPECT_EQ(m->surfaceReads.total(), 4000u + 2000u);
    EXPECT_EQ(m->surfaceReads.counts()[static_cast<size_t>(LatencyHistogram::bucketOf(703000))],
              1u);
    // Nothing watched the unit's I/O: no doubtful readings, no extra line.
    EXPECT_EQ(m->doubtfulCount, 0u);
    EXPECT_EQ(log().find("DOUBTFUL"), std::string::npos);
    // The live map ended with the same picture.
    SurfaceMapPicture live = controller.recorder().liveMap()->snapshot();
    ASSERT_EQ(live.cells.size(), 200u);
    EXPECT_EQ(live.cells[static_cast<size_t>(map.stretchAt(badAt))].latency,
              LatencyClass::unreadable);
}

TEST_F(ScanRecorderScanTest, ASlowReadDuringOtherIOIsDoubtfulAndSaidAfterTheSectionVerdict) {
    SimulatedDevice& device = prepare(kSection);
    const int64_t slowAt = 2500 * kRead;
    device.slowReads(slowAt, slowAt + kRead, 700000);
    // The other reader's I/O shows from the slow read on; nothing before.
    int64_t otherFrom = clock.monotonicMicros() + 2500 * 3000 + 350000;
    controller.recorder().setActivityOpener(
        [&](const std::string&, std::string*) -> std::unique_ptr<DeviceActivity> {
            return std::make_unique<MadeUpActivity>(device, clock, otherFrom);
        });
    begin();

    SurfaceScan scan(controller, host);
    ASSERT_TRUE(scan.doSurfaceScanTestUsingFile(""));
    std::shared_ptr<const TestMeasurements> m = controller.endMeasurements("completed", false);
    ASSERT_TRUE(m->activityWatched);
    ASSERT_EQ(m->doubtful.size(), 1u);
    EXPECT_EQ(m->doubtful[0].offset, slowAt);
    EXPECT_EQ(m->doubtful[0].otherReadSectors, 128);
    const Stretch& s = m->map.stretches()[static_cast<size_t>(m->map.stretchAt(slowAt))];
    EXPECT_TRUE(s.slowestDoubtful);
    EXPECT_FALSE(m->map.stretches()[0].slowestDoubtful);
    EXPECT_EQ(m->map.stretches()[0].doubtfulReads, 0u);

    // The designed lines stay; the further line follows the verdict.
    std::string text = log();
    size_t verdict = text.find("   Scan Passed(I) - Start Byte: 0");
    size_t doubtful = text.find("   DOUBTFUL: 1 slow read(s) of this section were timed while "
                                "other I/O used the unit.");
    ASSERT_NE(verdict, std::string::npos);
    ASSERT_NE(doubtful, std::string::npos);
    EXPECT_LT(verdict, doubtful);
    EXPECT_NE(text.find("      Irregularity at byte 655360000, response time 0.703000"),
              std::string::npos);
}

TEST_F(ScanRecorderScanTest, SeekRoundTripsAreTimedAndAnIdleRecorderRecordsNothing) {
    prepare(kSection);
    SeekScan idle(controller, host);
    ASSERT_TRUE(idle.doSeekScanTestUsingSeekFile("", ""));
    EXPECT_FALSE(controller.recorder().testUnderWay());
    EXPECT_FALSE(controller.endMeasurements("completed", false));

    begin();
    SeekScan seek(controller, host);
    ASSERT_TRUE(seek.doSeekScanTestUsingSeekFile("", ""));
    std::shared_ptr<const TestMeasurements> m = controller.endMeasurements("completed", false);
    ASSERT_TRUE(m);
    EXPECT_TRUE(m->seekScanned);
    EXPECT_FALSE(m->surfaceScanned);
    // 435 pairs of 25 timed cycles; a cycle is 5 round trips of two seeks
    // and two reads (2 x (1 ms + 2 ms)), 6 ms a round trip.
    EXPECT_EQ(m->seekRoundTrips.total(), 435u * 25u);
    EXPECT_EQ(m->seekRoundTrips.counts()[static_cast<size_t>(LatencyHistogram::bucketOf(6000))],
              435u * 25u);
}

} // namespace tolvarin
