#include "app/DriveListLoader.h"
#include "cli/ListCommand.h"
#include "platform/System.h"
#include "tests/support/FakeDiskTool.h"

#include <gtest/gtest.h>

namespace tolvarin {

namespace {

// The modules as the build lays them out.
class DriveListLoaderTest : public testing::Test {
  protected:
    ScopedEnv resources{"TOLVARIN_RESOURCES", std::string(TOLVARIN_BUILD_DIR) + "/Resources"};
};

int countCalls(const FakeDiskTool& tool, const std::string& call) {
    auto calls = tool.calls();
    return static_cast<int>(std::count(calls.begin(), calls.end(), call));
}

Media row(const std::string& disk, const std::string& vol, const std::string& size,
          const std::string& name) {
    Media m;
    m.setIsPrimaryDisk(vol.empty());
    m.setPrimaryDiskID(disk);
    m.setPrimaryDiskSize(size);
    m.setVolumeDiskID(vol);
    m.setVolumePartitionSize(size + " ");
    m.setVolumeName(name);
    m.setPrimaryDiskPartitionType("GUID Partition Scheme");
    m.setVolumePartitionType(name.empty() ? "No File System" : "Linux Volume");
    m.setVolumeFileSystem(name.empty() ? "" : "ext4");
    m.setInterfaceType("Serial ATA Hard Drive");
    m.setSMARTStatus(vol.empty() ? "Verified" : "");
    return m;
}

} // namespace

TEST_F(DriveListLoaderTest, LoadsTheModuleAndCopiesEveryRecord) {
    FakeDiskTool tool(unitprobeData("linux"));
    DriveListLoader loader;
    std::vector<Media> media = loader.loadMediaList("UNKNOWN");
    ASSERT_EQ(media.size(), 6u);
    EXPECT_EQ(loader.attempts(), 1);
    EXPECT_TRUE(loader.problem().empty());

    EXPECT_TRUE(media[0].isPrimaryDisk());
    EXPECT_EQ(media[0].primaryDiskID(), "sda");
    EXPECT_EQ(media[0].UUID(), "0x5000c500a1b2c3d4");
    EXPECT_EQ(media[0].volumeName(), "N/A");
    EXPECT_FALSE(media[1].isPrimaryDisk());
    EXPECT_EQ(media[1].volumeDiskID(), "sda2");
    EXPECT_EQ(media[1].volumeName(), "Données");
    // Fields the report left out read as the application's defaults.
    EXPECT_EQ(media[1].mediaType(), "Generic");
    EXPECT_EQ(media[3].isEjectable(), "Unavailable");
}

TEST_F(DriveListLoaderTest, AnEmptyListIsAskedForAgainAFewTimesOnly) {
    auto tool = FakeDiskTool::withScript("exit 0\n");
    DriveListLoader loader;
    EXPECT_TRUE(loader.loadMediaList("UNKNOWN").empty());
    EXPECT_EQ(loader.attempts(), DriveListLoader::kMaxLoadAttempts);
    EXPECT_EQ(countCalls(*tool, "list"), DriveListLoader::kMaxLoadAttempts);
    EXPECT_NE(loader.problem().find("printed nothing"), std::string::npos) << loader.problem();
}

TEST_F(DriveListLoaderTest, AMissingModuleIsFatalToTheCaller) {
    TempDir empty;
    ScopedEnv noModules("TOLVARIN_RESOURCES", empty.path());
    std::string heard;
    DriveListLoader loader([&](const std::string& why) { heard = why; });
    EXPECT_TRUE(loader.loadMediaList("UNKNOWN").empty());
    EXPECT_NE(heard.find("Unitprobe module could not be loaded"), std::string::npos) << heard;
    EXPECT_EQ(loader.attempts(), 1);
}

TEST_F(DriveListLoaderTest, ListCommandPrintsTheTable) {
    FakeDiskTool tool(unitprobeData("guid"));
    testing::internal::CaptureStdout();
    int status = runListCommand();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out.rfind("IDENTIFIER", 0), 0u) << out;
    EXPECT_NE(out.find("\n  disk0s2  "), std::string::npos) << out;
    EXPECT_NE(out.find("Macintosh HD"), std::string::npos);

    auto broken = FakeDiskTool::withScript("echo nonsense\n");
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    status = runListCommand();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, 3);
    EXPECT_NE(err.find("tolvarin-cli: no disks found: the disk tool"), std::string::npos) << err;
}

TEST(ListCommand, TableIndentsVolumesUnderTheirDiskInAlignedColumns) {
    std::string table = formatDriveTable({row("sda", "", "500.1 GB", "N/A"),
                                          row("sda", "sda2", "499.5 GB", "Données"),
                                          row("sda", "sda3", "0.5 GB", "")});
    EXPECT_EQ(table,
              "IDENTIFIER  SIZE      TYPE                   FILE SYSTEM  INTERFACE              "
              "SMART     NAME\n"
              "sda         500.1 GB  GUID Partition Scheme  -            Serial ATA Hard Drive  "
              "Verified  Primary Drive sda\n"
              "  sda2      499.5 GB  Linux Volume           ext4         Serial ATA Hard Drive  "
              "-         Données\n"
              "  sda3      0.5 GB    No File System         -            Serial ATA Hard Drive  "
              "-         -\n");

    nlohmann::json list =
        driveListJson({row("sda", "", "500.1 GB", "N/A"), row("sda", "sda3", "0.5 GB", "")});
    EXPECT_EQ(list["command"], "list");
    ASSERT_EQ(list["units"].size(), 2u);
    const nlohmann::json& disk = list["units"][0];
    EXPECT_EQ(disk["kind"], "disk");
    EXPECT_EQ(disk["identifier"], "sda");
    EXPECT_EQ(disk["smart"], "Verified");
    EXPECT_TRUE(disk["fileSystem"].is_null());
    const nlohmann::json& volume = list["units"][1];
    EXPECT_EQ(volume["kind"], "volume");
    EXPECT_EQ(volume["identifier"], "sda3");
    EXPECT_EQ(volume["disk"], "sda");
    EXPECT_EQ(volume["size"], "0.5 GB");
    EXPECT_TRUE(volume["name"].is_null());
}

} // namespace tolvarin
