#include "store/ScanFileReader.h"

#include "engine/DiskContext.h"
#include "logging/Logger.h"
#include "store/DataFileFormat.h"
#include "tests/support/TempDir.h"
#include "tests/support/UnitFiles.h"

#include <gtest/gtest.h>

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

    TempDir dir;
    UnitFiles unit{dir.path()};
    DiskContext disk;
    int errorCount = 0;
};

} // namespace

TEST_F(ScanFileReaderTest, StoppedSurfaceScanIsCutBackToItsLastRecord) {
    std::string stopped = UnitFiles::surfaceScan(unit.name(".iss"), 3, 1, Ending::Terminated);
    unit.write(".iss", stopped);
    // The third record ended in an irregularity (O:0 OC:1).
    EXPECT_EQ(ScanFileReader::extractSurfaceDataFromFile(unit.path(".iss"), disk), 3);
    EXPECT_EQ(*unit.read(".iss"), UnitFiles::surfaceScan(unit.name(".iss"), 3, 1, Ending::None));
    EXPECT_FALSE(ScanFileReader::isScanCompleteOnFile(unit.path(".iss")));
    EXPECT_DOUBLE_EQ(disk.sections[1].minTime, 0.002);
    EXPECT_EQ(disk.sections[1].maxTimePosition, 1048576000 + 262144);
    EXPECT_EQ(disk.sections[2].clean, 0);
    EXPECT_EQ(disk.surfaceIrregularities, 1);
    EXPECT_EQ(disk.totalIrregularities, 1);
    EXPECT_EQ(disk.surfaceErrors, 0);

    // Reading it again changes nothing.
    EXPECT_EQ(ScanFileReader::extractSurfaceDataFromFile(unit.path(".iss"), disk), 3);
    EXPECT_EQ(*unit.read(".iss"), UnitFiles::surfaceScan(unit.name(".iss"), 3, 1, Ending::None));
}

TEST_F(ScanFileReaderTest, FailedSectionsLoadTheirCountsAndUnmeasuredMeans) {
    unit.write(".css", DataFileFormat::header() +
                           "I:0 MN:0.001000 MX:0.700000 MXP:0 A:0.010000 S:0.001000 T:40.0 O:0 "
                           "E:1 OC:2 EC:0\n"
                           "I:1 MN:0.001000 MX:9.000000 MXP:5 A:N/A S:N/A T:12.0 O:1 E:0 OC:0 "
                           "EC:4\n"
                           "Surface Scan Terminated by User\n\nEND OF FILE x\n");
    EXPECT_EQ(ScanFileReader::extractSurfaceDataFromFile(unit.path(".css"), disk), 2);
    EXPECT_DOUBLE_EQ(disk.sections[1].avgTime, 9.999e99);
    EXPECT_DOUBLE_EQ(disk.sections[1].stdDev, 9.999e99);
    EXPECT_EQ(disk.sections[1].passed, 0);
    EXPECT_EQ(disk.sections[1].errorCount, 4);
    EXPECT_EQ(disk.surfaceErrors, 4);
    EXPECT_EQ(disk.totalErrors, 4);
    EXPECT_EQ(disk.surfaceIrregularities, 2);
}

TEST_F(ScanFileReaderTest, SeekNotMeasuredLineCountsOneErrorAndNoIrregularity) {
    std::string text = UnitFiles::seekScan(unit.name(".isk"), 7, 1, Ending::None) +
                       "I:7 MN:N/A MX:N/A AV:N/A T:N/A O:1 E:0\n"
                       "I:8 MN:0.001000 MX:0.600000 AV:0.010000 T:0.250000 O:0 E:1\n"
                       "Seek Scan Terminated by User\n\nEND OF FILE " +
                       unit.name(".isk") + "\n";
    unit.write(".isk", text);
    errorCount = 2;
    EXPECT_EQ(ScanFileReader::extractSeekDataFromFile(unit.path(".isk"), disk, errorCount), 9);
    EXPECT_EQ(errorCount, 3);
    EXPECT_EQ(disk.seekErrors, 1);
    EXPECT_EQ(disk.totalErrors, 1);
    EXPECT_EQ(disk.seekIrregularities, 1);
    EXPECT_DOUBLE_EQ(disk.seekPairs[7].minTime, 9.999e99);
    EXPECT_DOUBLE_EQ(disk.seekPairs[7].totalTime, 9.999e99);
    EXPECT_EQ(disk.seekPairs[7].passed, 0);
    EXPECT_DOUBLE_EQ(disk.seekPairs[8].maxTime, 0.6);
    std::string kept = *unit.read(".isk");
    EXPECT_EQ(kept.substr(kept.size() - 8), "O:0 E:1\n");
}

TEST_F(ScanFileReaderTest, TornOrStrayRecordsEndWhatIsLoaded) {
    std::string good = UnitFiles::surfaceScan(unit.name(".iss"), 2, 1, Ending::None);
    struct Case {
        const char* what;
        std::string tail;
    };
    const Case cases[] = {
        {"line cut by a crash", "I:2 MN:0.003000 MX:0.3"},
        {"line without its newline", "I:2 MN:0.003000 MX:0.300000 MXP:2 A:0.030000 S:0.006000 "
                                     "T:43.000000 O:1 E:1 OC:0 EC:0"},
        {"index out of sequence", "I:4 MN:0.003000 MX:0.300000 MXP:2 A:0.030000 S:0.006000 "
                                  "T:43.000000 O:1 E:1 OC:0 EC:0\n"},
        {"field missing", "I:2 MN:0.003000 MX:0.300000 A:0.030000 S:0.006000 T:43.000000 O:1 "
                          "E:1 OC:0 EC:0\n"},
        {"flag out of range", "I:2 MN:0.003000 MX:0.300000 MXP:2 A:0.030000 S:0.006000 "
                              "T:43.000000 O:7 E:1 OC:0 EC:0\n"},
        {"beyond the section table", "I:2 MN:0.003000 MX:0.300000 MXP:2 A:0.030000 S:0.006000 "
                                     "T:43.000000 O:1 E:1 OC:0 EC:0\nI:3 MN:0.1 MX:0.1 MXP:2 "
                                     "A:0.1 S:0.1 T:0.1 O:1 E:1 OC:0 EC:0\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        disk.sections.assign(std::string(c.what) == "beyond the section table" ? 3 : 5, {});
        unit.write(".iss", good + c.tail);
        int expected = std::string(c.what) == "beyond the section table" ? 3 : 2;
        EXPECT_EQ(ScanFileReader::extractSurfaceDataFromFile(unit.path(".iss"), disk), expected);
        std::string kept = *unit.read(".iss");
        EXPECT_EQ(kept.substr(0, good.size()), good);
        EXPECT_EQ(DataFileFormat::splitLines(kept).size(), static_cast<size_t>(2 + expected));
    }
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

    // Without a table to load into, the file is not cut.
    DiskContext bare;
    unit.write(".css", UnitFiles::surfaceScan(unit.name(".css"), 2, 1, Ending::Terminated));
    EXPECT_EQ(ScanFileReader::extractSurfaceDataFromFile(unit.path(".css"), bare), 0);
    EXPECT_EQ(*unit.read(".css"),
              UnitFiles::surfaceScan(unit.name(".css"), 2, 1, Ending::Terminated));
    // An average's completion line is not a scan's.
    EXPECT_FALSE(ScanFileReader::isScanCompleteText("Surface Scan Average Complete\n"));
}
