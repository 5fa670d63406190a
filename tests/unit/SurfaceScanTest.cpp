#include "engine/SurfaceScan.h"
#include "engine/DiskContext.h"
#include "engine/ScanController.h"
#include "engine/SizingSweep.h"
#include "logging/Logger.h"
#include "logging/MessageCenter.h"
#include "store/DataFileSet.h"
#include "tests/support/FakeClock.h"
#include "tests/support/FakeScanHost.h"
#include "tests/support/ScriptedAnswerer.h"
#include "tests/support/SimulatedDevice.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdarg>
#include <fstream>
#include <sstream>
#include <thread>

namespace tolvarin {

namespace {

constexpr int64_t U = 262144; // one read unit
constexpr int64_t MiB = 1048576;

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string fmt(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string fmt(const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

int occurrences(const std::string& text, const std::string& piece) {
    int n = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) {
        ++n;
    }
    return n;
}

class SurfaceScanTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Logger::resetForTests();
        MessageCenter::resetForTests();
        MessageCenter::setAnswerer(answerer);
        logPath = dir.path() + "/log.txt";
        Logger::setUserLogFileNameAndPathWithString(logPath);
        controller.prepareDiskContext();
        controller.setFilePrefix("unit");
        controller.setUnitFiles(DataFileSet(dir.path(), "unit"));
        controller.setErrorLimit(1000);
        dataFile = dir.path() + "/unit.css";
    }
    void TearDown() override {
        MessageCenter::resetForTests();
        Logger::resetForTests();
    }

    DiskContext& disk() { return *controller.disk(); }

    // A unit of size bytes cut into sections of sectionSize bytes, through a
    // recorded layout as a normal scan would read it. Every read costs 1 ms.
    SimulatedDevice& unit(int64_t size, int64_t sectionSize) {
        auto device = std::make_unique<SimulatedDevice>(size);
        SimulatedDevice& ref = *device;
        ref.setClock(&clock);
        ref.setReadCost(1000);
        disk().device = std::move(device);
        disk().fd = SimulatedDevice::kDummyFd;
        disk().deviceSize = size;
        int64_t count = (size + sectionSize - 1) / sectionSize;
        std::string ssx = dir.path() + "/layout.ssx";
        std::ofstream(ssx) << "SWPSZ: " << sectionSize << "\nSWPCNT: " << count
                           << "\nLASTSZ: " << size % sectionSize - 1 << "\n";
        SizingSweep::doSweepSectorAllocationWithFile(disk(), ssx, logPath.c_str());
        std::remove(ssx.c_str());
        return ref;
    }

    bool scan(bool normal) {
        host.normalScanValue = normal;
        controller.setStopFlag(false); // as starting the scan thread does
        SurfaceScan surface(controller, host);
        surface.setStoreHooks(hooks);
        surface.setRepairHook(repair);
        return surface.doSurfaceScanTestUsingFile(normal ? dataFile : "");
    }

    // Presses Stop when the scan reports location as the one it is about to
    // read.
    void stopAt(int64_t location) {
        host.setOnCall([this, location, fired = false](const FakeScanHost::Call& call) mutable {
            if (!fired && call.name.find("SurfaceScanSpinnerLocation") != std::string::npos &&
                call.number == static_cast<double>(location)) {
                fired = true;
                controller.setStopFlag(true);
            }
        });
    }

    std::string log() const { return slurp(logPath); }
    std::vector<double> locations() const {
        return host.numbers(host.normalScanValue ? "setNormalSurfaceScanSpinnerLocation"
                                                 : "setCursorySurfaceScanSpinnerLocation");
    }

    TempDir dir;
    FakeClock clock;
    FakeScanHost host{clock};
    ScanController controller{host};
    std::shared_ptr<ScriptedAnswerer> answerer = std::make_shared<ScriptedAnswerer>();
    std::string logPath;
    std::string dataFile;
    SurfaceScan::StoreHooks hooks;
    SurfaceScan::RepairHook repair;
};

TEST_F(SurfaceScanTest, CleanCursoryScanLogsEverySectionAndTheIndices) {
    unit(3 * MiB, MiB);
    ASSERT_TRUE(scan(false));

    std::string text = log();
    EXPECT_EQ(text.find("START OF SURFACE SCAN TEST: "), 0u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_NE(text.find(fmt("Scan start - Start Byte: %lld End Byte: %lld Index: %d\n"
                                "   Scan passed - Start Byte: %lld End Byte: %lld Index: %d\n\n",
                                static_cast<long long>(i * MiB),
                                static_cast<long long>((i + 1) * MiB - 1), i,
                                static_cast<long long>(i * MiB),
                                static_cast<long long>((i + 1) * MiB - 1), i)),
                  std::string::npos);
    }
    EXPECT_NE(text.find("\nThe following subsections PASSED surface scanning tests:\n\n"
                        "   Start: 0                End: 1048575          Index: 0\n"
                        "   Start: 1048576          End: 2097151          Index: 1\n"
                        "   Start: 2097152          End: 3145727          Index: 2\n"
                        "\nThe following scan sections ***FAILED*** surface scanning tests:\n\n"
                        "   THERE WERE NO FAILURES DETECTED IN THIS TEST.\n"
                        "\n\nSurface Scan Relative Performance Indices\n\n"
                        "   Surface Scan Linear RPI: 0.004000\n"
                        "   Surface Scan Ratio RPI: 0.000000\n"
                        "\nEND OF SURFACE SCAN TEST: "),
              std::string::npos);
    EXPECT_NE(text.find(std::string(79, '-') + "\n"), std::string::npos);

    // Every read unit, in order, reported as the spinner location.
    std::vector<double> expected;
    for (int i = 0; i < 12; ++i) {
        expected.push_back(static_cast<double>(i * U));
    }
    EXPECT_EQ(locations(), expected);
    EXPECT_EQ(host.count("startCursorySurfaceScanSpinnerThread"), 1);
    EXPECT_EQ(host.count("stopCursorySurfaceScanSpinnerThread"), 1);
    EXPECT_EQ(host.lastNumber("setSurfacePercentage"), 1.0);
    EXPECT_EQ(host.count("resetButtons"), 0);
    EXPECT_EQ(controller.typeOfTest(), "Surface Scan");

    EXPECT_EQ(disk().sections[1].endPosition, 2 * MiB);
    EXPECT_EQ(disk().sections[1].endReadIndex, 4);
    EXPECT_EQ(disk().surfaceErrors + disk().surfaceIrregularities, 0);
    // A cursory scan writes nothing but the log.
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"log.txt"}));
}

TEST_F(SurfaceScanTest, ProgressLinesAndTheTenReadRefresh) {
    unit(25 * U, 25 * U);
    ASSERT_TRUE(scan(false));
    std::vector<std::string> ranges;
    for (const auto& call : host.calls()) {
        if (call.name == "setCurrentTestRangeString" && !call.text.empty() &&
            (ranges.empty() || ranges.back() != call.text)) {
            ranges.push_back(call.text);
        }
    }
    // The first line, then read steps 1, 11 and 21.
    EXPECT_EQ(ranges, (std::vector<std::string>{"Scanning from 0.000 GB to 0.003 GB",
                                                "Scanning from 0.000 GB to 0.001 GB",
                                                "Scanning from 0.003 GB to 0.004 GB",
                                                "Scanning from 0.005 GB to 0.007 GB"}));
}

// 0.6 s is still normal; a microsecond more is an irregularity, which a
// normal scan records in the data file and the diagnostics file.
TEST_F(SurfaceScanTest, IrregularityThresholdIsStrictlyAboveSixTenths) {
    SimulatedDevice& device = unit(2 * MiB, MiB);
    device.slowReads(U, U + 1, 599000);
    device.slowReads(MiB + 2 * U, MiB + 2 * U + 1, 599001);
    ASSERT_TRUE(scan(true));

    std::string text = log();
    EXPECT_NE(text.find("   Scan passed - Start Byte: 0 End Byte: 1048575 Index: 0\n\n"),
              std::string::npos);
    EXPECT_NE(text.find("   Scan Passed(I) - Start Byte: 1048576 End Byte: 2097151 Index: 1\n"
                        "   PASSING SCAN HAS IRREGULARITIES:\n"
                        "      Irregularity at byte 1572864, response time 0.600001\n\n"),
              std::string::npos);
    EXPECT_EQ(disk().surfaceIrregularities, 1);
    EXPECT_EQ(disk().totalIrregularities, 1);
    EXPECT_DOUBLE_EQ(disk().sections[0].maxTime, 0.6);
    EXPECT_EQ(disk().sections[0].clean, 1);
    EXPECT_EQ(disk().sections[1].maxTimePosition, MiB + 2 * U);

    std::string data = slurp(dataFile);
    EXPECT_NE(data.find("I:0 MN:0.001000 MX:0.600000 MXP:262144 A:0.150750 S:0.259375 "
                        "T:0.603000 O:1 E:1 OC:0 EC:0\n"),
              std::string::npos);
    EXPECT_NE(data.find("I:1 MN:0.001000 MX:0.600001 MXP:1572864 A:0.150750 S:0.259375 "
                        "T:0.603001 O:0 E:1 OC:1 EC:0\n"),
              std::string::npos);
    EXPECT_NE(data.find("\nRPISSLIN: 0.603001\nRPISSRAT: 2.778152\n\nSurface Scan Complete\n\n"
                        "END OF FILE unit.css\n"),
              std::string::npos);
    std::string diag = slurp(dir.path() + "/unit.dia");
    EXPECT_EQ(diag.find("SRTS:"), 0u);
    EXPECT_NE(diag.find("SSI:1572864:0.600001:1\n"), std::string::npos);
    EXPECT_EQ(host.count("startNormalSurfaceScanSpinnerThread"), 1);
    EXPECT_EQ(host.count("stopNormalSurfaceScanSpinnerThread"), 1);
}

TEST_F(SurfaceScanTest, AWallClockSteppedBackDuringAReadLeavesItsTimeAlone) {
    SimulatedDevice& device = unit(MiB, MiB);
    // An hour back, as an NTP step or a user setting the time does.
    device.stepClockBackAt(2 * U, 3600LL * 1000000);
    ASSERT_TRUE(scan(false));
    EXPECT_EQ(device.readCount(), 4);
    EXPECT_EQ(locations(), (std::vector<double>{0, U, 2 * U, 3 * U}));
    EXPECT_DOUBLE_EQ(disk().sections[0].minTime, 0.001);
    EXPECT_DOUBLE_EQ(disk().sections[0].maxTime, 0.001);
    EXPECT_DOUBLE_EQ(disk().sections[0].totalTime, 0.004);
    EXPECT_EQ(disk().sections[0].endReadIndex, 4);
    EXPECT_EQ(disk().surfaceIrregularities, 0);
}

TEST_F(SurfaceScanTest, AShortReadAdvancesByWhatWasRead) {
    SimulatedDevice& device = unit(MiB, MiB);
    device.shortReadAt(U, U / 2);
    ASSERT_TRUE(scan(false));
    EXPECT_EQ(locations(), (std::vector<double>{0, U, 1.5 * U, 2.5 * U, 3.5 * U}));
    EXPECT_EQ(disk().sections[0].passed, 1);
    EXPECT_EQ(disk().sections[0].endReadIndex, 5);
    EXPECT_EQ(disk().surfaceErrors, 0);
}

// A section whose first read fails: the failure lines, an N/A record and
// exactly one error for the section; the next section is scanned as usual.
TEST_F(SurfaceScanTest, AFailedSectionCountsOneErrorWithoutProbingOrRepair) {
    SimulatedDevice& device = unit(2 * MiB, MiB);
    device.failReads(0, 512);
    ASSERT_TRUE(scan(true));

    std::string text = log();
    EXPECT_NE(text.find("   SCAN FAILED - Start Byte: 0 End Byte: 1048575 Index: 0\n"
                        "   BAD DATA DETECTED BETWEEN 0 AND 262144 BYTES.\n"
                        "Scan FAILED - Start Byte: 0 End Byte: 1048575 Index: 0\n"),
              std::string::npos);
    EXPECT_NE(text.find("***FAILED*** surface scanning tests:\n\n"
                        "   Start: 0                End: 1048575          Index: 0\n"
                        "\nTHERE WERE A TOTAL OF 2 SCAN SECTIONS EVALUATED, AND 1 HAD "
                        "FAILURES.\n\n"),
              std::string::npos);
    EXPECT_EQ(disk().surfaceErrors, 1);
    EXPECT_EQ(disk().totalErrors, 1);
    EXPECT_EQ(disk().sections[0].errorCount, 1);
    EXPECT_EQ(disk().sections[0].passed, 0);
    EXPECT_EQ(disk().sections[0].endPosition, 0);
    EXPECT_EQ(disk().sections[1].passed, 1);
    EXPECT_EQ(controller.errorCount(), 1);

    std::string data = slurp(dataFile);
    EXPECT_EQ(data.find("I:0 MN:0.001000 MX:0.001000 MXP:0 A:N/A S:N/A T:0.001000 O:1 E:0 OC:0 "
                        "EC:1\nI:1 MN:0.001000"),
              0u);
    EXPECT_NE(slurp(dir.path() + "/unit.dia").find("SSE:0:0\n"), std::string::npos);
}

// The bad place a failed read names ends with its section: a 512-byte unit
// (or the short last section of any unit) has no 262,144 bytes to be bad.
TEST_F(SurfaceScanTest, TheBadPlaceOfAShortSectionEndsWithTheSection) {
    SimulatedDevice& device = unit(MiB + 512, MiB);
    device.failReads(MiB, MiB + 512);
    ASSERT_TRUE(scan(false));
    EXPECT_NE(log().find("   BAD DATA DETECTED BETWEEN 1048576 AND 1049088 BYTES.\n"),
              std::string::npos);
}

// Probes at F + 13,107,200·k while the previous probe lay inside the
// section; the failed read is the first sample, and a failed one.
TEST_F(SurfaceScanTest, ProbeSweepArithmetic) {
    constexpr int64_t kSection = 200 * U; // 52,428,800 bytes
    SimulatedDevice& device = unit(2 * kSection, kSection);
    device.failReads(0, 512);
    device.failReads(26214400, 26214400 + 512);
    host.probeIntoValue = true;
    ASSERT_TRUE(scan(true));

    std::string text = log();
    EXPECT_NE(text.find("   BAD DATA DETECTED BETWEEN 0 AND 262144 BYTES.\n"
                        "\n   ***** PROBING SCAN SECTION *****\n"
                        "   Probing sweep section at byte: 13107200\n"
                        "   Probing sweep section at byte: 26214400\n"
                        "        SCAN FAILED AT: 26214400\n"
                        "   Probing sweep section at byte: 39321600\n"
                        "   Probing sweep section at byte: 52428800\n"
                        "\n   FAILURE EVALUATION\n"
                        "   Evaluation Start: 0\n"
                        "   Evaluation End: 52428799\n"
                        "   Number of samples: 5\n"
                        "   Number of failures: 2\n"
                        "   Failure rate in this sweep section: 40.000000%\n"
                        "\n   ***** PROBING COMPLETE *****\n\n"
                        "Scan FAILED - Start Byte: 0 End Byte: 52428799 Index: 0\n"),
              std::string::npos);
    EXPECT_EQ(disk().surfaceErrors, 2);
    EXPECT_EQ(disk().totalErrors, 2);
    EXPECT_EQ(disk().sections[0].errorCount, 2);
    EXPECT_EQ(controller.errorCount(), 2);
    std::string diag = slurp(dir.path() + "/unit.dia");
    EXPECT_NE(diag.find("SSE:0:0\nSSE:26214400:0\n"), std::string::npos);
    EXPECT_NE(slurp(dataFile).find("O:1 E:0 OC:0 EC:2\n"), std::string::npos);
}

TEST_F(SurfaceScanTest, ADeadSectionNeverRatesAboveOneHundredPercent) {
    constexpr int64_t kSection = 200 * U;
    SimulatedDevice& device = unit(2 * kSection, kSection);
    device.failReads(0, kSection + U);
    host.probeIntoValue = true;
    ASSERT_TRUE(scan(false));
    std::string text = log();
    EXPECT_NE(text.find("   Number of samples: 5\n   Number of failures: 5\n"
                        "   Failure rate in this sweep section: 100.000000%\n"),
              std::string::npos);
}

// The limited scan's wording and its extra error-limit counts.
TEST_F(SurfaceScanTest, LimitedWordingAndErrorCounts) {
    constexpr int64_t kSection = 200 * U;
    SimulatedDevice& device = unit(3 * kSection, kSection);
    device.failReads(kSection, kSection + 512);
    device.failReads(kSection + 13107200, kSection + 13107200 + 512);
    host.probeIntoValue = true;
    host.attemptToRepairBadSectorsValue = false;
    SurfaceScan surface(controller, host);
    surface.beginRun("");
    ASSERT_TRUE(surface.scanSections(1, 1, SurfaceScan::Wording::Limited));
    EXPECT_EQ(surface.logSectionVerdicts(1, 1), 1);

    std::string text = log();
    EXPECT_EQ(text.find("Index: 0"), std::string::npos);
    EXPECT_NE(text.find("   BAD DATA DETECTED BETWEEN 52428800 and 52690944 BYTES.\n"
                        "\n***** PROBING SCAN SECTION *****\n"
                        "Probing sweep section at byte: 65536000\n"
                        "        SCAN FAILED AT: 65536000\n"),
              std::string::npos);
    EXPECT_NE(text.find("\nTHERE WERE A TOTAL OF 1 SCAN SECTIONS EVALUATED, AND 1 HAD "
                        "FAILURES.\n\n"),
              std::string::npos);
    // The read, the start of probing, the failed probe, the close.
    EXPECT_EQ(controller.errorCount(), 4);
    EXPECT_EQ(disk().surfaceErrors, 2);
}

TEST_F(SurfaceScanTest, RepairTakesOverTheRestOfAFailedCursorySection) {
    SimulatedDevice& device = unit(2 * MiB, MiB);
    device.failReads(U, U + 512);
    host.attemptToRepairBadSectorsValue = true;
    host.probeIntoValue = true; // repair wins over probing
    std::vector<std::pair<int, std::string>> repairs;
    repair = [&](int index, const char* log) {
        EXPECT_EQ(disk().position, U); // the failed read's place
        repairs.emplace_back(index, log);
    };
    ASSERT_TRUE(scan(false));
    EXPECT_EQ(repairs, (std::vector<std::pair<int, std::string>>{{0, logPath}}));
    EXPECT_EQ(log().find("PROBING"), std::string::npos);
    EXPECT_EQ(disk().surfaceErrors, 0); // the repair counts what it cannot mend
    EXPECT_EQ(disk().sections[0].passed, 0);

    // Without a repair to run the error is still counted.
    initialize(disk());
    unit(2 * MiB, MiB).failReads(U, U + 512);
    repair = nullptr;
    ASSERT_TRUE(scan(false));
    EXPECT_EQ(disk().surfaceErrors, 1);

    // A normal scan never repairs, whatever the flag says, and counts.
    initialize(disk());
    unit(2 * MiB, MiB).failReads(U, U + 512);
    repairs.clear();
    repair = [&](int index, const char* log) { repairs.emplace_back(index, log); };
    host.probeIntoValue = false;
    ASSERT_TRUE(scan(true));
    EXPECT_TRUE(repairs.empty());
    EXPECT_EQ(disk().surfaceErrors, 1);
}

// The end of the unit inside a section (a stored layout larger than the
// unit): the section fails there instead of reading for ever.
TEST_F(SurfaceScanTest, AReadAtTheEndOfTheUnitEndsTheSection) {
    unit(MiB, MiB);
    disk().deviceSize = MiB + MiB / 2;
    ScanSection& s = disk().sections[0];
    s.end = 2 * MiB - 1;
    ASSERT_TRUE(scan(false));
    EXPECT_NE(log().find("   BAD DATA DETECTED BETWEEN 1048576 AND 1310720 BYTES.\n"),
              std::string::npos);
    EXPECT_EQ(disk().sections[0].passed, 0);
    EXPECT_EQ(disk().sections[0].endReadIndex, 4);
}

TEST_F(SurfaceScanTest, TimeTableFitsLargeSectionsAndManyShortReads) {
    disk().deviceSize = 4 * SizingSweep::kSectionSize;
    std::string ssx = dir.path() + "/big.ssx";
    std::ofstream(ssx) << "SWPSZ: 2097152000\nSWPCNT: 2\nLASTSZ: -1\n";
    SizingSweep::doSweepSectorAllocationWithFile(disk(), ssx, logPath.c_str());
    SurfaceScan big(controller, host);
    big.beginRun("");
    EXPECT_EQ(big.timeTableSize(), 8000u);

    // 4,096 reads of 512 bytes in one section of eight read units.
    initialize(disk());
    SimulatedDevice& device = unit(8 * U, 8 * U);
    for (int64_t at = 0; at < 8 * U; at += 512) {
        device.shortReadAt(at, 512);
    }
    ASSERT_TRUE(scan(false));
    EXPECT_EQ(disk().sections[0].endReadIndex, 4096);
    EXPECT_DOUBLE_EQ(disk().sections[0].avgTime, 0.001);
    EXPECT_NEAR(disk().sections[0].stdDev, 0.0, 1e-12);
}

// --- the stop protocol -------------------------------------------------------

TEST_F(SurfaceScanTest, CursoryStopCancelledCarriesOnOtherwiseEndsWithoutFiles) {
    unit(2 * MiB, MiB);
    stopAt(MiB);
    answerer->push(6, 0);
    ASSERT_TRUE(scan(false));
    EXPECT_EQ(host.count("resumeCursoryTest"), 1);
    EXPECT_FALSE(controller.stopFlag());
    EXPECT_EQ(locations().size(), 8u);

    host.clear();
    stopAt(MiB);
    answerer->push(6, 1);
    ASSERT_FALSE(scan(false));
    EXPECT_EQ(answerer->askedNumbers(), (std::vector<int>{6, 6}));
    EXPECT_NE(log().find("\nSurface Scan Terminated by User at: "), std::string::npos);
    EXPECT_EQ(host.count("stopCursorySurfaceScanSpinnerThread"), 1);
    EXPECT_EQ(host.count("resetButtons"), 1);
    EXPECT_EQ(host.count("enableSystemItemsFromScanController"), 0);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"log.txt"}));
}

TEST_F(SurfaceScanTest, NormalStopSaveLeavesAResumableFile) {
    unit(2 * MiB, MiB);
    std::vector<std::string> deleted;
    hooks.deleteCurrentBackupFilesWithFilePrefix = [&](const std::string& p) {
        deleted.push_back(p);
    };
    stopAt(MiB);
    answerer->push(3, 1);
    ASSERT_FALSE(scan(true));
    EXPECT_EQ(deleted, std::vector<std::string>{"unit"});
    std::string data = slurp(dataFile);
    EXPECT_EQ(data.find("I:0 "), 0u);
    EXPECT_NE(data.find("EC:0\nSurface Scan Terminated by User\n\nEND OF FILE unit.css\n"),
              std::string::npos);
    EXPECT_EQ(data.find("I:1 "), std::string::npos);
    EXPECT_EQ(host.count("enableSystemItemsFromScanController"), 1);
    EXPECT_EQ(host.count("resetButtons"), 1);
    EXPECT_EQ(host.count("stopNormalSurfaceScanSpinnerThread"), 1);
}

TEST_F(SurfaceScanTest, NormalStopDontSaveRollsBackDeletesOrGoesBack) {
    struct Case {
        int second;
        const char* hook;
    };
    for (const Case& c : {Case{-1, "restore"}, Case{0, "deleteAll"}}) {
        SCOPED_TRACE(c.hook);
        initialize(disk());
        host.clear();
        unit(2 * MiB, MiB);
        std::vector<std::string> called;
        hooks.restorePreviousTestFilesWithFilePrefix = [&](const std::string& p) {
            called.push_back("restore " + p);
        };
        hooks.deleteAllFilesWithFilePrefix = [&](const std::string& p) {
            called.push_back("deleteAll " + p);
        };
        stopAt(U);
        answerer->push(3, -1);
        answerer->push(9, c.second);
        ASSERT_FALSE(scan(true));
        EXPECT_EQ(called, std::vector<std::string>{std::string(c.hook) + " unit"});
        EXPECT_EQ(host.count("enableSystemItemsFromScanController"), 1);
        EXPECT_EQ(slurp(dataFile).find("Terminated"), std::string::npos);
    }

    // "Go Back" asks the stop question again; "Cancel" then resumes.
    hooks = {};
    initialize(disk());
    host.clear();
    unit(2 * MiB, MiB);
    stopAt(U);
    answerer->push(3, -1);
    answerer->push(9, 1);
    answerer->push(3, 0);
    ASSERT_TRUE(scan(true));
    EXPECT_EQ(host.count("resumeFormalTest"), 1);
    EXPECT_EQ(answerer->askedNumbers(), (std::vector<int>{3, 9, 3, 9, 3, 9, 3}));
}

// Stopped during the probe sweep of a normal scan: the services come back on
// as after any other stop (the sequence that ran the scan ends at once).
TEST_F(SurfaceScanTest, StopDuringAProbeSweep) {
    constexpr int64_t kSection = 200 * U;
    SimulatedDevice& device = unit(kSection, kSection);
    device.failReads(0, 512);
    host.probeIntoValue = true;
    stopAt(13107200);
    answerer->push(3, 1);
    ASSERT_FALSE(scan(true));
    std::string text = log();
    EXPECT_NE(text.find("   Probing sweep section at byte: 13107200\n"), std::string::npos);
    EXPECT_EQ(text.find("   Probing sweep section at byte: 26214400\n"), std::string::npos);
    EXPECT_NE(text.find("\nSurface Scan Terminated by User at: "), std::string::npos);
    EXPECT_EQ(host.count("enableSystemItemsFromScanController"), 1);
    EXPECT_NE(slurp(dataFile).find("Surface Scan Terminated by User\n\nEND OF FILE unit.css\n"),
              std::string::npos);
}

TEST_F(SurfaceScanTest, ErrorLimitAsksAndContinueResetsTheCount) {
    SimulatedDevice& device = unit(3 * MiB, MiB);
    for (int i = 0; i < 3; ++i) {
        device.failReads(i * MiB, i * MiB + 512);
    }
    controller.setErrorLimit(1);
    answerer->push(2, 1);
    ASSERT_TRUE(scan(false));
    EXPECT_EQ(answerer->askedNumbers(), std::vector<int>{2});
    EXPECT_EQ(controller.errorCount(), 1);
    EXPECT_NE(log().find("Current error count reset to 0 by user.\n"), std::string::npos);
    EXPECT_EQ(disk().surfaceErrors, 3);

    // "Terminate" sets the stop flag; the next read asks the stop question.
    initialize(disk());
    controller.setErrorCount(0);
    SimulatedDevice& again = unit(3 * MiB, MiB);
    for (int i = 0; i < 3; ++i) {
        again.failReads(i * MiB, i * MiB + 512);
    }
    answerer->push(2, 0);
    answerer->push(6, 1);
    ASSERT_FALSE(scan(false));
    EXPECT_EQ(answerer->askedNumbers(), (std::vector<int>{2, 2, 6}));
    // Only the first run reached the third section.
    EXPECT_EQ(occurrences(log(), "SCAN FAILED - Start Byte: 2097152"), 1);
}

TEST_F(SurfaceScanTest, ANormalScanResumesAfterTheRecordedSections) {
    unit(3 * MiB, MiB);
    std::string asked;
    hooks.extractSurfaceDataFromFile = [&](const std::string& path) {
        asked = path;
        return 2;
    };
    ASSERT_TRUE(scan(true));
    EXPECT_EQ(asked, dataFile);
    std::string text = log();
    EXPECT_EQ(text.find("Index: 0\n   Scan"), std::string::npos);
    EXPECT_NE(text.find("Scan start - Start Byte: 2097152 End Byte: 3145727 Index: 2\n"),
              std::string::npos);
    EXPECT_EQ(locations().front(), static_cast<double>(2 * MiB));
    EXPECT_EQ(slurp(dataFile).find("I:2 "), 0u);
}

TEST_F(SurfaceScanTest, ARecordThatCannotBeWrittenEndsTheNormalScan) {
    // The data file cannot take section 1's record (a folder stands at its
    // name for a moment, as a full disk would refuse it): the scan ends
    // there rather than leave a gap that reads as the end of the file.
    unit(3 * MiB, MiB);
    const std::string aside = dataFile + ".aside";
    host.setOnCall([&](const FakeScanHost::Call& call) {
        if (call.name != "setNormalSurfaceScanSpinnerLocation") {
            return;
        }
        if (call.number == static_cast<double>(MiB + 768 * 1024)) {
            std::rename(dataFile.c_str(), aside.c_str());
            ::mkdir(dataFile.c_str(), 0700);
        } else if (call.number == static_cast<double>(2 * MiB)) {
            ::rmdir(dataFile.c_str());
            std::rename(aside.c_str(), dataFile.c_str());
        }
    });
    EXPECT_FALSE(scan(true));
    EXPECT_EQ(locations().back(), static_cast<double>(MiB + 768 * 1024));
    ::rmdir(dataFile.c_str());
    std::rename(aside.c_str(), dataFile.c_str());
    const std::string text = slurp(dataFile);
    EXPECT_EQ(text.find("I:0 "), 0u);
    EXPECT_EQ(text.find("I:2 "), std::string::npos);
    EXPECT_EQ(text.find("Surface Scan Complete"), std::string::npos);
}

TEST_F(SurfaceScanTest, PauseWaitsOnTheClockUntilReleased) {
    unit(MiB, MiB);
    controller.setPauseFlag(true);
    std::thread releaser([this] {
        while (clock.sleepCalls() < 3) {
            std::this_thread::yield();
        }
        controller.setPauseFlag(false);
    });
    bool finished = scan(false);
    releaser.join();
    EXPECT_TRUE(finished);
    EXPECT_GE(clock.sleptMicros(), 3 * SurfaceScan::kPauseMicros);
    EXPECT_EQ(locations().size(), 4u);
}

// --- reads in flight ----------------------------------------------------------

// A device whose queue hands every second read out before the one submitted
// ahead of it, reading through a simulated unit when it hands a read out.
class SwappingDevice : public ForwardingDevice {
  public:
    explicit SwappingDevice(std::unique_ptr<RawDevice> inner)
        : ForwardingDevice(std::move(inner)) {}

    class Queue : public ReadQueue {
      public:
        Queue(SwappingDevice& device, int depth) : device_(device), depth_(depth) {}
        ~Queue() override { device_.queue_ = nullptr; }
        int depth() const override { return depth_; }
        int inFlight() const override { return static_cast<int>(pending_.size()); }
        bool submit(uint64_t tag, int64_t offset, void* buffer, int64_t length) override {
            if (inFlight() >= depth_) {
                return false;
            }
            pending_.push_back({tag, offset, buffer, length});
            device_.mostInFlight = std::max(device_.mostInFlight, inFlight());
            return true;
        }
        bool next(Completion* c) override {
            if (pending_.empty()) {
                return false;
            }
            size_t pick = pending_.size() > 1 ? 1 : 0;
            Pending p = pending_[pick];
            pending_.erase(pending_.begin() + static_cast<long>(pick));
            c->tag = p.tag;
            c->result = device_.seek(p.offset) == -1 ? -1 : device_.read(p.buffer, p.length);
            c->error = c->result < 0 ? errno : 0;
            return true;
        }

      private:
        struct Pending {
            uint64_t tag;
            int64_t offset;
            void* buffer;
            int64_t length;
        };
        SwappingDevice& device_;
        int depth_;
        std::vector<Pending> pending_;
    };

    std::unique_ptr<ReadQueue> openReadQueue(int depth, std::string*) override {
        auto q = std::make_unique<Queue>(*this, depth);
        queue_ = q.get();
        return q;
    }
    int inFlightNow() const { return queue_ != nullptr ? queue_->inFlight() : 0; }
    int mostInFlight = 0;

  private:
    Queue* queue_ = nullptr;
};

class AskingAnswerer : public AlertAnswerer {
  public:
    std::function<int(const Alert&)> onAsk;
    int answer(const Alert& alert) override { return onAsk(alert); }
};

TEST_F(SurfaceScanTest, ReadsInFlightGiveTheLogOfOneReadAtATime) {
    // Section 1 fails at its third read, section 2 has a short read, and the
    // user stops (and resumes) in section 3; every read costs no time, so
    // the two logs must match to the byte.
    auto run = [&](int depth, SwappingDevice** queued) {
        Logger::resetForTests();
        std::string path = dir.path() + "/log" + std::to_string(depth) + ".txt";
        Logger::setUserLogFileNameAndPathWithString(path);
        logPath = path;
        SimulatedDevice& device = unit(4 * MiB, MiB);
        device.setReadCost(0);
        device.failReads(MiB + 2 * U, MiB + 2 * U + 4096);
        device.shortReadAt(2 * MiB + U, 4096);
        if (depth > 1) {
            auto swapping = std::make_unique<SwappingDevice>(std::move(disk().device));
            *queued = swapping.get();
            disk().device = std::move(swapping);
        }
        host.queueDepthValue = depth;
        host.clear();
        stopAt(3 * MiB + U);
        auto asking = std::make_shared<AskingAnswerer>();
        int inFlightWhenAsked = -1;
        asking->onAsk = [&](const Alert&) {
            inFlightWhenAsked = *queued != nullptr ? (*queued)->inFlightNow() : 0;
            return 0; // resume
        };
        MessageCenter::setAnswerer(asking);
        EXPECT_TRUE(scan(false));
        EXPECT_EQ(inFlightWhenAsked, 0) << "depth " << depth;
        return slurp(path);
    };
    SwappingDevice* none = nullptr;
    SwappingDevice* queued = nullptr;
    const std::string one = run(1, &none);
    const std::string eight = run(8, &queued);
    ASSERT_NE(queued, nullptr);
    EXPECT_GE(queued->mostInFlight, 4);
    EXPECT_NE(one.find("BAD DATA DETECTED BETWEEN " + std::to_string(MiB + 2 * U)),
              std::string::npos)
        << one;
    EXPECT_EQ(one, eight);
    EXPECT_EQ(controller.results().queueDepth, 8);

    // A device that serves one read at a time says so once and scans as
    // before.
    logPath = dir.path() + "/plain.txt";
    Logger::setUserLogFileNameAndPathWithString(logPath);
    unit(2 * MiB, MiB);
    host.queueDepthValue = 4;
    host.clear();
    ASSERT_TRUE(scan(false));
    EXPECT_EQ(occurrences(log(), "Queued reads are not available: "), 1);
    EXPECT_EQ(controller.results().queueDepth, 1);
}

TEST_F(SurfaceScanTest, APauseWithReadsInFlightWaitsWithNoneLeft) {
    auto device = std::make_unique<SimulatedDevice>(MiB);
    auto swapping = std::make_unique<SwappingDevice>(std::move(device));
    SwappingDevice& queued = *swapping;
    unit(MiB, MiB);
    disk().device = std::move(swapping);
    host.queueDepthValue = 2;
    int sleepsWithReads = 0;
    int sleeps = 0;
    clock.setSleep([&](int64_t) {
        sleepsWithReads += queued.inFlightNow() > 0 ? 1 : 0;
        if (++sleeps == 3) {
            controller.setPauseFlag(false);
        }
    });
    // Paused after the first section start: the reads in flight finish, then
    // the scan waits.
    host.setOnCall([&, fired = false](const FakeScanHost::Call& call) mutable {
        if (!fired && call.name.find("SurfaceScanSpinnerLocation") != std::string::npos &&
            call.number == static_cast<double>(U)) {
            fired = true;
            controller.setPauseFlag(true);
        }
    });
    EXPECT_TRUE(scan(false));
    EXPECT_EQ(sleeps, 3);
    EXPECT_EQ(sleepsWithReads, 0);
    EXPECT_EQ(locations().size(), 4u);
}

// --- statistics ----------------------------------------------------------------

TEST(SurfaceStatisticsTest, PopulationDeviationAndAFiniteRatio) {
    DiskContext disk;
    disk.sections.resize(2);
    disk.sectionCount = 2;
    // The failed read's time (last entry) is in the sum but not among the n.
    processStatData(disk, 0, {1000, 2000, 3000, 4000, 99999999}, 4, 1000, 4000, 10000);
    EXPECT_DOUBLE_EQ(disk.sections[0].avgTime, 0.0025);
    EXPECT_NEAR(disk.sections[0].stdDev, 0.00111803, 1e-8);
    processStatData(disk, 1, {}, 0, 5000, 5000, 5000); // no good read: no division by zero
    EXPECT_EQ(disk.sections[1].avgTime, 0.0);
    EXPECT_DOUBLE_EQ(disk.sections[1].totalTime, 0.005);

    disk.sections[0].maxTime = 0.5;
    disk.sections[1].minTime = 0.002;
    processSummaryData(disk);
    EXPECT_DOUBLE_EQ(disk.surfaceSummary[2], 0.0075);
    EXPECT_DOUBLE_EQ(disk.surfaceSummary[5], 0.001);
    EXPECT_DOUBLE_EQ(disk.surfaceSummary[6], 0.5);
    EXPECT_DOUBLE_EQ(disk.surfaceSummary[7], 500.0);
    // Readings below the clock's resolution, or no sections at all.
    disk.sections[0].minTime = 0;
    processSummaryData(disk);
    EXPECT_DOUBLE_EQ(disk.surfaceSummary[7], 500000.0);
    disk.sectionCount = 0;
    processSummaryData(disk);
    EXPECT_EQ(disk.surfaceSummary[7], 1.0);
}

} // namespace

} // namespace tolvarin
