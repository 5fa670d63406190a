#include "engine/ScanController.h"
#include "platform/Paths.h"
#include "platform/SafeFile.h"
#include "platform/System.h"
#include "store/DataFileSet.h"
#include "store/DriveProcessor.h"
#include "store/Quarrykit.h"
#include "tests/support/FakeClock.h"
#include "tests/support/FakeScanHost.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestMedia.h"

#include <gtest/gtest.h>
#include <regex>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvarin {

namespace {

using Entry = std::vector<std::string>;

const char* const kWarning =
    "***** IMPORTANT: DO NOT EDIT, RENAME, OR DELETE THIS FILE!!!! *****\n\n";

std::string header(const std::string& name, const std::vector<std::string>& lines) {
    std::string text = kWarning;
    for (const std::string& line : lines) {
        text += line + "\n";
    }
    return text + "\nEND OF FILE " + name + "\n";
}

// The prefix the hub takes from a header path: its last element up to the
// first ".".
std::string prefixOf(const std::string& fullDataFileName) {
    std::string name = fullDataFileName.substr(fullDataFileName.find_last_of('/') + 1);
    return name.substr(0, name.find('.'));
}

class DataCatalogueTest : public ::testing::Test {
  protected:
    DataCatalogueTest() : dataDir(home.path() + "/Library/Application Support/Tolvarin") {}

    std::unique_ptr<DriveProcessor> build(const std::vector<Media>& media) {
        return std::make_unique<DriveProcessor>(media, "alice", home.path(), kit, clock);
    }
    void plant(const std::string& name, const std::string& content) {
        ASSERT_TRUE(kit.makeDirectoryAtPath(dataDir));
        ASSERT_TRUE(SafeFile::replace(dataDir + "/" + name, content));
    }
    std::vector<std::string> files() {
        kit.setDirContents(dataDir);
        return kit.dirContents();
    }
    std::string read(const std::string& name) {
        return SafeFile::read(dataDir + "/" + name).value_or("<missing>");
    }
    // The date part a header made now is named with.
    std::string dateNow() {
        DriveProcessor p;
        p.setClock(clock);
        p.setFileDateString();
        return p.fileDateString();
    }

    TempDir home;
    std::string dataDir;
    FakeClock clock;
    Quarrykit kit;
    // A SATA disk with one volume, and a blank USB disk.
    Media sda = testDisk("sda", "500.1 GB", "Serial ATA Hard Drive");
    Media sda2 = testVolume(sda, "sda2", "499.5 GB ", "5B9C7E3A-3F1D-3C5E-9A8B-1D2E3F4A5B6C");
    Media sdb = testDisk("sdb", "2.0 TB", "USB External Media", "0x5000c500a1b2c3d4");
};

} // namespace

TEST_F(DataCatalogueTest, NewUnitsGetNumberedHeadersAndTheirRecords) {
    auto p = build({sda, sda2, sdb});
    ASSERT_TRUE(p->catalogueReady());
    EXPECT_EQ(p->tolvarinDir(), dataDir);
    EXPECT_EQ(p->exitStatus(), 0);

    // The stamps: month-day-year, and the header date field by field.
    std::smatch date;
    ASSERT_TRUE(std::regex_match(p->fileDateString(), date,
                                 std::regex(R"((\d\d-\d\d-\d{4})-(\d\d)-(\d\d)-(\d\d))")));
    EXPECT_EQ(p->timeStamp(),
              date[1].str() + " " + date[2].str() + ":" + date[3].str() + ":" + date[4].str());

    // Disks first, then volumes; each new unit one number higher.
    const std::string d = p->fileDateString();
    const std::string m1 = "M01-D-SAT-" + d + ".hdr";
    const std::string m2 = "M02-D-USB-" + d + ".hdr";
    const std::string m3 = "M03-V-SAT-" + d + ".hdr";
    EXPECT_EQ(files(), (std::vector<std::string>{m1, m2, m3}));
    EXPECT_EQ(p->lastMediaCount(), 3);
    EXPECT_TRUE(p->validDataFiles().empty());
    EXPECT_EQ(p->dataFilesDoNotExist().size(), 3u);

    EXPECT_EQ(read(m1), header(m1, {"disk:500.1", "UUID:5B9C7E3A-3F1D-3C5E-9A8B-1D2E3F4A5B6C "
                                                  "PART:2 SIZE:499.5 GB "}));
    // The blank disk is named through its identity line.
    EXPECT_EQ(read(m2), header(m2, {"disk:2.0", "UUID:0x5000c500a1b2c3d4 PART: SIZE:2.0 TB"}));
    EXPECT_EQ(read(m3), header(m3, {"volume:499.5", "UUID:5B9C7E3A-3F1D-3C5E-9A8B-1D2E3F4A5B6C "
                                                    "PART:2 SIZE:499.5 GB "}));

    ASSERT_EQ(p->currentDataFiles().size(), 3u);
    EXPECT_EQ(p->currentDataFiles()[0]->fullDataFileName(), dataDir + "/" + m1);
    EXPECT_EQ(p->currentDataFiles()[0]->driveInfo(), p->driveList()[0]);
    EXPECT_EQ(p->currentDataFiles()[1]->scanningString(), Paths::rawDevicePathForIdentifier("sdb"));
    EXPECT_EQ(p->currentDataFiles()[2]->scanningString(),
              Paths::rawDevicePathForIdentifier("sda2"));
}

TEST_F(DataCatalogueTest, ASecondTestFindsTheHeadersTheFirstMadeBlankDiskIncluded) {
    auto first = build({sda, sda2, sdb});
    clock.advance(3600LL * 1000000);
    auto second = build({sda, sda2, sdb});

    EXPECT_EQ(files().size(), 3u);
    EXPECT_TRUE(second->dataFilesDoNotExist().empty());
    ASSERT_EQ(second->currentDataFiles().size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(second->currentDataFiles()[i]->fullDataFileName(),
                  first->currentDataFiles()[i]->fullDataFileName());
    }
    EXPECT_EQ(second->validDataFiles().size(), 3u);
    EXPECT_EQ(second->validDataFiles()[1], "M02-D-USB-" + first->fileDateString() + ".hdr:1");
    EXPECT_EQ(second->lastMediaCount(), 3);

    // The unit found again has only its header: a unit seen for the first
    // time, to the scan controller.
    FakeScanHost host;
    ScanController controller(host);
    controller.setQuarrykit(&kit);
    controller.setTolvarinDir(second->tolvarinDir());
    std::string blank = prefixOf(second->currentDataFiles()[1]->fullDataFileName());
    controller.setFilePrefix(blank);
    EXPECT_EQ(controller.determineDeviceState(), 1);
    DataFileSet unit(dataDir, blank);
    for (const char* suffix : {".siz", ".ssx", ".skx", ".iss", ".ssa", ".isk", ".ska"}) {
        plant(blank + suffix, "x");
    }
    EXPECT_EQ(controller.determineDeviceState(), 255);
    EXPECT_EQ(unit.deleteUnitFiles(kit), 8);
    EXPECT_EQ(controller.determineDeviceState(), 0);
}

TEST_F(DataCatalogueTest, OnlyHeaderNamesOfNinePartsWithUUIDLinesAreValid) {
    const std::vector<std::string> twoVolumes = {"disk:232.9", "UUID:a PART:s2 SIZE:1 GB",
                                                 "UUID:b PART:s3 SIZE:1 GB"};
    plant("M03-V-USB-01-02-2010-10-11-12.hdr", header("M03", twoVolumes));
    plant("M04-V-USB-01-02-2010-10-11.hdr", header("M04", twoVolumes));
    plant("M05-V-USB-01-02-2010-10-11-12-13.hdr", header("M05", twoVolumes));
    plant("X06-V-USB-01-02-2010-10-11-12.hdr", header("X06", twoVolumes));
    plant("M07-V-USB-01-02-2010-10-11-12.txt", header("M07", twoVolumes));
    plant("M08-D-UND-01-02-2010-10-11-12.hdr", header("M08", {"disk:1.0"}));
    // A link is not followed, even to a sound header.
    ASSERT_EQ(::symlink((dataDir + "/M03-V-USB-01-02-2010-10-11-12.hdr").c_str(),
                        (dataDir + "/M09-V-USB-01-02-2010-10-11-12.hdr").c_str()),
              0);

    auto p = build({});
    EXPECT_EQ(p->validDataFiles(), Entry{"M03-V-USB-01-02-2010-10-11-12.hdr:2"});
    EXPECT_EQ(p->lastMediaCount(), 3);
    EXPECT_EQ(files().size(), 7u); // nothing made, nothing removed
}

TEST_F(DataCatalogueTest, NextUnitIsOneAboveTheHighestValidHeader) {
    const std::vector<std::string> lines = {"volume:1.0", "UUID:zz PART:1 SIZE:1.0 GB"};
    plant("M01-V-USB-01-02-2010-10-11-12.hdr", header("M01", lines));
    plant("M07-V-USB-01-02-2010-10-11-12.hdr", header("M07", lines));
    // An invalid header holds no number.
    plant("M42-D-UND-01-02-2010-10-11-12.hdr", header("M42", {"disk:1.0"}));

    auto p = build({sda, sda2, sdb});
    const std::string d = p->fileDateString();
    EXPECT_EQ(p->lastMediaCount(), 10);
    for (const std::string& name :
         {"M08-D-SAT-" + d + ".hdr", "M09-D-USB-" + d + ".hdr", "M10-V-SAT-" + d + ".hdr"}) {
        EXPECT_NE(read(name), "<missing>") << name;
    }
}

TEST_F(DataCatalogueTest, ARepartitionedDiskIsANewUnit) {
    Media sdc = testDisk("sdc", "1.0 TB", "Serial ATA Hard Drive");
    Media a = testVolume(sdc, "sdc1", "500.0 GB ", "AAAA");
    Media b = testVolume(sdc, "sdc2", "500.0 GB ", "BBBB");
    Media c = testVolume(sdc, "sdc2", "500.0 GB ", "CCCC");
    auto first = build({sdc, a, b});
    std::string disk2 = first->currentDataFiles()[0]->fullDataFileName();
    std::string volumeA = first->currentDataFiles()[1]->fullDataFileName();
    EXPECT_EQ(first->lastMediaCount(), 3);

    // One volume replaced: the disk's header no longer matches (both UUIDs
    // must), the untouched volume still finds its own.
    clock.advance(1000000);
    auto second = build({sdc, a, c});
    ASSERT_EQ(second->currentDataFiles().size(), 3u);
    EXPECT_EQ(second->currentDataFiles()[0]->fullDataFileName(), volumeA);
    EXPECT_EQ(prefixOf(second->currentDataFiles()[1]->fullDataFileName()).substr(0, 4), "M04-");
    EXPECT_EQ(prefixOf(second->currentDataFiles()[2]->fullDataFileName()).substr(0, 4), "M05-");
    EXPECT_EQ(second->dataFilesDoNotExist(),
              (std::vector<Entry>{second->driveList()[0], second->driveList()[2]}));

    // One volume removed: a header with two UUID lines is not tried for a
    // disk entry with one, though its UUID is there.
    clock.advance(1000000);
    auto third = build({sdc, a});
    EXPECT_NE(third->currentDataFiles()[1]->fullDataFileName(), disk2);
    EXPECT_EQ(third->currentDataFiles()[0]->fullDataFileName(), volumeA);
    EXPECT_EQ(third->lastMediaCount(), 6);
}

TEST_F(DataCatalogueTest, AUUIDMatchesAsAWholeWordOnly) {
    // Two blank disks of the same size whose serial numbers differ only by a
    // trailing character must not share a unit.
    auto first = build({testDisk("sdd", "1.0 TB", "USB External Media", "S12")});
    clock.advance(1000000);
    auto second = build({testDisk("sde", "1.0 TB", "USB External Media", "S1")});
    ASSERT_EQ(second->currentDataFiles().size(), 1u);
    EXPECT_NE(second->currentDataFiles()[0]->fullDataFileName(),
              first->currentDataFiles()[0]->fullDataFileName());

    // Line 0 too: disk:2 is not disk:20.
    const std::vector<std::string> header20 = {"disk:20", "UUID:EMPTY PART: SIZE:20 TB"};
    EXPECT_TRUE(DriveProcessor::headerMatchesEntry(
        header20, {"disk:20", "DISK:sdf DES:D IFC:UND UUID:EMPTY PART: SIZE:20 TB"}));
    EXPECT_FALSE(DriveProcessor::headerMatchesEntry(
        header20, {"disk:2", "DISK:sdf DES:D IFC:UND UUID:EMPTY PART: SIZE:2 TB"}));
    // A line too short to hold a UUID field matches nothing, not everything.
    EXPECT_FALSE(DriveProcessor::headerMatchesEntry(header20, {"disk:20", "DISK:sdf DES:D"}));
}

TEST_F(DataCatalogueTest, ScratchFilesOfAnyPrefixAreDeletedWhenTheCatalogueIsBuilt) {
    plant("M01-D-SAT-12-06-2026-18-35-54.iss.tmp", "x");
    plant("M02-V-USB-01-02-2010-10-11-12.css.tmp", "x");
    plant("leftover.cur", "x");
    plant("M01-D-SAT-12-06-2026-18-35-54.iss", "x");
    plant("notes.txt", "x");
    ASSERT_EQ(::mkdir((dataDir + "/prev").c_str(), 0755), 0);
    build({});
    EXPECT_EQ(files(),
              (std::vector<std::string>{"M01-D-SAT-12-06-2026-18-35-54.iss", "notes.txt", "prev"}));
}

TEST_F(DataCatalogueTest, TheHundredthUnitEndsTheProgramWritingNothing) {
    const std::vector<std::string> lines = {"volume:1.0", "UUID:zz PART:1 SIZE:1.0 GB"};
    plant("M98-V-USB-01-02-2010-10-11-12.hdr", header("M98", lines));
    testing::internal::CaptureStderr();
    auto p = build({sda, sda2, sdb});
    std::string err = testing::internal::GetCapturedStderr();

    EXPECT_EQ(p->exitStatus(), 1);
    EXPECT_FALSE(p->catalogueReady());
    EXPECT_NE(err.find("Tolvarin is limited to 99 devices maximum.\n"
                       "This maximum has been exceeded. Please refer to the documentation\n"
                       "for instructions to clear up this problem.\n\n"),
              std::string::npos)
        << err;
    // The 99th unit got its header; the 100th and the one after it nothing.
    EXPECT_EQ(files(), (std::vector<std::string>{"M98-V-USB-01-02-2010-10-11-12.hdr",
                                                 "M99-D-SAT-" + dateNow() + ".hdr"}));
    EXPECT_EQ(p->currentDataFiles().size(), 1u);
}

TEST_F(DataCatalogueTest, AnUnusableDataDirectoryEndsTheProgram) {
    // A link in place of the directory is neither used nor written through.
    TempDir elsewhere;
    ASSERT_TRUE(kit.makeDirectoryAtPath(home.path() + "/Library/Application Support"));
    ASSERT_EQ(::symlink(elsewhere.path().c_str(), dataDir.c_str()), 0);
    testing::internal::CaptureStderr();
    auto p = build({sdb});
    EXPECT_NE(
        testing::internal::GetCapturedStderr().find("Could not access Tolvarin storage directory."),
        std::string::npos);
    EXPECT_EQ(p->exitStatus(), 1);
    EXPECT_FALSE(p->catalogueReady());
    EXPECT_TRUE(p->currentDataFiles().empty());
    EXPECT_TRUE(elsewhere.entries().empty());
}

TEST_F(DataCatalogueTest, AFilePlantedAtANewHeadersNameIsLeftAloneAndNotTaken) {
    TempDir elsewhere;
    std::string target = elsewhere.path() + "/victim";
    ASSERT_TRUE(SafeFile::replace(target, "precious"));
    ASSERT_TRUE(kit.makeDirectoryAtPath(dataDir));
    std::string name = "M01-D-USB-" + dateNow() + ".hdr";
    ASSERT_EQ(::symlink(target.c_str(), (dataDir + "/" + name).c_str()), 0);

    auto p = build({sdb});
    EXPECT_EQ(SafeFile::read(target).value_or(""), "precious");
    EXPECT_TRUE(p->currentDataFiles().empty());
    EXPECT_EQ(p->exitStatus(), 0);
}

TEST_F(DataCatalogueTest, AnEntryThatCouldNeverBeFoundAgainGetsNoHeader) {
    auto p = build({});
    p->setDriveList({{"disk:1.0"},
                     {"disk:1.0", "DISK:sdg DES:D IFC:UND PART: SIZE:1.0 GB"},
                     {"volume:1.0", "DISK:sdg DES:V IFC:../x UUID:ok PART:1 SIZE:1.0 GB"}});
    p->obtainValidDataFiles();
    // Only the last is recognisable; its odd interface code stays out of
    // the file name.
    ASSERT_EQ(files().size(), 1u);
    EXPECT_EQ(files()[0], "M01-V-UND-" + p->fileDateString() + ".hdr");
    EXPECT_EQ(p->lastMediaCount(), 1);
}

TEST_F(DataCatalogueTest, UnitDeletionsTouchOnlyThatUnitsFiles) {
    const std::string unit = "M01-D-SAT-12-06-2026-18-35-54";
    const std::string later = "M01-D-SAT-12-06-2026-18-35-5"; // a prefix of the first
    for (const char* suffix : {".hdr", ".iss", ".isk", ".ssa", ".ska", ".dia", ".iss.tmp"}) {
        plant(unit + suffix, "x");
    }
    plant(later + ".iss", "x");
    plant("M02-V-USB-01-02-2010-10-11-12.iss", "x");

    DataFileSet set(dataDir, unit);
    EXPECT_EQ(set.issFile(), dataDir + "/" + unit + ".iss");
    EXPECT_EQ(set.sktFile(), dataDir + "/" + unit + ".skt");
    // The state counts this unit's files only, not the one whose prefix
    // merely begins like it, nor a temporary file.
    EXPECT_EQ(set.deviceState(kit), DataFileSet::hdr | DataFileSet::iss | DataFileSet::isk |
                                        DataFileSet::ssa | DataFileSet::ska);

    set.deleteInitialScanFiles(kit);
    EXPECT_EQ(read(unit + ".iss"), "<missing>");
    EXPECT_EQ(read(unit + ".isk"), "<missing>");
    EXPECT_EQ(read(unit + ".ssa"), "x");
    EXPECT_EQ(read(later + ".iss"), "x");

    // No prefix (or one that reaches out of the directory) deletes nothing.
    EXPECT_EQ(DataFileSet(dataDir, "").deleteUnitFiles(kit), 0);
    EXPECT_EQ(DataFileSet(dataDir, "../x").deleteUnitFiles(kit), 0);
    EXPECT_EQ(files().size(), 7u);

    EXPECT_EQ(set.deleteUnitFiles(kit), 5);
    EXPECT_EQ(files(), (std::vector<std::string>{"M01-D-SAT-12-06-2026-18-35-5.iss",
                                                 "M02-V-USB-01-02-2010-10-11-12.iss"}));
}

} // namespace tolvarin
