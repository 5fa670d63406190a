#include "logging/Logger.h"
#include "store/AverageFile.h"
#include "store/DataFileFormat.h"
#include "store/FileProcessor.h"
#include "store/PerformanceIndex.h"
#include "tests/support/UnitFiles.h"

#include <gtest/gtest.h>

namespace tolvarin {

using Kind = AverageFile::Kind;
using Ending = UnitFiles::Ending;

namespace {

std::vector<std::string> records(const std::string& text) {
    std::vector<std::string> out;
    for (const DataFileLine& line : DataFileFormat::splitLines(text)) {
        if (DataFileFormat::startsWith(line.text, "I:")) {
            out.emplace_back(line.text);
        }
    }
    return out;
}

class AveragesTest : public ::testing::Test {
  protected:
    void SetUp() override { Logger::resetForTests(); }
    void TearDown() override { Logger::resetForTests(); }

    MemoryBackedTemp memory;
    TempDir dir;
    UnitFiles unit{dir.path()};
    FileProcessor fp;
};

} // namespace

TEST_F(AveragesTest, FirstAverageAndTwoFolds) {
    std::string iss = UnitFiles::surfaceScan(unit.name(".iss"), 3, 1, Ending::Complete);
    unit.write(".iss", iss);
    ASSERT_TRUE(fp.createNewSSAFileWithFileName(unit.path(".ssa"), unit.path(".iss")));
    std::string body = iss.substr(69, iss.find("Surface Scan Complete") - 69);
    EXPECT_EQ(*unit.read(".ssa"), DataFileFormat::header() + "SMPLSZ: 1\n\n" + body +
                                      "Surface Scan Average Complete\n\nEND OF FILE " +
                                      unit.name(".ssa") + "\n");

    unit.write(".css", UnitFiles::surfaceScan(unit.name(".css"), 3, 3, Ending::Complete));
    ASSERT_TRUE(
        fp.createNewSSTFileWithFileName(unit.path(".sst"), unit.path(".ssa"), unit.path(".css")));
    std::string sst = *unit.read(".sst");
    EXPECT_EQ(AverageFile::sampleSize(sst), 2);
    std::string tail = "Surface Scan Average Complete\n\nEND OF FILE " + unit.name(".sst");
    EXPECT_EQ(sst.substr(sst.size() - tail.size()), tail);
    // Record 1: baseline MN 0.002, current 0.004; the slowest position is the current one.
    auto r = DataFileFormat::parseSurfaceRecord(records(sst)[1]);
    EXPECT_DOUBLE_EQ(r->minTime, 0.003);
    EXPECT_EQ(r->maxTimePosition, 1048576000 + 3 * 262144);

    ASSERT_TRUE(fp.generateFileFromType(".sst", ".ssa", unit.path(".sst")));
    unit.write(".css", UnitFiles::surfaceScan(unit.name(".css"), 3, 6, Ending::Complete));
    ASSERT_TRUE(
        fp.createNewSSTFileWithFileName(unit.path(".sst"), unit.path(".ssa"), unit.path(".css")));
    sst = *unit.read(".sst");
    EXPECT_EQ(AverageFile::sampleSize(sst), 3);
    r = DataFileFormat::parseSurfaceRecord(records(sst)[1]);
    EXPECT_NEAR(r->minTime, (2 * 0.003 + 0.007) / 3, 1e-6);
    EXPECT_DOUBLE_EQ(FileProcessor::calculateAveragesWithCSSValue(5.0, 2.0, 3), 3.0);

    // A stopped baseline makes no average, and the old one stays.
    unit.write(".isk", UnitFiles::seekScan(unit.name(".isk"), 2, 1, Ending::Terminated));
    unit.write(".ska", "old");
    EXPECT_FALSE(fp.createNewSKAFileWithFileName(unit.path(".ska"), unit.path(".isk")));
    EXPECT_EQ(*unit.read(".ska"), "old");
}

TEST_F(AveragesTest, UnmeasuredValuesStayUnmeasured) {
    std::string measured = "I:4 MN:0.010000 MX:0.300000 MXP:262144 A:0.020000 S:0.001000 "
                           "T:80.000000 O:1 E:1 OC:0 EC:0";
    std::string failed = "I:4 MN:0.030000 MX:0.900000 MXP:524288 A:N/A S:N/A T:20.000000 O:0 "
                         "E:0 OC:1 EC:1";
    auto line = FileProcessor::calculateAveragesWithCSSString(failed, measured, 2);
    EXPECT_EQ(*line, "I:4 MN:0.020000 MX:0.600000 MXP:524288 A:N/A S:N/A T:50.000000 O:0 E:0 "
                     "OC:1 EC:1");
    line = FileProcessor::calculateAveragesWithCSSString(measured, *line, 3);
    EXPECT_EQ(*line, "I:4 MN:0.016667 MX:0.500000 MXP:262144 A:N/A S:N/A T:60.000000 O:1 E:1 "
                     "OC:0 EC:0");

    std::string seek = "I:7 MN:0.004000 MX:0.020000 AV:0.008000 T:0.200000 O:1 E:1";
    std::string seekFailed = "I:7 MN:N/A MX:N/A AV:N/A T:N/A O:1 E:0";
    EXPECT_EQ(*FileProcessor::calculateAveragesWithCSKString(seek, seekFailed, 2), seekFailed);
    EXPECT_EQ(*FileProcessor::calculateAveragesWithCSKString(seekFailed, seek, 2), seekFailed);
    EXPECT_FALSE(FileProcessor::calculateAveragesWithCSKString(measured, seek, 2));
}

TEST_F(AveragesTest, ShortCurrentScanKeepsTheHistoryOfTheMissingRecords) {
    std::string ska = *AverageFile::firstAverageText(
        Kind::Seek, UnitFiles::seekScan("x.isk", 3, 1, Ending::Complete), "x.ska");
    std::string csk = UnitFiles::seekScan("x.csk", 2, 3, Ending::Complete);
    std::vector<std::string> folded =
        records(*AverageFile::foldText(Kind::Seek, ska, csk, "x.skt"));
    ASSERT_EQ(folded.size(), 3u);
    EXPECT_NE(folded[1], records(ska)[1]);
    EXPECT_EQ(folded[2], records(ska)[2]);

    // An average without a readable sample size is not folded.
    std::string noSize = ska;
    noSize.replace(noSize.find("SMPLSZ: 1"), 9, "SMPLSZ: x");
    EXPECT_FALSE(AverageFile::foldText(Kind::Seek, noSize, csk, "x.skt"));
}

TEST_F(AveragesTest, ComparisonsAndRPIReaders) {
    EXPECT_EQ(PerformanceIndex::compareLINBetweenInitial(20.0, 21.2), 1);
    EXPECT_EQ(PerformanceIndex::compareLINBetweenInitial(20.0, 18.9), 2);
    EXPECT_EQ(PerformanceIndex::compareLINBetweenInitial(20.0, 20.5), 0);
    EXPECT_EQ(PerformanceIndex::compareLINBetweenInitial(20.0, 21.0), 0);
    EXPECT_EQ(PerformanceIndex::compareLINBetweenInitial(20.0, 19.0), 0);
    EXPECT_EQ(PerformanceIndex::compareLINBetweenInitial(0.0, 3.0), 1);
    EXPECT_EQ(PerformanceIndex::compareLINBetweenInitial(0.0, 0.0), 0);
    EXPECT_EQ(PerformanceIndex::compareRATBetweenInitial(2.60, 2.50), 2);
    EXPECT_EQ(PerformanceIndex::compareRATBetweenInitial(2.50, 2.60), 1);
    EXPECT_EQ(PerformanceIndex::compareRATBetweenInitial(2.60, 2.70), 3);
    EXPECT_EQ(PerformanceIndex::compareRATBetweenInitial(2.55, 2.55), 0);

    double linear = -1, ratio = -1;
    unit.write(".csk", UnitFiles::seekScan(unit.name(".csk"), 2, 2, Ending::Complete));
    EXPECT_TRUE(PerformanceIndex::getSeekScanRPIsUsingFile(unit.path(".csk"), linear, ratio));
    EXPECT_DOUBLE_EQ(linear, 10.0);
    EXPECT_DOUBLE_EQ(ratio, 0.9);
    // A value that is not a number leaves the output as it was.
    EXPECT_FALSE(PerformanceIndex::readRPIs("RPISSLIN: 12.5\nRPISSRAT: none\n",
                                            "RPISSLIN:", "RPISSRAT:", linear, ratio));
    EXPECT_DOUBLE_EQ(linear, 12.5);
    EXPECT_DOUBLE_EQ(ratio, 0.9);
}

} // namespace tolvarin
