#include "unitprobe/MediaStructure.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>

namespace tolvarin {

TEST(MediaStructure, SizesLoseAsterisksCountsAndBinaryUnits) {
    MediaStructure m;
    m.setPrimaryDiskSize("*465.8 Gi");
    EXPECT_EQ(m.primaryDiskSize(), "465.8 GB");
    m.setPrimaryDiskSize("*1.8 Ti");
    EXPECT_EQ(m.primaryDiskSize(), "1.8 TB");
    // Each unit is rewritten once: the second Gi stays.
    m.setPrimaryDiskSize("1 Gi 2 Mi 3 Ki 4 Gi");
    EXPECT_EQ(m.primaryDiskSize(), "1 GB 2 MB 3 KB 4 Gi");
    m.setVolumePartitionSize("232.6 Gi (249715376128 B) (487725344 512-byte blocks)");
    EXPECT_EQ(m.volumePartitionSize(), "232.6 GB ");
    m.setVolumePartitionFreeSpace("N/A");
    EXPECT_EQ(m.volumePartitionFreeSpace(), "N/A");
    // An absent value stays absent.
    m.setPrimaryDiskSize(std::nullopt);
    EXPECT_FALSE(m.primaryDiskSize());
}

TEST(MediaStructure, DisplayWordsForSchemesTypesAndInterfaces) {
    MediaStructure m;
    m.setPrimaryDiskPartitionType("GUID_partition_scheme");
    EXPECT_EQ(m.primaryDiskPartitionType(), "GUID Partition Scheme");
    m.setPrimaryDiskPartitionType("FDisk_partition_scheme");
    EXPECT_EQ(m.primaryDiskPartitionType(), "FDisk_partition_scheme");

    const std::pair<const char*, const char*> types[] = {
        {"Apple_HFSX", "Apple HFSX Volume"},
        {"Apple_CoreStorage", "Apple Core Storage"},
        {"Microsoft or Generic", "Microsoft Windows/DOS Volume"},
        {"Apple_Boot_RAID", "Boot or Recovery Volume"},
        {"Linux_Filesystem", "Linux Volume"},
        {"N/A", "N/A"},
        {"DOS_FAT_32", "Unidentified Volume Format"},
    };
    for (const auto& [raw, shown] : types) {
        m.setVolumePartitionType(raw);
        EXPECT_EQ(m.volumePartitionType(), shown) << raw;
    }
    const std::pair<const char*, const char*> interfaces[] = {
        {"SATA", "Serial ATA Hard Drive"},
        {"FireWire", "Firewire External Media"},
        {"SATA II", "Unidentified Media"},
        {"usb", "Unidentified Media"},
    };
    for (const auto& [raw, shown] : interfaces) {
        m.setInterfaceType(raw);
        EXPECT_EQ(m.interfaceType(), shown) << raw;
    }
}

TEST(MediaStructure, ShowContentsPrintsEveryFieldInOrder) {
    MediaStructure m;
    m.setIsPrimaryDisk(true);
    m.setPrimaryDiskID("sda");
    m.setVolumeName("Données");
    m.setIsEjectable("No");

    char* buffer = nullptr;
    size_t size = 0;
    std::FILE* out = ::open_memstream(&buffer, &size);
    ASSERT_NE(out, nullptr);
    m.showContents(out);
    std::fclose(out);
    std::string text(buffer, size);
    std::free(buffer);

    EXPECT_EQ(text.rfind("PRIMARY DISK DATA:\n isPrimaryDisk = 1\n primaryDiskID = sda\n"
                         " primaryDiskSize = (null)\n",
                         0),
              0u)
        << text;
    EXPECT_NE(text.find("\n\nVOLUME/PARTITION INFORMATION (IF APPLICABLE):\n volumeDiskID = "
                        "(null)\n volumePartitionType = (null)\n volumeFileSystem = (null)\n"
                        " volumeName = Données\n"),
              std::string::npos);
    EXPECT_NE(text.find("\n\nGENERAL INFORMATION ABOUT THIS DEVICE:\n SMARTStatus = (null)\n"),
              std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 20), " isEjectable = No\n\n\n");
}

} // namespace tolvarin
