#include "report/ReportGenerator.h"

#include "base/TestResults.h"
#include "engine/DiskContext.h"
#include "engine/SurfaceScan.h"
#include "logging/Logger.h"
#include "platform/SafeFile.h"
#include "tests/support/FakeClock.h"
#include "tests/support/FakeEnv.h"
#include "tests/support/TempDir.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <limits>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvarin {

namespace {

const std::string kResources = std::string(TOLVARIN_TEST_DATA) + "/../../resources";

using Keys = std::pair<std::string_view, std::string_view>;

std::map<std::string, std::string> valueMap(const ReportGenerator::Inputs& in) {
    std::map<std::string, std::string> m;
    for (const auto& [name, value] : ReportGenerator::placeholderValues(in)) {
        m[name] = value;
    }
    return m;
}

ReportGenerator::Inputs initialScan(double ssLin = 20.0, double ssRat = 1.0, double skLin = 5.0,
                                    double skRat = 1.0) {
    ReportGenerator::Inputs in;
    in.isInitialScan = true;
    in.initialRPISSLIN = ssLin;
    in.initialRPISSRAT = ssRat;
    in.initialRPISKLIN = skLin;
    in.initialRPISKRAT = skRat;
    // Current values left over from an earlier test must not show.
    in.currentRPISSLIN = 99;
    in.currentRPISSRAT = 99;
    in.currentRPISKLIN = 99;
    in.currentRPISKRAT = 99;
    return in;
}

ReportGenerator::Inputs comparative(double iLin, double cLin, double iRat, double cRat) {
    ReportGenerator::Inputs in;
    in.isInitialScan = false;
    in.initialRPISSLIN = in.initialRPISKLIN = iLin;
    in.currentRPISSLIN = in.currentRPISKLIN = cLin;
    in.initialRPISSRAT = in.initialRPISKRAT = iRat;
    in.currentRPISSRAT = in.currentRPISKRAT = cRat;
    return in;
}

// A finished test: its results, and the logger's description of the unit,
// the way the normal sequence leaves them.
TestResults setFinishedTest(bool initial, int surfaceErrors, int surfaceOddities, int seekErrors,
                            int seekOddities) {
    Logger::setTypeOfTest("Normal");
    Logger::setVolumeOrDiskID("500.1 GB Primary Disk, Current ID: sdb");
    Logger::setSmartStatus("Verified");
    Logger::setSizingScanStatus("PASSED");
    TestResults r;
    r.normal = true;
    r.completed = true;
    r.sizingErrors = 0;
    r.surfaceErrors = surfaceErrors;
    r.surfaceIrregularities = surfaceOddities;
    r.seekErrors = seekErrors;
    r.seekIrregularities = seekOddities;
    r.totalErrors = surfaceErrors + seekErrors;
    r.totalIrregularities = surfaceOddities + seekOddities;
    r.initialScan = initial;
    r.initialRPIs = {21.337, 1.25, 6.5, 1.75};
    if (!initial) {
        r.currentRPIs = TestResults::StoredIndices{23.5, 2.6, 6.4, 1.8};
    }
    return r;
}

class ReportFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Logger::resetForTests();
        Logger::setClock(clock);
        Logger::initWithUserDir(home.path());
        ASSERT_TRUE(SafeFile::makeDirectories(Logger::documentDir()));
        logPath = home.path() + "/test-log.txt";
        Logger::setUserLogFileNameAndPathWithString(logPath);
    }
    void TearDown() override { Logger::resetForTests(); }

    std::string logText() { return SafeFile::read(logPath).value_or(""); }

    TestResults results;

    TempDir home;
    std::string logPath;
    FakeClock clock;
    FakeEnv env{clock};
    ScopedEnv resources{"TOLVARIN_RESOURCES", kResources};
};

} // namespace

// --- the placeholder table ---------------------------------------------------------

TEST(ReportPlaceholders, AnInitialScanShowsItsOwnIndicesAsCurrent) {
    ReportGenerator::Inputs in = initialScan(21.5, 1.25, 6.0, 0.5);
    in.totalOddities = 3;
    in.surfaceOddities = 2;
    in.seekOddities = 1;
    in.sizingScanErrors = 0;
    in.typeOfTest = "Normal";
    in.volumeOrDiskID = "500.1 GB Primary Disk, Current ID: sdb";
    in.sizingScanStatus = "PASSED";
    in.surfaceScanStatus = "PASSED WITH IRREGULARITIES";
    in.seekScanStatus = "PASSED WITH IRREGULARITIES";
    in.smartStatus = "Verified";
    in.dateOfCompletion = "18:35:54, Sun. Dec.  6, 2026";

    auto values = ReportGenerator::placeholderValues(in);
    ASSERT_EQ(values.size(), 26u);
    EXPECT_EQ(values.front().first, "<TESTRESULTS>");
    EXPECT_EQ(values.back().first, "<RESULTS5>");

    auto m = valueMap(in);
    EXPECT_EQ(m["<TESTRESULTS>"], "PASSED WITH IRREGULARITIES");
    EXPECT_EQ(m["<DATEOFCOMPLETION>"], in.dateOfCompletion);
    EXPECT_EQ(m["<TYPEOFTEST>"], "Normal");
    EXPECT_EQ(m["<VOLUMEORPRIMARY>"], in.volumeOrDiskID);
    EXPECT_EQ(m["<SMARTSTATUS>"], "Verified");
    EXPECT_EQ(m["<SURFACESCANIRREG>"], "2");
    EXPECT_EQ(m["<SEEKSCANIRREG>"], "1");
    EXPECT_EQ(m["<SEEKSCANERRORS>"], "0");
    EXPECT_EQ(m["<ISURFACESCANLINEARRPI>"], "21.500000");
    EXPECT_EQ(m["<CSURFACESCANLINEARRPI>"], "21.500000");
    EXPECT_EQ(m["<CSURFACESCANRATIORPI>"], m["<ISURFACESCANRATIORPI>"]);
    EXPECT_EQ(m["<CSEEKSCANLINEARRPI>"], "6.000000");
    EXPECT_EQ(m["<CSEEKSCANRATIORPI>"], "0.500000");
    EXPECT_EQ(m["<RESULTS1>"], ReportGenerator::paragraph("A1"));
    EXPECT_EQ(m["<RESULTS2>"], ReportGenerator::paragraph("B1"));
    EXPECT_EQ(m["<RESULTS5>"], ReportGenerator::paragraph("R2"));
}

TEST(ReportPlaceholders, AComparativeScanShowsBothSetsAndTheCounts) {
    ReportGenerator::Inputs in = comparative(20.0, 21.2, 1.0, 2.6);
    in.totalErrors = 1;
    in.surfaceErrors = 1;
    in.sizingScanErrors = 4;

    auto m = valueMap(in);
    EXPECT_EQ(m["<TESTRESULTS>"], "FAILED");
    EXPECT_EQ(m["<SIZINGSCANERRORS>"], "4");
    EXPECT_EQ(m["<SURFACESCANERRORS>"], "1");
    EXPECT_EQ(m["<ISURFACESCANLINEARRPI>"], "20.000000");
    EXPECT_EQ(m["<CSURFACESCANLINEARRPI>"], "21.200000");
    EXPECT_EQ(m["<CSEEKSCANRATIORPI>"], "2.600000");
    EXPECT_EQ(m["<RESULTS1>"], ReportGenerator::paragraph("A2"));
    EXPECT_EQ(m["<RESULTS2>"], ReportGenerator::paragraph("B2"));
    EXPECT_EQ(m["<RESULTS3>"], ReportGenerator::joinParagraphs(ReportGenerator::paragraph("C9"),
                                                               ReportGenerator::paragraph("C12")));
    EXPECT_EQ(m["<RESULTS4>"], ReportGenerator::joinParagraphs(ReportGenerator::paragraph("D2"),
                                                               ReportGenerator::paragraph("D5")));
    EXPECT_EQ(m["<RESULTS5>"], ReportGenerator::paragraph("R1"));
}

TEST(ReportPlaceholders, ResultWordsAndUnmeasuredIndices) {
    EXPECT_EQ(ReportGenerator::resultWord(0, 0), "PASSED");
    EXPECT_EQ(ReportGenerator::resultWord(0, 3), "PASSED WITH IRREGULARITIES");
    EXPECT_EQ(ReportGenerator::resultWord(1, 0), "FAILED");
    EXPECT_EQ(ReportGenerator::resultWord(1, 5), "FAILED");

    EXPECT_EQ(ReportGenerator::formatIndex(0), "0.000000");
    EXPECT_EQ(ReportGenerator::formatIndex(2.55), "2.550000");
    EXPECT_EQ(ReportGenerator::formatIndex(9.999e99), "N/A");
    EXPECT_EQ(ReportGenerator::formatIndex(std::numeric_limits<double>::infinity()), "N/A");
    EXPECT_EQ(ReportGenerator::formatIndex(-std::numeric_limits<double>::infinity()), "N/A");
    EXPECT_EQ(ReportGenerator::formatIndex(std::nan("")), "N/A");
}

// --- the verdicts ----------------------------------------------------------------

TEST(ReportVerdicts, InitialSurfaceLimitsAreStrict) {
    struct Case {
        int errors;
        double linear, ratio;
        Keys expected;
    };
    const Case cases[] = {
        {0, 54.999, 2.549, {"S1", "S3"}}, {0, 55.0, 2.55, {"S2", "S4"}},
        {1, 49.999, 2.549, {"S5", "S7"}}, {1, 50.0, 2.55, {"S6", "S8"}},
        {3, 54.0, 0.0, {"S6", "S7"}}, // a failed scan has the lower limit
    };
    for (const Case& c : cases) {
        ReportGenerator::Inputs in = initialScan(c.linear, c.ratio);
        in.surfaceErrors = c.errors;
        EXPECT_EQ(ReportGenerator::surfaceVerdictKeys(in), c.expected)
            << c.errors << " " << c.linear << " " << c.ratio;
    }
}

TEST(ReportVerdicts, InitialSeekLimitsIncludeTheBoundary) {
    struct Case {
        int errors;
        double linear, ratio;
        Keys expected;
    };
    const Case cases[] = {
        {0, 8.0, 2.55, {"K1", "K3"}},
        {0, 8.000001, 2.550001, {"K2", "K4"}},
        {2, 8.0, 2.55, {"K5", "K7"}},
        {2, 8.000001, 2.550001, {"K6", "K8"}},
    };
    for (const Case& c : cases) {
        ReportGenerator::Inputs in = initialScan(20, 1, c.linear, c.ratio);
        in.seekErrors = c.errors;
        EXPECT_EQ(ReportGenerator::seekVerdictKeys(in), c.expected)
            << c.errors << " " << c.linear << " " << c.ratio;
    }
}

TEST(ReportVerdicts, ComparativeVerdictsFollowTheComparisons) {
    struct Case {
        double iLin, cLin, iRat, cRat;
        const char* passed[4]; // surface linear, surface ratio, seek linear, seek ratio
        const char* failed[4];
    };
    const Case cases[] = {
        // 1.05 and 0.95 of the baseline still count as unchanged.
        {20.0, 21.0, 2.55, 2.55, {"C1", "C4", "D1", "D4"}, {"C8", "C11", "D8", "D11"}},
        {20.0, 19.0, 2.50, 2.60, {"C1", "C5", "D1", "D5"}, {"C8", "C12", "D8", "D12"}},
        {20.0, 21.2, 2.60, 2.50, {"C2", "C6", "D2", "D6"}, {"C9", "C13", "D9", "D13"}},
        {20.0, 18.9, 2.60, 2.60, {"C3", "C7", "D3", "D7"}, {"C10", "C14", "D10", "D14"}},
    };
    for (const Case& c : cases) {
        ReportGenerator::Inputs in = comparative(c.iLin, c.cLin, c.iRat, c.cRat);
        EXPECT_EQ(ReportGenerator::surfaceVerdictKeys(in), Keys(c.passed[0], c.passed[1]));
        EXPECT_EQ(ReportGenerator::seekVerdictKeys(in), Keys(c.passed[2], c.passed[3]));
        in.surfaceErrors = 1;
        in.seekErrors = 1;
        EXPECT_EQ(ReportGenerator::surfaceVerdictKeys(in), Keys(c.failed[0], c.failed[1]));
        EXPECT_EQ(ReportGenerator::seekVerdictKeys(in), Keys(c.failed[2], c.failed[3]));
    }
}

TEST(ReportVerdicts, AZeroBaselineIndexComparesWithoutDividingByZero) {
    // Nothing to divide by: equal zeros are unchanged, anything above is
    // slower than the baseline. The report still prints plain numbers.
    ReportGenerator::Inputs same = comparative(0.0, 0.0, 0.0, 0.0);
    EXPECT_EQ(ReportGenerator::surfaceVerdictKeys(same), Keys("C1", "C4"));
    ReportGenerator::Inputs slower = comparative(0.0, 3.0, 0.0, 0.0);
    EXPECT_EQ(ReportGenerator::surfaceVerdictKeys(slower), Keys("C2", "C4"));
    EXPECT_EQ(ReportGenerator::seekVerdictKeys(slower), Keys("D2", "D4"));
    for (const auto& [name, value] : ReportGenerator::placeholderValues(slower)) {
        EXPECT_EQ(value.find("inf"), std::string::npos) << name;
        EXPECT_EQ(value.find("nan"), std::string::npos) << name;
    }
}

TEST(ReportVerdicts, EveryVerdictHasItsTextAndParagraphsJoinCleanly) {
    for (const char* key :
         {"A1", "A2", "B1", "B2", "R1", "R2", "S1", "S8", "C1", "C14", "K1", "K8", "D1", "D14"}) {
        EXPECT_FALSE(ReportGenerator::paragraph(key).empty()) << key;
    }
    EXPECT_TRUE(ReportGenerator::paragraph("S9").empty());
    EXPECT_NE(ReportGenerator::paragraph("S5").find("\"Zero Out Data\""), std::string::npos);

    // S2 ends without the blank the others carry: the join supplies it.
    std::string joined = ReportGenerator::joinParagraphs(ReportGenerator::paragraph("S2"),
                                                         ReportGenerator::paragraph("S3"));
    EXPECT_NE(joined.find("improperly. The initial surface scan ratio"), std::string::npos);
    std::string plain = ReportGenerator::joinParagraphs(ReportGenerator::paragraph("S1"),
                                                        ReportGenerator::paragraph("S3"));
    EXPECT_EQ(plain, std::string(ReportGenerator::paragraph("S1")) +
                         std::string(ReportGenerator::paragraph("S3")));
}

// --- rich text -------------------------------------------------------------------

TEST(ReportRichText, TextIsEscapedForRichText) {
    EXPECT_EQ(ReportGenerator::escapeRtf("a\\b{c}d"), "a\\\\b\\{c\\}d");
    EXPECT_EQ(ReportGenerator::escapeRtf("line1\nline2\tx\x01\x7f"), "line1\\line line2\\tab x");
    EXPECT_EQ(ReportGenerator::escapeRtf("Donn\xc3\xa9"
                                         "es \xe2\x82\xac"),
              "Donn\\u233?es \\u8364?");
    // Above 32767 the number is negative; beyond the first plane, two units.
    EXPECT_EQ(ReportGenerator::escapeRtf("\xef\xa3\xbf"), "\\u-1793?");
    EXPECT_EQ(ReportGenerator::escapeRtf("\xf0\x9f\x98\x80"), "\\u-10179?\\u-8704?");
    // Bytes that are not UTF-8 (a stray byte, a cut sequence, an overlong
    // form, an encoded surrogate) become the replacement character.
    EXPECT_EQ(ReportGenerator::escapeRtf("a\xff"
                                         "b"),
              "a\\u-3?b");
    EXPECT_EQ(ReportGenerator::escapeRtf("x\xc3"), "x\\u-3?");
    EXPECT_EQ(ReportGenerator::escapeRtf("\xc0\xaf"), "\\u-3?\\u-3?");
    EXPECT_EQ(ReportGenerator::escapeRtf("\xed\xa0\x80"), "\\u-3?\\u-3?\\u-3?");
}

TEST(ReportRichText, EveryPlaceholderIsFilledOnceAndValuesAreNotReread) {
    std::vector<std::pair<std::string, std::string>> values = {
        {"<TYPEOFTEST>", "Normal"},
        {"<VOLUMEORPRIMARY>", "Volume Named: {odd} <TYPEOFTEST>"},
        {"<SMARTSTATUS>", "Verified"},
    };
    std::string text = "{\\rtf1\n<VOLUMEORPRIMARY>\n\\par <TYPEOFTEST> and <SMARTSTATUS>\n"
                       "<UNKNOWN> <TYPEOFTEST\n}";
    EXPECT_EQ(ReportGenerator::fillTemplate(text, values),
              "{\\rtf1\nVolume Named: \\{odd\\} <TYPEOFTEST>\n\\par Normal and Verified\n"
              "<UNKNOWN> <TYPEOFTEST\n}");
}

TEST(ReportRichText, TheTemplateCarriesEveryPlaceholderOnALineOfItsOwn) {
    std::optional<std::string> text = SafeFile::read(kResources + "/ResultsTemplate.rtf");
    ASSERT_TRUE(text.has_value());
    ASSERT_EQ(text->rfind("{\\rtf1", 0), 0u);
    for (const auto& [name, value] : ReportGenerator::placeholderValues({})) {
        EXPECT_NE(text->find("\n" + name + "\n"), std::string::npos) << name;
    }
    // Groups balance and close at the end, so readers see one document.
    int depth = 0;
    for (size_t i = 0; i < text->size(); ++i) {
        char c = (*text)[i];
        if (c == '\\') {
            ++i;
        } else if (c == '{') {
            ++depth;
        } else if (c == '}') {
            --depth;
            ASSERT_GE(depth, 0);
            if (depth == 0) {
                EXPECT_EQ(text->find_first_not_of("\r\n", i + 1), std::string::npos);
            }
        }
    }
    EXPECT_EQ(depth, 0);
}

// --- the section statistics and the scan summary -----------------------------------

TEST(ReportStatistics, SectionStatisticsAtTheirBoundaries) {
    DiskContext disk;
    disk.sections.resize(1);
    const ScanSection& s = disk.sections[0];

    // Four reads of 1, 2, 3 and 6 ms: the population deviation.
    processStatData(disk, 0, {1000, 2000, 3000, 6000}, 4, 1000, 6000, 12000);
    EXPECT_DOUBLE_EQ(s.minTime, 0.001);
    EXPECT_DOUBLE_EQ(s.maxTime, 0.006);
    EXPECT_DOUBLE_EQ(s.totalTime, 0.012);
    EXPECT_DOUBLE_EQ(s.avgTime, 0.003);
    EXPECT_NEAR(s.stdDev, std::sqrt(14e-6 / 4), 1e-12);
    EXPECT_NEAR(s.stdDev, 0.001871, 1e-6);

    // One read: its own mean, no spread.
    processStatData(disk, 0, {250000}, 1, 250000, 250000, 250000);
    EXPECT_DOUBLE_EQ(s.avgTime, 0.25);
    EXPECT_EQ(s.stdDev, 0.0);

    // A count beyond the times given reads only the times there are.
    processStatData(disk, 0, {2000, 2000}, 5, 2000, 2000, 4000);
    EXPECT_TRUE(std::isfinite(s.avgTime));
    EXPECT_TRUE(std::isfinite(s.stdDev));
}

TEST(ReportStatistics, SummaryOverSectionsInAnyOrder) {
    DiskContext disk;
    disk.sections.resize(4);
    disk.sectionCount = 3; // the fourth record is outside the unit
    const double mn[] = {0.004, 0.003, 0.002, 0.0001};
    const double mx[] = {0.9, 0.01, 0.02, 50.0};
    const double total[] = {3.0, 4.0, 5.0, 100.0};
    for (int i = 0; i < 4; ++i) {
        disk.sections[i].minTime = mn[i];
        disk.sections[i].maxTime = mx[i];
        disk.sections[i].totalTime = total[i];
        disk.sections[i].avgTime = total[i] / 100;
        disk.sections[i].stdDev = 0.001 * (i + 1);
    }
    processSummaryData(disk);
    const auto& sum = disk.surfaceSummary;
    EXPECT_NEAR(sum[0], 0.003, 1e-12); // mean MN
    EXPECT_NEAR(sum[1], 0.31, 1e-12);  // mean MX
    EXPECT_NEAR(sum[2], 4.0, 1e-12);   // mean T, the linear index
    EXPECT_NEAR(sum[3], 0.04, 1e-12);  // mean A
    EXPECT_NEAR(sum[4], 0.002, 1e-12); // mean S
    EXPECT_EQ(sum[5], 0.002);          // smallest MN, in the last record counted
    EXPECT_EQ(sum[6], 0.9);            // largest MX, in the first
    EXPECT_NEAR(sum[7], 450.0, 1e-9);
    EXPECT_NEAR(std::log10(sum[7]), 2.653213, 1e-6); // the ratio index

    // One section whose reads all took the same time: ratio 1, RPISSRAT 0.
    DiskContext even;
    even.sections.resize(1);
    even.sectionCount = 1;
    even.sections[0].minTime = even.sections[0].maxTime = 0.005;
    even.sections[0].totalTime = 2.0;
    processSummaryData(even);
    EXPECT_DOUBLE_EQ(even.surfaceSummary[7], 1.0);
    EXPECT_DOUBLE_EQ(std::log10(even.surfaceSummary[7]), 0.0);
}

// --- the report file ---------------------------------------------------------------

TEST_F(ReportFileTest, TheReportIsANewFileWithEveryPlaceholderFilled) {
    results = setFinishedTest(true, 0, 3, 0, 0);
    Logger::setVolumeOrDiskID("1.0 TB Volume Named: Donn\xc3\xa9"
                              "es {2} , Volume ID: sdb2");
    int64_t before = clock.now();
    // A fresh home without its Documents folder yet.
    ASSERT_EQ(::rmdir(Logger::documentDir().c_str()), 0);
    ASSERT_TRUE(ReportGenerator::generateReport(results, clock));

    std::string path = Logger::reportFileNameAndPath();
    EXPECT_EQ(path.rfind(Logger::documentDir() + "/Report", 0), 0u);
    std::optional<std::string> report = SafeFile::read(path);
    ASSERT_TRUE(report.has_value());
    EXPECT_EQ(report->rfind("{\\rtf1", 0), 0u);
    EXPECT_EQ(report->find("\n<"), std::string::npos) << "a placeholder was left";
    EXPECT_NE(report->find("Donn\\u233?es \\{2\\} , Volume ID: sdb2"), std::string::npos);
    EXPECT_NE(report->find("\nPASSED WITH IRREGULARITIES\n"), std::string::npos);
    EXPECT_NE(report->find(std::string(ReportGenerator::paragraph("A1"))), std::string::npos);
    EXPECT_NE(report->find(std::string(ReportGenerator::paragraph("R2"))), std::string::npos);
    // The current column of an initial scan repeats the baseline.
    EXPECT_EQ(report->find("0.000000"), std::string::npos);
    size_t first = report->find("\n21.337000\n");
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(report->find("\n21.337000\n", first + 1), std::string::npos);

    EXPECT_EQ(Logger::surfaceScanStatus(), "PASSED WITH IRREGULARITIES");
    EXPECT_EQ(Logger::seekScanStatus(), "PASSED");
    EXPECT_FALSE(Logger::dateOfCompletion().empty());
    EXPECT_NE(logText().find("Tolvarin report location: " + path), std::string::npos);
    // The pause after writing is taken on the engine's clock.
    EXPECT_GE(clock.now() - before, 1000000);
}

TEST_F(ReportFileTest, APlantedLinkAtTheReportPathIsLeftUntouched) {
    results = setFinishedTest(false, 0, 0, 0, 0);
    // The next report takes the stamp of now.
    Logger::setReportFileNameAndPath();
    std::string path = Logger::reportFileNameAndPath();
    std::string target = home.path() + "/precious.txt";
    ASSERT_TRUE(SafeFile::replace(target, "keep me"));
    ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0);

    EXPECT_FALSE(ReportGenerator::generateReport(results, clock));
    EXPECT_EQ(*SafeFile::read(target), "keep me");
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_NE(logText().find("The test report could not be written"), std::string::npos);
}

TEST_F(ReportFileTest, AMissingTemplateIsAnErrorAndNoReport) {
    TempDir emptyResources;
    ScopedEnv noTemplate("TOLVARIN_RESOURCES", emptyResources.path());
    results = setFinishedTest(true, 0, 0, 0, 0);

    EXPECT_FALSE(ReportGenerator::generateReport(results, clock));
    for (const auto& entry : std::filesystem::directory_iterator(Logger::documentDir())) {
        ADD_FAILURE() << "unexpected " << entry.path();
    }
    std::string log = logText();
    EXPECT_NE(log.find("The test report could not be written: the report template could not be "
                       "read"),
              std::string::npos);
    EXPECT_EQ(log.find("Tolvarin report location"), std::string::npos);
    EXPECT_TRUE(Logger::reportFileNameAndPath().empty());

    // Without a known Documents folder nothing is written anywhere.
    ScopedEnv withTemplate("TOLVARIN_RESOURCES", kResources);
    Logger::resetForTests();
    Logger::setUserLogFileNameAndPathWithString(logPath);
    EXPECT_FALSE(ReportGenerator::generateReport(results, clock));
    EXPECT_TRUE(Logger::reportFileNameAndPath().empty());
}

TEST_F(ReportFileTest, TheViewerOpensOnlyOnADesktop) {
    results = setFinishedTest(true, 0, 0, 0, 0);
    ASSERT_TRUE(ReportGenerator::generateReport(results, clock));
    std::string path = Logger::reportFileNameAndPath();

    {
        ScopedEnv x11("DISPLAY", "");
        ScopedEnv wayland("WAYLAND_DISPLAY", "");
        EXPECT_FALSE(ReportGenerator::displayReport(env));
        EXPECT_TRUE(env.launches().empty());
    }
    {
        ScopedEnv x11("DISPLAY", "");
        ScopedEnv wayland("WAYLAND_DISPLAY", "wayland-0");
        EXPECT_TRUE(ReportGenerator::displayReport(env));
    }
    std::vector<std::string> launches = env.launches();
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_TRUE(launches[0].ends_with(" " + path)) << launches[0];
    EXPECT_NE(launches[0].find("xdg-open"), std::string::npos);
}

// Sample reports for looking at: kept in REPORT_SAMPLE_OUT when it is set
// (the end-to-end check converts them with an office suite).
class ReportSample : public ReportFileTest {};

TEST_F(ReportSample, InitialAndComparative) {
    const char* keep = std::getenv("REPORT_SAMPLE_OUT");
    TempDir scratch;
    std::string out = keep != nullptr && *keep != '\0' ? keep : scratch.path();

    auto write = [&](const std::string& name) {
        ASSERT_TRUE(ReportGenerator::generateReport(results, clock));
        std::optional<std::string> text = SafeFile::read(Logger::reportFileNameAndPath());
        ASSERT_TRUE(text.has_value());
        ASSERT_TRUE(SafeFile::replace(out + "/" + name, *text));
    };

    results = setFinishedTest(true, 0, 0, 0, 0);
    Logger::setVolumeOrDiskID("1.0 TB Volume Named: Donn\xc3\xa9"
                              "es {backup} , Volume ID: sdb2");
    write("initial.rtf");

    // The longest text a report can hold: a comparative test that passed
    // with a baseline abnormally high, sizing errors and irregularities.
    results = setFinishedTest(false, 0, 4, 0, 2);
    Logger::setSizingScanStatus("PASSED, BUT HAD ERRORS OR IRREGULARITIES");
    results.sizingErrors = 2;
    results.initialRPIs = {30.0, 2.9, 12.0, 2.7};
    results.currentRPIs = TestResults::StoredIndices{20.0, 2.1, 9.0, 2.9};
    write("comparative.rtf");

    // A failed comparative test.
    results = setFinishedTest(false, 12, 0, 3, 0);
    results.currentRPIs->surfaceLinear = 30.0;
    results.currentRPIs->seekRatio = 2.9;
    write("failed.rtf");
}

} // namespace tolvarin
