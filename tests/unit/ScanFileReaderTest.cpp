#include "store/ScanFileReader.h"

#include "engine/DiskContext.h"
#include "logging/Logger.h"
#include "store/DataFileFormat.h"
#include "tests/support/UnitFiles.h"

#include <gtest/gtest.h>

namespace tolvarin {

using Ending = UnitFiles::Ending;

namespace {

class ScanFileReaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Logger::resetForTests();
        disk.sections.resize(5);
        disk.seekPairs.resize(10);
    }
    void TearDown() override { Logger::resetForTests(); }

    MemoryBackedTemp memory;
    TempDir dir;
    UnitFiles unit{dir.path()};
    DiskContext disk;
    int errorCount = 0;
};

} // namespace

TEST_F(ScanFileReaderTest, StoppedSurfaceScanIsCutBackToItsLastRecord) {
    std::string kept = UnitFiles::surfaceScan(unit.name(".iss"), 2, 1, Ending::None) +
                       "I:2 MN:0.001000 MX:9.000000 MXP:5 A:N/A S:N/A T:12.0 O:0 E:0 OC:2 EC:4\n";
    unit.write(".iss", kept + "Surface Scan Terminated by User\n\nEND OF FILE x\n");
    EXPECT_EQ(ScanFileReader::extractSurfaceDataFromFile(unit.path(".iss"), disk), 3);
    EXPECT_EQ(*unit.read(".iss"), kept);
    EXPECT_FALSE(ScanFileReader::isScanCompleteOnFile(unit.path(".iss")));
    EXPECT_DOUBLE_EQ(disk.sections[1].minTime, 0.002);
    EXPECT_EQ(disk.sections[1].maxTimePosition, 1048576000 + 262144);
    EXPECT_DOUBLE_EQ(disk.sections[2].avgTime, 9.999e99);
    EXPECT_DOUBLE_EQ(disk.sections[2].stdDev, 9.999e99);
    EXPECT_EQ(disk.sections[2].passed, 0);
    EXPECT_EQ(disk.surfaceErrors, 4);
    EXPECT_EQ(disk.totalErrors, 4);
    EXPECT_EQ(disk.surfaceIrregularities, 2);
    EXPECT_EQ(disk.totalIrregularities, 2);
    // A second read finds nothing more to cut.
    EXPECT_EQ(ScanFileReader::extractSurfaceDataFromFile(unit.path(".iss"), disk), 3);
    EXPECT_EQ(*unit.read(".iss"), kept);
}

TEST_F(ScanFileReaderTest, SeekNotMeasuredLineCountsOneErrorAndNoIrregularity) {
    std::string kept = UnitFiles::seekScan(unit.name(".isk"), 7, 1, Ending::None) +
                       "I:7 MN:N/A MX:N/A AV:N/A T:N/A O:1 E:0\n"
                       "I:8 MN:0.001000 MX:0.600000 AV:0.010000 T:0.250000 O:0 E:1\n";
    unit.write(".isk", kept + "Seek Scan Terminated by User\n\nEND OF FILE x\n");
    errorCount = 2;
    EXPECT_EQ(ScanFileReader::extractSeekDataFromFile(unit.path(".isk"), disk, errorCount), 9);
    EXPECT_EQ(*unit.read(".isk"), kept);
    EXPECT_EQ(errorCount, 3);
    EXPECT_EQ(disk.seekErrors, 1);
    EXPECT_EQ(disk.totalErrors, 1);
    EXPECT_EQ(disk.seekIrregularities, 1);
    EXPECT_DOUBLE_EQ(disk.seekPairs[7].minTime, 9.999e99);
    EXPECT_DOUBLE_EQ(disk.seekPairs[7].totalTime, 9.999e99);
    EXPECT_DOUBLE_EQ(disk.seekPairs[8].maxTime, 0.6);
}

TEST_F(ScanFileReaderTest, TornOrStrayRecordsEndWhatIsLoaded) {
    std::string good = UnitFiles::surfaceScan(unit.name(".iss"), 2, 1, Ending::None);
    std::string next = "I:2 MN:0.003000 MX:0.300000 MXP:2 A:0.030000 S:0.006000 T:43.000000 "
                       "O:1 E:1 OC:0 EC:0";
    std::string nextButFour = next;
    nextButFour.replace(0, 3, "I:4");
    std::string badFlag = next;
    badFlag.replace(badFlag.find("O:1"), 3, "O:7");
    for (const std::string& tail : {next.substr(0, 25), next, nextButFour + "\n", badFlag + "\n"}) {
        SCOPED_TRACE(tail);
        unit.write(".iss", good + tail);
        EXPECT_EQ(ScanFileReader::extractSurfaceDataFromFile(unit.path(".iss"), disk), 2);
        EXPECT_EQ(*unit.read(".iss"), good);
    }
    // Records beyond the unit's section table belong to another layout.
    disk.sections.resize(2);
    unit.write(".iss", good + next + "\n");
    EXPECT_EQ(ScanFileReader::extractSurfaceDataFromFile(unit.path(".iss"), disk), 2);
    EXPECT_EQ(*unit.read(".iss"), good);
    // A file torn inside its warning line starts over from a clean header.
    unit.write(".iss", "***** IMPORT");
    EXPECT_EQ(ScanFileReader::extractSurfaceDataFromFile(unit.path(".iss"), disk), 0);
    EXPECT_EQ(*unit.read(".iss"), DataFileFormat::header());
}

TEST_F(ScanFileReaderTest, FinishedAndMissingFilesAreOnlyRead) {
    std::string complete = UnitFiles::seekScan(unit.name(".isk"), 3, 1, Ending::Complete);
    unit.write(".isk", complete);
    EXPECT_TRUE(ScanFileReader::isScanCompleteOnFile(unit.path(".isk")));
    EXPECT_EQ(ScanFileReader::extractSeekDataFromFile(unit.path(".isk"), disk, errorCount), 3);
    EXPECT_EQ(*unit.read(".isk"), complete);
    EXPECT_FALSE(ScanFileReader::isScanCompleteOnFile(unit.path(".none")));
    EXPECT_EQ(ScanFileReader::extractSurfaceDataFromFile(unit.path(".none"), disk), 0);
    EXPECT_FALSE(unit.exists(".none"));
    // An average's completion line is not a scan's.
    EXPECT_FALSE(ScanFileReader::isScanCompleteText("Surface Scan Average Complete\n"));
}

} // namespace tolvarin
