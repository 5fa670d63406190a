#include "engine/SizingSweep.h"
#include "engine/DiskContext.h"
#include "logging/Logger.h"
#include "logging/MessageCenter.h"
#include "tests/support/ScriptedAnswerer.h"
#include "tests/support/SimulatedDevice.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <sys/fsuid.h>

#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvarin {

namespace {

constexpr int64_t G = SizingSweep::kSectionSize;
constexpr int64_t GiB = 1073741824;

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void spit(const std::string& path, const std::string& text) {
    std::ofstream out(path);
    out << text;
}

class SizingSweepTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Logger::resetForTests();
        MessageCenter::resetForTests();
        answerer = std::make_shared<ScriptedAnswerer>();
        MessageCenter::setAnswerer(answerer);
        logPath = dir.path() + "/log.txt";
        initialize(disk);
    }
    void TearDown() override { MessageCenter::resetForTests(); }

    SimulatedDevice& install(int64_t size) {
        auto device = std::make_unique<SimulatedDevice>(size);
        SimulatedDevice& ref = *device;
        disk.device = std::move(device);
        disk.fd = SimulatedDevice::kDummyFd;
        return ref;
    }
    int sweep() { return SizingSweep::doSizingSweepWithLogFile(disk, logPath.c_str()); }
    std::string log() const { return slurp(logPath); }

    TempDir dir;
    std::string logPath;
    std::shared_ptr<ScriptedAnswerer> answerer;
    DiskContext disk;
};

// The halving walk must land on the exact size whatever it is, including
// sizes one block past a stride (where a walk whose probes drift by the
// 512 bytes each read moves on comes out one block short).
TEST_F(SizingSweepTest, FindsTheExactSizeOfCleanUnits) {
    for (int64_t size : {int64_t{512}, int64_t{4096}, int64_t{1048576}, GiB, GiB + 512,
                         2 * GiB + 512, 3 * G, 3 * G + 512, int64_t{500107862016}}) {
        SCOPED_TRACE(size);
        initialize(disk);
        install(size);
        EXPECT_EQ(sweep(), 0);
        EXPECT_EQ(disk.deviceSize, size);
        EXPECT_EQ(disk.detectedSize, size);
        EXPECT_EQ(disk.sectorCount, size / 512);
        EXPECT_EQ(disk.scanUnitCount, size / 262144);
        EXPECT_EQ(disk.scanUnitRemainder, size % 262144);
        EXPECT_EQ(disk.sizingErrors, 0);
    }
    std::string text = log();
    EXPECT_NE(text.find("SIZING SCAN START\n\nSizing Scan Results:\n Detected size: 500107862016\n"
                        " Number of 512 byte sectors: 976773168\nSizing Scan Completed Normally.\n"
                        "\nSIZING SCAN END\n\n" +
                        std::string(79, '-') + "\n\n"),
              std::string::npos);
}

TEST_F(SizingSweepTest, AnImageWithATornLastBlockCountsWholeBlocksOnly) {
    install(5 * 512 + 100);
    EXPECT_EQ(sweep(), 0);
    EXPECT_EQ(disk.deviceSize, 5 * 512);
}

// Devices that answer reads past their end with an error instead of
// end-of-file: the end is where the system says it is, not a bad place.
TEST_F(SizingSweepTest, ErrorsPastTheReportedEndMarkTheEnd) {
    SimulatedDevice& device = install(3 * G);
    device.failReads(3 * G, int64_t{1} << 52);
    EXPECT_EQ(sweep(), 0);
    EXPECT_EQ(disk.deviceSize, 3 * G);
    EXPECT_EQ(disk.sizingErrors, 0);
    EXPECT_EQ(log().find("ERROR"), std::string::npos);
}

TEST_F(SizingSweepTest, TheCoarseWalkStopsALittleBeyondTheReportedSize) {
    // Answers every read up to 100 GiB but reports 2 GiB: the walk must not
    // wander far past what the system reports.
    SimulatedDevice& device = install(100 * GiB);
    device.setReportedSize(2 * GiB);
    EXPECT_EQ(sweep(), 0);
    EXPECT_LE(disk.deviceSize, 3 * GiB + 512);
    EXPECT_GE(disk.deviceSize, 2 * GiB);
    EXPECT_LT(device.readCount(), 64);
}

TEST_F(SizingSweepTest, ResultCodesAddUpTheFailedParts) {
    struct Case {
        const char* name;
        bool start, middle, end;
        int code;
        int message;
    };
    for (const Case& c :
         {Case{"start", true, false, false, -2, 1001}, Case{"middle", false, true, false, -4, 1002},
          Case{"start+middle", true, true, false, -6, 1003},
          Case{"end", false, false, true, -8, 1004}, Case{"all", true, true, true, -14, 1007}}) {
        SCOPED_TRACE(c.name);
        initialize(disk);
        SimulatedDevice& device = install(3 * GiB);
        if (c.start) {
            device.failReads(0, 512);
        }
        if (c.middle) {
            device.failReads(GiB, GiB + 512);
        }
        if (c.end) {
            // Read by the last refinement walk only.
            device.failReads(3 * GiB - 512, 3 * GiB);
        }
        int code = sweep();
        EXPECT_EQ(code, c.code);
        EXPECT_EQ(SizingSweep::messageNumberForResult(code), c.message);
        EXPECT_EQ(disk.sizingErrors, int{c.start} + int{c.middle} + int{c.end});
    }
    std::string text = log();
    EXPECT_NE(text.find("SIZING SCAN CRITICAL ERROR: Could not access byte 0 of unit.\n"),
              std::string::npos);
    EXPECT_NE(text.find("SIZING SCAN ERROR: Could not read bytes a 1073741824\n"),
              std::string::npos);
    EXPECT_NE(text.find("SIZING SCAN CRITICAL ERROR: Could not properly access final bytes of "
                        "unit.\n"),
              std::string::npos);
    EXPECT_NE(text.find("WARNING: SIZING SCAN COMPLETED WITH ERRORS, DATA MAY BE UNRELIABLE.\n\n"),
              std::string::npos);
}

// A unit that answers every read with an error: the sweep gives up after a
// few probes (each may take seconds on a failing disk) with -1 and message
// 1000, and its log stays short. Its words come after its start line.
TEST_F(SizingSweepTest, AUnitThatCannotBeReadIsGivenUpAfterAFewProbes) {
    for (int64_t size : {GiB, 100 * GiB, int64_t{1} << 40}) {
        SCOPED_TRACE(size);
        initialize(disk);
        SimulatedDevice& device = install(size);
        device.failReads(0, size);
        EXPECT_EQ(sweep(), SizingSweep::kOpenFailed);
        EXPECT_EQ(SizingSweep::messageNumberForResult(SizingSweep::kOpenFailed), 1000);
        EXPECT_LE(device.readCount(), 20);
    }
    std::string text = log();
    EXPECT_LT(text.size(), 4000u);
    size_t start = text.find("SIZING SCAN START\n");
    size_t byte0 = text.find("SIZING SCAN CRITICAL ERROR: Could not access byte 0 of unit.\n");
    ASSERT_NE(start, std::string::npos);
    ASSERT_NE(byte0, std::string::npos);
    EXPECT_LT(start, byte0);
    EXPECT_NE(text.find("No part of the unit could be read"), std::string::npos);
    EXPECT_NE(text.find("SIZING SCAN ABORTING TEST!"), std::string::npos);
    EXPECT_EQ(text.find("Detected size"), std::string::npos);
}

// A unit whose last stretch cannot be read: each refinement walk leaves off
// after a few failures in a row, and the size ends before the stretch.
TEST_F(SizingSweepTest, AnUnreadableTailBoundsEachRefinementWalk) {
    SimulatedDevice& device = install(GiB);
    device.failReads(GiB / 2, GiB);
    EXPECT_EQ(sweep(), SizingSweep::kEndFailed);
    EXPECT_EQ(disk.deviceSize, GiB / 2);
    EXPECT_LT(device.readCount(), 200);
    // The repeated line is written a few times, then counted.
    Logger::flushRepeatedLines();
    std::string text = log();
    size_t lines = 0;
    for (size_t at = text.find("final bytes"); at != std::string::npos;
         at = text.find("final bytes", at + 1)) {
        ++lines;
    }
    EXPECT_EQ(lines, 3u);
    EXPECT_NE(text.find("more times)"), std::string::npos);
}

TEST_F(SizingSweepTest, TheUserDecidesOnErrorsButNeverAfterMessage1000) {
    answerer->push(1000, 1);
    answerer->push(1003, 0);
    answerer->push(1003, 1);
    EXPECT_TRUE(SizingSweep::confirmSizingResult(0));
    EXPECT_FALSE(SizingSweep::confirmSizingResult(-1));
    EXPECT_FALSE(SizingSweep::confirmSizingResult(-6));
    EXPECT_TRUE(SizingSweep::confirmSizingResult(-6));
    EXPECT_EQ(answerer->askedNumbers(), (std::vector<int>{1000, 1003, 1003}));
}

// What a user may name as the unit: none of these is a unit to test, each
// gives -1 with the two abort lines and writes nothing else.
TEST_F(SizingSweepTest, UnitsThatCannotBeOpenedOrHoldNothingGiveMinusOne) {
    std::string empty = dir.path() + "/empty.img";
    spit(empty, "");
    std::string folder = dir.path() + "/folder";
    ::mkdir(folder.c_str(), 0755);
    for (const std::string& path : {dir.path() + "/missing", folder, empty}) {
        SCOPED_TRACE(path);
        initialize(disk);
        disk.setRawDevicePath(path);
        EXPECT_EQ(sweep(), SizingSweep::kOpenFailed);
        EXPECT_EQ(disk.sizingErrors, 1);
        EXPECT_EQ(disk.deviceSize, 0);
    }
    std::string text = log();
    EXPECT_NE(text.find("SIZING SCAN CRITICAL ERROR: Could not open device for reading.\n\n"),
              std::string::npos);
    EXPECT_NE(text.find("SIZING SCAN ABORTING TEST!\n\n"), std::string::npos);
    EXPECT_NE(text.find("no readable 512-byte block"), std::string::npos);
    EXPECT_EQ(text.find("Detected size"), std::string::npos);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"empty.img", "folder", "log.txt"}));
}

TEST_F(SizingSweepTest, AnUnreadableImageGivesMinusOne) {
    std::string path = dir.path() + "/locked.img";
    spit(path, std::string(4096, 'x'));
    ::chmod(path.c_str(), 0);
    disk.setRawDevicePath(path);
    // Root reads files whatever their mode; as another file-system user this
    // thread loses that right until the guard gives it back.
    struct FsUser {
        uid_t old = static_cast<uid_t>(::setfsuid(::geteuid() == 0 ? 65534 : ::geteuid()));
        ~FsUser() { ::setfsuid(old); }
    } asNobody;
    EXPECT_EQ(sweep(), SizingSweep::kOpenFailed);
}

TEST_F(SizingSweepTest, SizesARealImageThroughThePosixDevice) {
    std::string path = dir.path() + "/unit.img";
    spit(path, std::string(3 * 512 * 1024 + 512, '\0'));
    disk.setRawDevicePath(path);
    EXPECT_EQ(sweep(), 0);
    EXPECT_EQ(disk.deviceSize, 3 * 512 * 1024 + 512);
    ASSERT_NE(disk.device, nullptr);
    EXPECT_GT(disk.fd, 0);
}

// --- sector allocation -------------------------------------------------------

class SectorAllocationTest : public SizingSweepTest {
  protected:
    void allocate(const std::string& ssx) {
        SizingSweep::doSweepSectorAllocationWithFile(disk, ssx, logPath.c_str());
    }
    std::string writeSsx(const std::string& body) {
        std::string path = dir.path() + "/unit.ssx";
        spit(path, "***** IMPORTANT: DO NOT EDIT, RENAME, OR DELETE THIS FILE!!!! *****\n\n" +
                       body + "\nEND OF FILE unit.ssx\n");
        return path;
    }
};

TEST_F(SectorAllocationTest, FreshLayouts) {
    struct Case {
        int64_t size;
        int count;
        int64_t lastEnd;
    };
    for (const Case& c : {Case{3 * G, 3, 3 * G - 1}, Case{3 * G + 512, 4, 3 * G + 511},
                          Case{G - 512, 1, G - 513}}) {
        SCOPED_TRACE(c.size);
        disk.deviceSize = c.size;
        allocate("");
        ASSERT_EQ(disk.sectionCount, c.count);
        ASSERT_EQ(disk.sections.size(), static_cast<size_t>(c.count));
        const ScanSection& last = disk.sections.back();
        EXPECT_EQ(last.start, (c.count - 1) * G);
        EXPECT_EQ(last.end, c.lastEnd);
        EXPECT_EQ(last.index, c.count - 1);
        EXPECT_EQ(last.count, c.count);
        EXPECT_EQ(last.passed, 1);
        EXPECT_EQ(disk.sections.front().end, std::min(G, c.size) - 1);
    }
}

TEST_F(SectorAllocationTest, RecordedLayoutsAndTheirLastSize) {
    // LASTSZ stores the size minus one: 0 is a one-byte section, -1 a full one.
    disk.deviceSize = 3 * G + 1;
    allocate(writeSsx("SWPSZ: 1048576000\nSWPCNT: 4\nLASTSZ: 0\n"));
    ASSERT_EQ(disk.sectionCount, 4);
    EXPECT_EQ(disk.sections[3].start, 3 * G);
    EXPECT_EQ(disk.sections[3].end, 3 * G);

    disk.deviceSize = 3 * G;
    allocate(writeSsx("SWPSZ: 1048576000\nSWPCNT: 3\nLASTSZ: -1\n"));
    ASSERT_EQ(disk.sectionCount, 3);
    EXPECT_EQ(disk.sections[2].end, 3 * G - 1);

    // A unit recorded with other sections keeps them.
    disk.deviceSize = 10 * 1048576;
    allocate(writeSsx("SWPSZ: 4194304\nSWPCNT: 3\nLASTSZ: 2097151\n"));
    ASSERT_EQ(disk.sectionCount, 3);
    EXPECT_EQ(disk.sections[1].start, 4194304);
    EXPECT_EQ(disk.sections[2].end, 10 * 1048576 - 1);
    EXPECT_EQ(log().find("SECTOR ALLOCATION"), std::string::npos);
}

TEST_F(SectorAllocationTest, UnusableFilesFallBackToTheFreshLayoutWithALogLine) {
    disk.deviceSize = 2 * G + 512;
    for (const std::string& body :
         {std::string("SWPSZ: 1048576000\nLASTSZ: 511\n"),        // no count
          std::string("SWPSZ: 1048576000\nSWPCNT: many\n"),       // not a number
          std::string("SWPSZ: 1048576000\nSWPCNT: 2000000000\n"), // far beyond the unit
          std::string("SWPSZ: 0\nSWPCNT: 3\n"),                   // no size
          std::string("SWPSZ: 1000\nSWPCNT: 3\n"),                // not whole sectors
          std::string("SWPSZ: 1048576000\nSWPCNT: 3\nLASTSZ: 2000000000\n")}) {
        SCOPED_TRACE(body);
        allocate(writeSsx(body));
        EXPECT_EQ(disk.sectionCount, 3);
        EXPECT_EQ(disk.sectionSize, G);
        EXPECT_EQ(disk.sections.back().end, 2 * G + 511);
    }
    allocate(dir.path() + "/missing.ssx");
    EXPECT_EQ(disk.sectionCount, 3);
    std::string text = log();
    EXPECT_NE(text.find("SECTOR ALLOCATION WARNING: Could not use the section layout of " +
                        dir.path() + "/missing.ssx"),
              std::string::npos);
    EXPECT_NE(text.find("no usable SWPCNT: line"), std::string::npos);
}

} // namespace

} // namespace tolvarin
