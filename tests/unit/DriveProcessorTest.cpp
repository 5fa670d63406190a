#include "store/DriveProcessor.h"
#include "app/DriveListLoader.h"
#include "platform/Paths.h"
#include "tests/support/TestMedia.h"

#include <gtest/gtest.h>

namespace tolvarin {

namespace {

using Entry = std::vector<std::string>;

} // namespace

TEST(DriveProcessor, DiskWithOneVolumeGivesTwoEntriesNamingTheVolumeTwice) {
    Media disk0 = testDisk("disk0", "232.9 GB", "Serial ATA Hard Drive");
    Media hfs = testVolume(disk0, "disk0s2", "232.6 GB ", "5B9C7E3A-3F1D-3C5E-9A8B-1D2E3F4A5B6C");
    DriveProcessor p({disk0, hfs}, "alice", "/home/alice");

    EXPECT_EQ(p.primaryDrives(), Entry{"DISK:disk0 DES:D IFC:SAT SIZE:232.9 GB"});
    const std::string v = "DISK:disk0 DES:V IFC:SAT UUID:5B9C7E3A-3F1D-3C5E-9A8B-1D2E3F4A5B6C "
                          "PART:s2 SIZE:232.6 GB ";
    EXPECT_EQ(p.volumes(), Entry{v});
    EXPECT_EQ(p.driveList(), (std::vector<Entry>{{"disk:232.9", v}, {"volume:232.6", v}}));
}

TEST(DriveProcessor, PartIsTheVolumeIdentifierWithoutTheDisk) {
    Media sda = testDisk("sda", "500.1 GB", "Serial ATA Hard Drive");
    Media nvme = testDisk("nvme0n1", "1.0 TB", "Unidentified Media");
    Media loop1 = testDisk("loop1", "1.0 GB", "Unidentified Media");
    Media loop10 = testDisk("loop10", "2.0 GB", "Unidentified Media");
    DriveProcessor p({sda, testVolume(sda, "sda2", "499.5 GB ", "u1"), nvme,
                      testVolume(nvme, "nvme0n1p2", "1.0 TB ", "u2"), loop1, loop10,
                      testVolume(loop10, "loop10p1", "2.0 GB ", "")},
                     "alice", "/home/alice");
    ASSERT_EQ(p.volumes().size(), 3u);
    EXPECT_NE(p.volumes()[0].find(" PART:2 "), std::string::npos) << p.volumes()[0];
    EXPECT_NE(p.volumes()[1].find(" PART:p2 "), std::string::npos) << p.volumes()[1];
    EXPECT_EQ(p.volumes()[2], "DISK:loop10 DES:V IFC:UND UUID:EMPTY PART:p1 SIZE:2.0 GB ");

    // Each disk holds only its own volumes: loop1 is not loop10.
    ASSERT_EQ(p.driveList().size(), 7u);
    EXPECT_EQ(p.driveList()[2], (Entry{"disk:1.0", "DISK:loop1 DES:D IFC:UND UUID:EMPTY PART: "
                                                   "SIZE:1.0 GB"}));
    EXPECT_EQ(p.driveList()[3], (Entry{"disk:2.0", p.volumes()[2]}));
    EXPECT_EQ(p.driveList()[6], (Entry{"volume:2.0", p.volumes()[2]}));
}

TEST(DriveProcessor, InterfaceCodesComeFromTheExactDisplayText) {
    EXPECT_EQ(DriveProcessor::interfaceCode("Parallel ATA Hard Drive"), "ATA");
    EXPECT_EQ(DriveProcessor::interfaceCode("Firewire External Media"), "FIR");
    EXPECT_EQ(DriveProcessor::interfaceCode("FireWire External Media"), "UND");
    EXPECT_EQ(DriveProcessor::interfaceCode("Unavailable"), "UND");
}

TEST(DriveProcessor, DiskWithoutVolumesCarriesItsOwnIdentityLine) {
    DriveProcessor p({testDisk("sdb", "2.0 TB", "USB External Media", "0x5000c500a1b2c3d4"),
                      testDisk("sdc", "16.0 GB", "USB External Media"),
                      testDisk("sdd", "1.0 TB", "Serial ATA Hard Drive", "  WD-WX 1234 ")},
                     "alice", "/home/alice");
    ASSERT_EQ(p.driveList().size(), 3u);
    EXPECT_EQ(
        p.driveList()[0],
        (Entry{"disk:2.0", "DISK:sdb DES:D IFC:USB UUID:0x5000c500a1b2c3d4 PART: SIZE:2.0 TB"}));
    EXPECT_EQ(p.driveList()[1],
              (Entry{"disk:16.0", "DISK:sdc DES:D IFC:USB UUID:EMPTY PART: SIZE:16.0 GB"}));
    // A serial number with blanks stays one field of the line.
    EXPECT_EQ(p.driveList()[2][1], "DISK:sdd DES:D IFC:SAT UUID:WD-WX_1234 PART: SIZE:1.0 TB");
    // The identity line stands in for volumes only: no entry of its own.
    EXPECT_TRUE(p.volumes().empty());
}

TEST(DriveProcessor, AbsentValuesReadAsTheirDefaults) {
    MediaStructure record; // a volume whose report said nothing
    record.setPrimaryDiskID("sde");
    record.setVolumeDiskID("sde1");
    record.setUUID("");
    record.setSMARTStatus("");
    Media m = DriveListLoader::mediaFromRecord(record);
    EXPECT_EQ(m.volumeName(), "Generic");
    EXPECT_EQ(m.mediaType(), "Generic");
    EXPECT_EQ(m.interfaceType(), "Unavailable");
    EXPECT_EQ(m.volumePartitionSize(), "Unavailable");
    EXPECT_EQ(m.isEjectable(), "Unavailable");
    EXPECT_EQ(m.primaryDiskSize(), "");

    DriveProcessor p({m}, "alice", "/home/alice");
    EXPECT_EQ(p.volumes(), Entry{"DISK:sde DES:V IFC:UND UUID:EMPTY PART:1 SIZE:Unavailable"});
    EXPECT_EQ(p.driveList(), (std::vector<Entry>{{"volume:Unavailable", p.volumes()[0]}}));
}

TEST(DriveProcessor, ARecordNamesTheDeviceItsEntryStandsFor) {
    const std::string nvmeVolume = "DISK:nvme0n1 DES:V IFC:UND UUID:u2 PART:p2 SIZE:1.0 TB ";
    CurrentDriveInfo volume =
        CurrentDriveInfo::forDriveEntry({"volume:1.0", nvmeVolume}, "/d/M01.hdr");
    EXPECT_EQ(volume.currentDisk(), "nvme0n1");
    EXPECT_FALSE(volume.isPrimary());
    EXPECT_EQ(volume.scanningString(), Paths::rawDevicePathForIdentifier("nvme0n1p2"));
    EXPECT_EQ(volume.fullDataFileName(), "/d/M01.hdr");

    // A whole disk opens the disk, whatever its first volume is.
    CurrentDriveInfo whole = CurrentDriveInfo::forDriveEntry({"disk:1.0", nvmeVolume}, "");
    EXPECT_TRUE(whole.isPrimary());
    EXPECT_EQ(whole.scanningString(), Paths::rawDevicePathForIdentifier("nvme0n1"));

    // Without an identity line there is no device: never the bare device folder.
    CurrentDriveInfo none = CurrentDriveInfo::forDriveEntry({"disk:1.0"}, "");
    EXPECT_EQ(none.currentDisk(), "");
    EXPECT_EQ(none.scanningString(), "");

    // The header line (and a target description line) of an identity line.
    EXPECT_EQ(DriveProcessor::headerLineFor(nvmeVolume), "UUID:u2 PART:p2 SIZE:1.0 TB ");
    EXPECT_EQ(DriveProcessor::headerLineFor("DISK:sdb DES:D"), "");
}

} // namespace tolvarin
