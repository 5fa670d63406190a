#include "unitprobe/MediaStructure.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>

TEST(MediaStructure, FreshRecordIsAVolumeWithEveryTextAbsent) {
    MediaStructure m;
    EXPECT_FALSE(m.isPrimaryDisk());
    EXPECT_FALSE(m.primaryDiskID());
    EXPECT_FALSE(m.volumeName());
    EXPECT_FALSE(m.UUID());
    // Normalising setters keep an absent value absent.
    m.setPrimaryDiskSize(std::nullopt);
    m.setVolumePartitionType(std::nullopt);
    m.setInterfaceType(std::nullopt);
    EXPECT_FALSE(m.primaryDiskSize());
    EXPECT_FALSE(m.volumePartitionType());
    EXPECT_FALSE(m.interfaceType());
}

TEST(MediaStructure, DiskSizeLosesItsAsteriskAndBinaryUnits) {
    MediaStructure m;
    m.setPrimaryDiskSize("*465.8 Gi");
    EXPECT_EQ(m.primaryDiskSize(), "465.8 GB");
    m.setPrimaryDiskSize("232.9 GB");
    EXPECT_EQ(m.primaryDiskSize(), "232.9 GB");
    m.setPrimaryDiskSize("*1.8 Ti");
    EXPECT_EQ(m.primaryDiskSize(), "1.8 TB");
    // Each unit is rewritten once: the second Gi stays.
    m.setPrimaryDiskSize("1 Gi 2 Mi 3 Ki 4 Gi");
    EXPECT_EQ(m.primaryDiskSize(), "1 GB 2 MB 3 KB 4 Gi");
}

TEST(MediaStructure, VolumeSizesAreCutBeforeTheCounts) {
    MediaStructure m;
    m.setVolumePartitionSize("232.6 Gi (249715376128 B) (487725344 512-byte blocks)");
    EXPECT_EQ(m.volumePartitionSize(), "232.6 GB ");
    m.setVolumePartitionFreeSpace("12.0 Mi");
    EXPECT_EQ(m.volumePartitionFreeSpace(), "12.0 MB");
    m.setVolumePartitionFreeSpace("N/A");
    EXPECT_EQ(m.volumePartitionFreeSpace(), "N/A");
}

TEST(MediaStructure, PartitionSchemesOutsideTheTableAreKept) {
    MediaStructure m;
    const std::pair<const char*, const char*> cases[] = {
        {"Apple_partition_scheme", "Apple Partition Scheme"},
        {"GUID_partition_scheme", "GUID Partition Scheme"},
        {"Apple_HFS", "Apple HFS"},
        {"Apple_HFSX", "Apple HFSX"},
        {"CD_partition_scheme", "CD Partition Scheme"},
        {"FDisk_partition_scheme", "FDisk_partition_scheme"},
        {"guid_partition_scheme", "guid_partition_scheme"},
    };
    for (const auto& [raw, shown] : cases) {
        m.setPrimaryDiskPartitionType(raw);
        EXPECT_EQ(m.primaryDiskPartitionType(), shown) << raw;
    }
}

TEST(MediaStructure, VolumeTypesHaveNoPassThrough) {
    MediaStructure m;
    const std::pair<const char*, const char*> cases[] = {
        {"Apple_HFS", "Apple HFS Volume"},
        {"Apple_HFSX", "Apple HFSX Volume"},
        {"Apple_CoreStorage", "Apple Core Storage"},
        {"Microsoft or Generic", "Microsoft Windows/DOS Volume"},
        {"Microsoft Basic Data", "Microsoft Windows/DOS Volume"},
        {"Apple_Boot_RAID", "Boot or Recovery Volume"},
        {"Linux_Filesystem", "Linux Volume"},
        {"N/A", "N/A"},
        {"DOS_FAT_32", "Unidentified Volume Format"},
        {"Apple_HFS ", "Unidentified Volume Format"},
    };
    for (const auto& [raw, shown] : cases) {
        m.setVolumePartitionType(raw);
        EXPECT_EQ(m.volumePartitionType(), shown) << raw;
    }
}

TEST(MediaStructure, InterfaceWordsMatchExactly) {
    MediaStructure m;
    const std::pair<const char*, const char*> cases[] = {
        {"ATA", "Parallel ATA Hard Drive"},      {"SATA", "Serial ATA Hard Drive"},
        {"ATAPI", "ATAPI Optical Drive"},        {"USB", "USB External Media"},
        {"FireWire", "Firewire External Media"}, {"SATA II", "Unidentified Media"},
        {"usb", "Unidentified Media"},           {"NVMe", "Unidentified Media"},
    };
    for (const auto& [raw, shown] : cases) {
        m.setInterfaceType(raw);
        EXPECT_EQ(m.interfaceType(), shown) << raw;
    }
}

TEST(MediaStructure, ShowContentsPrintsEveryFieldInOrder) {
    MediaStructure m;
    m.setIsPrimaryDisk(true);
    m.setPrimaryDiskID("sda");
    m.setPrimaryDiskSize("*500.1 GB");
    m.setPrimaryDiskPartitionType("GUID_partition_scheme");
    m.setVolumeName("Données");
    m.setSMARTStatus("Verified");

    char* buffer = nullptr;
    size_t size = 0;
    std::FILE* out = ::open_memstream(&buffer, &size);
    ASSERT_NE(out, nullptr);
    m.showContents(out);
    std::fclose(out);
    std::string text(buffer, size);
    std::free(buffer);

    EXPECT_EQ(text, "PRIMARY DISK DATA:\n"
                    " isPrimaryDisk = 1\n"
                    " primaryDiskID = sda\n"
                    " primaryDiskSize = 500.1 GB\n"
                    " primaryDiskPartitionType = GUID Partition Scheme\n"
                    "\nVOLUME/PARTITION INFORMATION (IF APPLICABLE):\n"
                    " volumeDiskID = (null)\n"
                    " volumePartitionType = (null)\n"
                    " volumeFileSystem = (null)\n"
                    " volumeName = Données\n"
                    " volumePartitionSize = (null)\n"
                    " volumePartitionFreeSpace = (null)\n"
                    "\nGENERAL INFORMATION ABOUT THIS DEVICE:\n"
                    " SMARTStatus = Verified\n"
                    " UUID = (null)\n"
                    " isInternal = (null)\n"
                    " interfaceType = (null)\n"
                    " mediaType = (null)\n"
                    " isBootable = (null)\n"
                    " isEjectable = (null)\n"
                    "\n\n");
}
