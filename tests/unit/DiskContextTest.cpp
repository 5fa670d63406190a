#include "engine/DiskContext.h"
#include "tests/support/FakeClock.h"
#include "tests/support/SimulatedDevice.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>

namespace tolvarin {

namespace {

constexpr int64_t kA = 1024 * 1024;
constexpr int64_t kB = 64 * 1024 * 1024;
constexpr int64_t kSize = 128 * 1024 * 1024;

// A device whose n-th read (counting from 0) costs cost(n) on the fake clock,
// and which notes when it is closed.
class CostedDevice : public RawDevice {
  public:
    CostedDevice(FakeClock& clock, std::function<int64_t(int)> cost, bool* closed = nullptr)
        : clock_(clock), cost_(std::move(cost)), closed_(closed) {}
    ~CostedDevice() override {
        if (closed_ != nullptr) {
            *closed_ = true;
        }
    }
    int64_t seek(int64_t offset) override { return offset; }
    int64_t read(void*, int64_t length) override {
        clock_.advance(cost_(reads_++));
        return length;
    }
    int64_t write(const void*, int64_t) override { return -1; }
    int64_t reportedSize() const override { return kSize; }

  private:
    FakeClock& clock_;
    std::function<int64_t(int)> cost_;
    bool* closed_;
    int reads_ = 0;
};

class DiskContextTest : public ::testing::Test {
  protected:
    DiskContextTest() {
        disk.clock = &clock;
        initialize(disk);
        auto device = std::make_unique<SimulatedDevice>(kSize);
        sim = device.get();
        sim->setClock(&clock);
        disk.device = std::move(device);
        disk.fd = SimulatedDevice::kDummyFd;
    }

    int run() { return doLowLevelSeekTest(&min, &max, &total, &avg, disk, kA, kB); }

    FakeClock clock;
    DiskContext disk;
    SimulatedDevice* sim = nullptr;
    double min = -7, max = -7, total = -7, avg = -7;
};

} // namespace

TEST_F(DiskContextTest, InitializeSetsTheDesignedStartValues) {
    disk.deviceSize = 99;
    disk.sections.resize(3);
    disk.sectionCount = 3;
    disk.surfaceErrors = 4;
    disk.setFilePrefix("M01-D-SAT");
    initialize(disk);

    EXPECT_EQ(disk.fd, 0);
    EXPECT_EQ(disk.device, nullptr);
    EXPECT_EQ(disk.sectorReadSize, 512);
    EXPECT_EQ(disk.scanReadSize, 262144);
    EXPECT_EQ(disk.seekReadSize, 1024);
    EXPECT_EQ(disk.sectorBuffer.size(), 512u);
    EXPECT_EQ(disk.scanBuffer.size(), 262144u);
    EXPECT_EQ(disk.seekBuffer.size(), 1024u);
    EXPECT_EQ(disk.lastReadResult, 1);
    EXPECT_EQ(disk.sizingStep, 1073741824);
    EXPECT_EQ(disk.deviceSize, 0);
    EXPECT_EQ(disk.sectionCount, 0);
    EXPECT_TRUE(disk.sections.empty());
    EXPECT_TRUE(disk.seekPairs.empty());
    EXPECT_EQ(disk.surfaceErrors, 0);
    EXPECT_EQ(disk.seekLocationCount, 30);
    EXPECT_STREQ(disk.filePrefix, "");
    for (double v : disk.surfaceSummary) {
        EXPECT_EQ(v, 0.0);
    }

    // A new section has passed = 1 and all else zero.
    ScanSection fresh;
    EXPECT_EQ(fresh.passed, 1);
    EXPECT_EQ(fresh.clean, 0);
    EXPECT_EQ(fresh.errorCount, 0);
}

TEST_F(DiskContextTest, TextAreasAreCutToFitAndAlwaysTerminated) {
    std::string longPath(600, 'x');
    EXPECT_FALSE(DiskContext::copyText(disk.logFilePath, longPath));
    EXPECT_EQ(std::string(disk.logFilePath), std::string(511, 'x'));
    EXPECT_FALSE(DiskContext::copyText(disk.dataDirectory, longPath));
    EXPECT_EQ(std::string(disk.dataDirectory).size(), 255u);

    // A shorter text leaves no tail of the longer one behind.
    EXPECT_TRUE(DiskContext::copyText(disk.dataDirectory, "/home/u/Library"));
    EXPECT_STREQ(disk.dataDirectory, "/home/u/Library");
    EXPECT_EQ(disk.dataDirectory[200], '\0');
}

TEST_F(DiskContextTest, ReleasingTheContextClosesTheDevice) {
    bool closed = false;
    auto owned = std::make_unique<DiskContext>();
    initialize(*owned);
    owned->device = std::make_unique<CostedDevice>(
        clock, [](int) { return 0; }, &closed);
    deInitialize(owned);
    EXPECT_EQ(owned, nullptr);
    EXPECT_TRUE(closed);
    deInitialize(owned); // twice is harmless
}

TEST_F(DiskContextTest, CycleOfExactlyHalfASecondPassesAndJustAboveIsSlow) {
    // 10 timed reads per cycle at 50 ms: exactly 0.5 s.
    sim->setReadCost(50000);
    EXPECT_EQ(run(), kSeekTestPassed);
    EXPECT_DOUBLE_EQ(min, 0.5);
    EXPECT_DOUBLE_EQ(max, 0.5);
    EXPECT_DOUBLE_EQ(total, 12.5);
    EXPECT_DOUBLE_EQ(avg, 0.5);
    EXPECT_EQ(sim->readCount(), 25 * 11);
    EXPECT_EQ(disk.lastReadResult, 1024);

    sim->slowReads(kB, kB + 1024, 1); // one more microsecond per cycle at B
    EXPECT_EQ(run(), kSeekTestSlow);
    EXPECT_DOUBLE_EQ(max, 0.500005);
}

TEST_F(DiskContextTest, MinimumMaximumAndTotalComeFromTheRightCycles) {
    // Read n: the positioning read of cycle n / 11 is untimed and costs a lot;
    // the timed reads of cycle c cost (c + 1) ms each, except cycle 7 which
    // is slow.
    disk.device = std::make_unique<CostedDevice>(clock, [](int n) -> int64_t {
        int cycle = n / 11;
        if (n % 11 == 0) {
            return 9000000;
        }
        return cycle == 7 ? 60000 : (cycle + 1) * 1000;
    });
    EXPECT_EQ(run(), kSeekTestSlow);
    EXPECT_DOUBLE_EQ(min, 0.010);
    EXPECT_DOUBLE_EQ(max, 0.600);
    // Sum over the cycles but 7 of (c + 1) * 10 ms, plus 0.6 s.
    double expected = 0.6;
    for (int c = 0; c < 25; ++c) {
        if (c != 7) {
            expected += (c + 1) * 0.010;
        }
    }
    EXPECT_NEAR(total, expected, 1e-9);
    EXPECT_NEAR(avg, expected / 25.0, 1e-9);
}

TEST_F(DiskContextTest, FailuresStopAtOnceAndLeaveTheResultsAlone) {
    // The untimed positioning at A is never examined, so a seek failing
    // at B in the first cycle is what counts.
    sim->failSeeks(kB, kB + 1);
    EXPECT_EQ(run(), kSeekTestSeekFailed);
    EXPECT_EQ(min, -7);
    EXPECT_EQ(avg, -7);
    EXPECT_EQ(sim->readCount(), 1);

    SimulatedDevice readFailing(kSize);
    auto handle = readFailing.sharedHandle();
    disk.device = std::move(handle);
    readFailing.failReads(kB, kB + 512);
    EXPECT_EQ(run(), kSeekTestReadFailed);
    EXPECT_EQ(disk.lastReadResult, -1);
    EXPECT_EQ(max, -7);

    // A failing positioning read (the first read at A) is ignored.
    SimulatedDevice positioning(kSize);
    positioning.failReads(kA, kA + 1024, 1);
    disk.device = positioning.sharedHandle();
    EXPECT_EQ(run(), kSeekTestPassed);

    // Without a device there is nothing to seek on.
    disk.device.reset();
    EXPECT_EQ(run(), kSeekTestSeekFailed);
}

TEST_F(DiskContextTest, SeekReadSizeNeverOverrunsTheBuffer) {
    disk.seekReadSize = 8192;
    EXPECT_EQ(run(), kSeekTestPassed);
    EXPECT_GE(disk.seekBuffer.size(), 8192u);
    EXPECT_EQ(disk.lastReadResult, 8192);
}

// The simulated device stands in for every unit in the engine's tests; its
// faults must fire exactly where and as often as asked.
TEST(SimulatedDevice, FaultsFireWhereAndAsOftenAsAsked) {
    FakeClock clock(1000);
    const int64_t big = 500LL * 1000 * 1000 * 1000; // sparse: costs nothing
    SimulatedDevice dev(big, 0xAA);
    dev.setClock(&clock);
    std::vector<uint8_t> buf(8192);

    dev.setContents(65536 - 2, {1, 2, 3, 4}); // across a page boundary
    ASSERT_EQ(dev.seek(65536 - 4), 65536 - 4);
    ASSERT_EQ(dev.read(buf.data(), 8), 8);
    EXPECT_EQ(std::vector<uint8_t>(buf.begin(), buf.begin() + 8),
              (std::vector<uint8_t>{0xAA, 0xAA, 1, 2, 3, 4, 0xAA, 0xAA}));
    dev.seek(big - 512);
    EXPECT_EQ(dev.read(buf.data(), 4096), 512);
    EXPECT_EQ(dev.read(buf.data(), 4096), 0);

    dev.failReads(8192, 8193, 2); // intermittent: twice, then good
    for (int64_t expected : {-1, -1, 4096}) {
        dev.seek(4096);
        EXPECT_EQ(dev.read(buf.data(), 8192) < 0 ? -1 : 4096, expected);
    }
    dev.shortReadAt(0, 100);
    dev.seek(0);
    EXPECT_EQ(dev.read(buf.data(), 4096), 100);

    dev.stepClockBackAt(1 << 20, 300);
    dev.setReadCost(100);
    dev.seek(1 << 20);
    dev.read(buf.data(), 512);
    // The wall clock steps; the time durations are measured on goes on.
    EXPECT_EQ(clock.now(), 1000 + 100);
    EXPECT_EQ(clock.wallMicros(), 1000 + 100 - 300);

    auto engineSide = dev.sharedHandle();
    engineSide->seek(512);
    EXPECT_EQ(engineSide->write(std::vector<uint8_t>(512, 0).data(), 512), 512);
    ASSERT_EQ(dev.writeLog().size(), 1u);
    EXPECT_EQ(dev.writeLog()[0].offset, 512);
    EXPECT_EQ(dev.contents(512, 1), std::vector<uint8_t>{0});
    dev.setReadOnly(true);
    EXPECT_EQ(engineSide->write(buf.data(), 512), -1);
    EXPECT_EQ(dev.writeLog().size(), 1u);
}

} // namespace tolvarin
