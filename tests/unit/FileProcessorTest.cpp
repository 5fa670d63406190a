#include "store/FileProcessor.h"

#include "engine/DiskContext.h"
#include "engine/SeekScan.h"
#include "engine/SizingSweep.h"
#include "logging/Logger.h"
#include "platform/SafeFile.h"
#include "store/DataFileFormat.h"
#include "tests/support/UnitFiles.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace tolvarin {

namespace {

class FileProcessorTest : public ::testing::Test {
  protected:
    void SetUp() override { Logger::resetForTests(); }
    void TearDown() override { Logger::resetForTests(); }

    std::string sizing() const {
        auto v = FileProcessor::readSizingValues(*unit.read(".siz"));
        return v ? std::to_string(v->current) + " " + std::to_string(v->previous) + " " +
                       std::to_string(v->original) + " " + std::to_string(v->count)
                 : "unreadable";
    }

    MemoryBackedTemp memory;
    TempDir dir;
    UnitFiles unit{dir.path()};
    FileProcessor fp;
};

} // namespace

TEST_F(FileProcessorTest, SizingFileReportsOneChangeOverTwoCalls) {
    const std::string& prefix = unit.prefix();
    ASSERT_TRUE(fp.processSizFileWithPath(dir.path(), prefix, 5000));
    EXPECT_EQ(fp.sizingReturnString(), "New .siz file created");
    EXPECT_EQ(*unit.read(".siz"), DataFileFormat::header() +
                                      "CSZ: 5000\nPSZ: 5000\nORG: 5000\nCNT: 0\n\nEND OF FILE " +
                                      prefix + ".siz\n");

    ASSERT_TRUE(fp.processSizFileWithPath(dir.path(), prefix, 4096));
    EXPECT_EQ(fp.sizingReturnString(),
              "WARNING: Size change detected: 5000 bytes to 4096 bytes, change count: 1");
    EXPECT_EQ(sizing(), "4096 5000 5000 1");
    // The second call still sees CSZ and PSZ apart: new -> new, after which
    // they agree again.
    ASSERT_TRUE(fp.processSizFileWithPath(dir.path(), prefix, 4096));
    EXPECT_EQ(fp.sizingReturnString(),
              "WARNING: Size change detected: 4096 bytes to 4096 bytes, change count: 2");
    ASSERT_TRUE(fp.processSizFileWithPath(dir.path(), prefix, 4096));
    EXPECT_EQ(fp.sizingReturnString(), "Sizing operation detected no size variations.");
    EXPECT_EQ(sizing(), "4096 4096 5000 2");
    // Whole-file rewrites leave no temporary file behind.
    EXPECT_EQ(dir.entries(), std::vector<std::string>{unit.name(".siz")});

    // Sizes that cannot be read are not overwritten with a fresh history.
    std::string broken = DataFileFormat::header() + "CSZ: 5000\nPSZ: lots\nORG: 5000\n";
    unit.write(".siz", broken);
    EXPECT_FALSE(fp.processSizFileWithPath(dir.path(), prefix, 4096));
    EXPECT_EQ(*unit.read(".siz"), broken);
}

TEST_F(FileProcessorTest, IndexFilesHoldTheLayoutTheScansReadBack) {
    constexpr int64_t kSweep = FileProcessor::kSweepSize;
    struct Case {
        int64_t size;
        int count;
        int64_t last;
    };
    for (Case c : {Case{3 * kSweep, 3, -1}, Case{3 * kSweep + 512, 4, 511}, Case{4096, 1, 4095}}) {
        SCOPED_TRACE(c.size);
        DiskContext disk;
        disk.deviceSize = c.size;
        ASSERT_TRUE(fp.processSsxFileWithPath(dir.path(), unit.prefix(), disk));
        EXPECT_EQ(*unit.read(".ssx"), DataFileFormat::header() +
                                          "SWPSZ: 1048576000\nSWPCNT: " + std::to_string(c.count) +
                                          "\nLASTSZ: " + std::to_string(c.last) +
                                          "\n\nEND OF FILE " + unit.name(".ssx") + "\n");
        EXPECT_EQ(disk.sectionCount, c.count);
        EXPECT_EQ(disk.lastSectionSize, c.last + 1);
        DiskContext scan;
        scan.deviceSize = c.size;
        SizingSweep::doSweepSectorAllocationWithFile(scan, unit.path(".ssx"), "");
        ASSERT_EQ(scan.sectionCount, c.count);
        EXPECT_EQ(scan.sections.back().end, c.size - 1);
    }

    DiskContext disk;
    disk.seekLocationCount = 100;
    disk.deviceSize = int64_t{1000000} * 512;
    ASSERT_TRUE(fp.processSkxFileWithPath(dir.path(), unit.prefix(), disk));
    EXPECT_EQ(*unit.read(".skx"), DataFileFormat::header() +
                                      "CNT: 100\nISZ: 10000\nSTRT: 0\nEND: 506880000\n\n"
                                      "END OF FILE " +
                                      unit.name(".skx") + "\n");
    auto layout = SeekScan::readSeekIndexFile(unit.path(".skx"));
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->interval, 10000);

    // Nothing to divide by: no file rather than a wrong one.
    disk.seekLocationCount = 0;
    EXPECT_FALSE(fp.processSkxFileWithPath(dir.path(), "M02", disk));
    DiskContext sizeless;
    EXPECT_FALSE(fp.processSsxFileWithPath(dir.path(), "M02", sizeless));
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "/M02.skx"));
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "/M02.ssx"));
}

TEST_F(FileProcessorTest, DerivedCopyRenamesOnlyTheSuffixAndTheTrailer) {
    // A directory whose name holds the old suffix is not touched.
    UnitFiles inner(dir.path() + "/data.iss.d");
    ASSERT_TRUE(SafeFile::makeDirectories(inner.directory()));
    std::string iss = UnitFiles::surfaceScan(inner.name(".iss"), 2, 1, UnitFiles::Ending::Complete);
    inner.write(".iss", iss);
    ASSERT_TRUE(fp.generateFileFromType(".iss", ".css", inner.path(".iss")));
    std::string expected =
        iss.substr(0, iss.find("END OF FILE ")) + "END OF FILE " + inner.name(".css") + "\n";
    EXPECT_EQ(*inner.read(".css"), expected);

    // A fold's trailer has no newline, and its copy has none either.
    std::string sst = DataFileFormat::header() + "SMPLSZ: 2\n\nI:0\nEND OF FILE ";
    inner.write(".sst", sst + inner.name(".sst"));
    ASSERT_TRUE(fp.generateFileFromType(".sst", ".ssa", inner.path(".sst")));
    EXPECT_EQ(*inner.read(".ssa"), sst + inner.name(".ssa"));

    EXPECT_FALSE(fp.generateFileFromType(".isk", ".csk", inner.path(".iss")));
    EXPECT_FALSE(fp.generateFileFromType(".pss", ".css", inner.path(".pss")));
    EXPECT_EQ(FileProcessor::extractLastElementOfPath("/a/b.c/M01.iss"), "M01.iss");
}

} // namespace tolvarin
