#include "store/FileProcessor.h"

#include "engine/DiskContext.h"
#include "engine/SeekScan.h"
#include "engine/SizingSweep.h"
#include "logging/Logger.h"
#include "platform/SafeFile.h"
#include "store/DataFileFormat.h"
#include "tests/support/TempDir.h"
#include "tests/support/UnitFiles.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

constexpr int64_t kSweep = FileProcessor::kSweepSize;

class FileProcessorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Logger::resetForTests();
        Logger::setUserLogFileNameAndPathWithString(dir.path() + "/log.txt");
    }
    void TearDown() override { Logger::resetForTests(); }

    // Names in the directory that are not the unit's own: leftovers of a
    // write that went through a temporary file.
    std::vector<std::string> strays() const {
        std::vector<std::string> out;
        for (const std::string& n : dir.entries()) {
            if (n.rfind(unit.prefix() + ".", 0) != 0 && n != "log.txt") {
                out.push_back(n);
            }
        }
        return out;
    }

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
                                      "CSZ: 5000\nPSZ: 5000\nORG: 5000\nCNT: 0\n\n"
                                      "END OF FILE " +
                                      prefix + ".siz\n");

    ASSERT_TRUE(fp.processSizFileWithPath(dir.path(), prefix, 5000));
    EXPECT_EQ(fp.sizingReturnString(), "Sizing operation detected no size variations.");

    ASSERT_TRUE(fp.processSizFileWithPath(dir.path(), prefix, 4096));
    EXPECT_EQ(fp.sizingReturnString(),
              "WARNING: Size change detected: 5000 bytes to 4096 bytes, change count: 1");
    auto values = FileProcessor::readSizingValues(*unit.read(".siz"));
    ASSERT_TRUE(values);
    EXPECT_EQ(values->current, 4096);
    EXPECT_EQ(values->previous, 5000);
    EXPECT_EQ(values->original, 5000);

    // The second call still sees CSZ and PSZ apart and reports new -> new;
    // after it they agree again.
    ASSERT_TRUE(fp.processSizFileWithPath(dir.path(), prefix, 4096));
    EXPECT_EQ(fp.sizingReturnString(),
              "WARNING: Size change detected: 4096 bytes to 4096 bytes, change count: 2");
    ASSERT_TRUE(fp.processSizFileWithPath(dir.path(), prefix, 4096));
    EXPECT_EQ(fp.sizingReturnString(), "Sizing operation detected no size variations.");
    values = FileProcessor::readSizingValues(*unit.read(".siz"));
    EXPECT_EQ(values->previous, 4096);
    EXPECT_EQ(values->original, 5000);
    EXPECT_EQ(values->count, 2);
    EXPECT_TRUE(strays().empty());
}

TEST_F(FileProcessorTest, UnreadableSizingFileIsLeftAsItIs) {
    std::string broken = DataFileFormat::header() + "CSZ: 5000\nPSZ: lots\nORG: 5000\n";
    unit.write(".siz", broken);
    EXPECT_FALSE(fp.processSizFileWithPath(dir.path(), unit.prefix(), 4096));
    EXPECT_EQ(*unit.read(".siz"), broken);
    EXPECT_NE(fp.sizingReturnString().find("could not be read"), std::string::npos);

    // A link planted in its place is neither read through nor written through.
    std::string target = dir.path() + "/elsewhere";
    ASSERT_TRUE(SafeFile::replace(target, "CSZ: 1\nPSZ: 1\nORG: 1\nCNT: 0\n"));
    std::filesystem::remove(unit.path(".siz"));
    std::filesystem::create_symlink(target, unit.path(".siz"));
    EXPECT_FALSE(fp.processSizFileWithPath(dir.path(), unit.prefix(), 4096));
    EXPECT_EQ(*SafeFile::read(target), "CSZ: 1\nPSZ: 1\nORG: 1\nCNT: 0\n");
}

TEST_F(FileProcessorTest, SweepIndexMatchesTheLayoutTheScanReadsBack) {
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
                                          "\n\nEND OF FILE " + unit.prefix() + ".ssx\n");
        EXPECT_EQ(disk.sectionSize, kSweep);
        EXPECT_EQ(disk.sectionCount, c.count);
        EXPECT_EQ(disk.lastSectionSize, c.last + 1);

        DiskContext scan;
        scan.deviceSize = c.size;
        SizingSweep::doSweepSectorAllocationWithFile(scan, unit.path(".ssx"), "");
        ASSERT_EQ(scan.sectionCount, c.count);
        EXPECT_EQ(scan.sections.back().end, c.size - 1);
    }
    DiskContext empty;
    EXPECT_FALSE(fp.processSsxFileWithPath(dir.path(), "M02", empty));
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "/M02.ssx"));
}

TEST_F(FileProcessorTest, SeekIndexMatchesWhatTheSeekScanReads) {
    DiskContext disk;
    disk.seekLocationCount = 100;
    disk.deviceSize = int64_t{1000000} * 512;
    ASSERT_TRUE(fp.processSkxFileWithPath(dir.path(), unit.prefix(), disk));
    EXPECT_EQ(*unit.read(".skx"), DataFileFormat::header() +
                                      "CNT: 100\nISZ: 10000\nSTRT: 0\nEND: 506880000\n\n"
                                      "END OF FILE " +
                                      unit.prefix() + ".skx\n");
    auto layout = SeekScan::readSeekIndexFile(unit.path(".skx"));
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->count, 100);
    EXPECT_EQ(layout->interval, 10000);

    disk.seekLocationCount = 0;
    EXPECT_FALSE(fp.processSkxFileWithPath(dir.path(), "M02", disk));
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "/M02.skx"));
}

TEST_F(FileProcessorTest, DerivedCopyRenamesOnlyTheSuffixAndTheTrailer) {
    // A directory whose name holds the old suffix must not be touched.
    std::string sub = dir.path() + "/data.iss.d";
    ASSERT_TRUE(SafeFile::makeDirectories(sub));
    UnitFiles inner(sub);
    std::string iss = UnitFiles::surfaceScan(inner.name(".iss"), 2, 1, UnitFiles::Ending::Complete);
    inner.write(".iss", iss);

    ASSERT_TRUE(fp.generateFileFromType(".iss", ".css", inner.path(".iss")));
    std::string css = *inner.read(".css");
    std::string expected = iss;
    expected.replace(expected.find("END OF FILE "), std::string::npos,
                     "END OF FILE " + inner.name(".css") + "\n");
    EXPECT_EQ(css, expected);
    EXPECT_EQ(*inner.read(".iss"), iss);

    // A fold's trailer has no newline, and its copy has none either.
    inner.write(".sst",
                DataFileFormat::header() + "SMPLSZ: 2\n\nI:0\nEND OF FILE " + inner.name(".sst"));
    ASSERT_TRUE(fp.generateFileFromType(".sst", ".ssa", inner.path(".sst")));
    EXPECT_EQ(*inner.read(".ssa"),
              DataFileFormat::header() + "SMPLSZ: 2\n\nI:0\nEND OF FILE " + inner.name(".ssa"));

    EXPECT_FALSE(fp.generateFileFromType(".isk", ".csk", inner.path(".iss")));
    EXPECT_FALSE(fp.generateFileFromType(".pss", ".css", inner.path(".pss")));
    EXPECT_FALSE(inner.exists(".pss"));
    EXPECT_EQ(FileProcessor::extractLastElementOfPath("/a/b.c/M01.iss"), "M01.iss");
    EXPECT_EQ(FileProcessor::extractLastElementOfPath("M01.iss"), "M01.iss");
}
