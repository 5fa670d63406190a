#include "unitprobe/Unitprobe.h"
#include "tests/support/FakeDiskTool.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace tolvarin {

namespace {

// Parses as if running on the given kernel release.
class RecordedUnitprobe : public Unitprobe {
  public:
    explicit RecordedUnitprobe(std::string release) : release_(std::move(release)) {}

  protected:
    std::string kernelRelease() const override { return release_; }

  private:
    std::string release_;
};

constexpr const char* kLeopard = "9.8.0";
constexpr const char* kSnowLeopard = "10.8.0";
constexpr const char* kTiger = "8.11.1";
constexpr const char* kMavericks = "13.4.0";
constexpr const char* kLinux = "6.1.0-18-amd64";

std::string text(const MediaStructure::Text& value) {
    return value ? *value : "<absent>";
}

// The identity of a record in one line: P(rimary) or V(olume), disk, volume.
std::string who(const MediaStructure& m) {
    return std::string(m.isPrimaryDisk() ? "P " : "V ") + text(m.primaryDiskID()) + " " +
           text(m.volumeDiskID());
}

std::vector<std::string> whoAll(const std::vector<MediaStructure>& records) {
    std::vector<std::string> names;
    std::transform(records.begin(), records.end(), std::back_inserter(names), who);
    return names;
}

bool ran(const FakeDiskTool& tool, const std::string& call) {
    auto calls = tool.calls();
    return std::find(calls.begin(), calls.end(), call) != calls.end();
}

struct Enumeration {
    std::unique_ptr<FakeDiskTool> tool;
    std::unique_ptr<RecordedUnitprobe> probe;
    const std::vector<MediaStructure>& records() const { return probe->mediaStructureArray(); }
};

Enumeration enumerate(const std::string& scenario, const std::string& release) {
    Enumeration e;
    e.tool = std::make_unique<FakeDiskTool>(unitprobeData(scenario));
    e.probe = std::make_unique<RecordedUnitprobe>(release);
    e.probe->initWithOSString("ignored");
    return e;
}

} // namespace

TEST(Unitprobe, GuidDiskGivesItsRecordThenItsHfsVolume) {
    auto e = enumerate("guid", kMavericks);
    // EFI is no volume; Linux swap is one.
    ASSERT_EQ(whoAll(e.records()),
              (std::vector<std::string>{"P disk0 N/A", "V disk0 disk0s2", "P disk1 N/A",
                                        "V disk1 disk1s1", "V disk1 disk1s2"}));
    const MediaStructure& disk = e.records()[0];
    EXPECT_EQ(disk.primaryDiskSize(), "500.1 GB");
    EXPECT_EQ(disk.primaryDiskPartitionType(), "GUID Partition Scheme");
    EXPECT_EQ(disk.interfaceType(), "Serial ATA Hard Drive");
    EXPECT_EQ(disk.SMARTStatus(), "Verified");
    EXPECT_EQ(disk.UUID(), "");
    EXPECT_EQ(disk.isBootable(), "NO");
    EXPECT_EQ(disk.volumePartitionFreeSpace(), "N/A");

    const MediaStructure& volume = e.records()[1];
    EXPECT_EQ(volume.volumeName(), "Macintosh HD");
    EXPECT_EQ(volume.volumePartitionType(), "Apple HFS Volume");
    EXPECT_EQ(volume.volumePartitionSize(), "499.8 GB ");
    EXPECT_EQ(volume.UUID(), "5B9C7E3A-3F1D-3C5E-9A8B-1D2E3F4A5B6C");
    // The disk's size, scheme and media type, not the partition report's.
    EXPECT_EQ(volume.primaryDiskSize(), "500.1 GB");
    EXPECT_EQ(volume.primaryDiskPartitionType(), "GUID Partition Scheme");
    EXPECT_EQ(volume.mediaType(), "Generic");
    EXPECT_EQ(e.records()[3].volumePartitionType(), "Boot or Recovery Volume");
    // Whole disks are asked about by device path, partitions by identifier;
    // the EFI row is never looked at.
    EXPECT_EQ(e.tool->calls(),
              (std::vector<std::string>{"list", "info /dev/disk0", "info disk0s2",
                                        "info /dev/disk1", "info disk1s1", "info disk1s2"}));
}

TEST(Unitprobe, WholeDiskVolumeIsNamedFromTheListingAndSwallowsTheNextRow) {
    auto e = enumerate("wholehfs", kLeopard);
    ASSERT_EQ(whoAll(e.records()), (std::vector<std::string>{"P disk1 N/A", "V disk1 disk1"}));
    EXPECT_EQ(e.records()[0].primaryDiskSize(), "931.5 GB");
    EXPECT_EQ(e.records()[0].primaryDiskPartitionType(), "Apple HFS");
    EXPECT_EQ(e.records()[0].interfaceType(), "Firewire External Media");
    EXPECT_EQ(e.records()[1].volumeName(), "Backup");
    EXPECT_EQ(e.records()[1].volumePartitionFreeSpace(), "412.0 GB ");
    EXPECT_FALSE(ran(*e.tool, "info disk1s1"));
}

TEST(Unitprobe, FatNtfsAndMicrosoftPartitionsAreVolumesTypedByTheirReports) {
    auto e = enumerate("fat", kLinux);
    ASSERT_EQ(whoAll(e.records()),
              (std::vector<std::string>{"P disk2 N/A", "V disk2 disk2s1", "V disk2 disk2s2",
                                        "V disk2 disk2s3", "V disk2 disk2s4"}));
    EXPECT_EQ(e.records()[1].volumePartitionType(), "Unidentified Volume Format");
    EXPECT_EQ(e.records()[3].volumePartitionType(), "Microsoft Windows/DOS Volume");
}

TEST(Unitprobe, RaidMembersAreLeftOutAndOnLeopardTheSetShowsItsFirstMember) {
    for (const char* release : {kLeopard, kSnowLeopard}) {
        bool leopard = std::string(release) == kLeopard;
        auto e = enumerate("raid", release);
        ASSERT_EQ(whoAll(e.records()), (std::vector<std::string>{"P disk0 N/A", "V disk0 disk0s2",
                                                                 "P disk3 N/A", "V disk3 disk3"}));
        EXPECT_FALSE(ran(*e.tool, "info /dev/disk1"));
        EXPECT_EQ(ran(*e.tool, "listRAID"), leopard);
        EXPECT_EQ(ran(*e.tool, "info disk1"), leopard);
        for (const MediaStructure* set : {&e.records()[2], &e.records()[3]}) {
            EXPECT_EQ(set->SMARTStatus(), leopard ? "Verified" : "");
            EXPECT_EQ(set->interfaceType(),
                      leopard ? "Serial ATA Hard Drive" : "Unidentified Media");
        }
    }
}

TEST(Unitprobe, OpticalDriveGetsNoRecordAndNoRowOfItIsExamined) {
    auto e = enumerate("optical", kMavericks);
    EXPECT_EQ(whoAll(e.records()), (std::vector<std::string>{"P disk0 N/A", "V disk0 disk0s2",
                                                             "P disk2 N/A", "V disk2 disk2"}));
    EXPECT_FALSE(ran(*e.tool, "info disk1s1"));
}

TEST(Unitprobe, ReleaseChoosesTheColumnLayout) {
    auto e = enumerate("tiger", kTiger);
    ASSERT_EQ(whoAll(e.records()), (std::vector<std::string>{"P disk0 N/A", "V disk0 disk0s3"}));
    EXPECT_EQ(e.records()[0].primaryDiskSize(), "74.5 GB");
    EXPECT_EQ(e.records()[0].primaryDiskPartitionType(), "Apple Partition Scheme");
    EXPECT_EQ(e.records()[1].volumeName(), "Macintosh HD");

    const std::pair<const char*, const char*> releases[] = {
        {kTiger, "Tiger"}, {"7.9.0", "Panther"}, {kLeopard, "Leopard"}, {"14.0.0", "UNKNOWN"}};
    for (const auto& [release, name] : releases) {
        RecordedUnitprobe probe(release);
        probe.initWithOSString("");
        EXPECT_EQ(probe.osString(), name);
        bool narrow = probe.osString() == "Tiger" || probe.osString() == "Panther";
        EXPECT_EQ(probe.listIndex()[4], narrow ? 58u : 68u) << release;
    }
}

TEST(Unitprobe, CoreStorageVolumeNameDependsOnTheReportOrder) {
    auto e = enumerate("corestorage", kMavericks);
    ASSERT_EQ(whoAll(e.records()),
              (std::vector<std::string>{"P disk0 N/A", "V disk0 disk0s2", "V disk0 disk0s3",
                                        "V disk0 disk0s4"}));
    // Name after the type: the report's name stands; before it: the type renames it.
    EXPECT_EQ(e.records()[1].volumeName(), "Macintosh HD");
    EXPECT_EQ(e.records()[1].volumePartitionType(), "Apple Core Storage");
    EXPECT_EQ(e.records()[3].volumeName(), "Apple Core Storage");
}

TEST(Unitprobe, LinesShorterThanTheColumnsGiveEmptyColumnsAndNoRecord) {
    auto e = enumerate("short", kLinux);
    // The cut rows name no device: they give no volume.
    ASSERT_EQ(whoAll(e.records()), (std::vector<std::string>{"P disk0 N/A", "V disk0 disk0s1"}));
    EXPECT_EQ(e.records()[1].volumePartitionSize(), "20.0 GB ");
}

TEST(Unitprobe, GarbledRowsOfTheListingMakeUpNoRecords) {
    auto tool = FakeDiskTool::withScript(R"(case "$1" in list) cat <<'EOF'
/dev/disk0
   #:                       TYPE NAME                    SIZE       IDENTIFIER
   0:      GUID_partition_scheme                        *53.7 GB     isk0
   1:                  Apple_HFS Data                   20.0 GB     disk0s1
/dev/disk1
   #:                       TYPE NAME                    SIZE       IDENTIFIER
   0:      GUID_partition_scheme                        *53.7 GB    disk1
   1:                  Apple_HFS Data                   20.0 GB     disk0s1
   2:                  Apple_HFS Mine                   20.0 GB     disk1s2
   3:                  Apple_HFS Blank                  20.0 GB     
   4:                  Apple_HFS Slash                  20.0 GB     disk1/../x
/dev/
   #:                       TYPE NAME                    SIZE       IDENTIFIER
   0:      GUID_partition_scheme                        *53.7 GB    
   1:                  Apple_HFS Data                   20.0 GB     s1
EOF
;; esac
)");
    RecordedUnitprobe probe(kLinux);
    probe.initWithOSString("");
    ASSERT_EQ(whoAll(probe.mediaStructureArray()),
              (std::vector<std::string>{"P disk1 N/A", "V disk1 disk1s2"}));
    // A report that says nothing leaves the fields absent, UUID and SMART empty.
    EXPECT_FALSE(probe.mediaStructureArray()[1].volumeName());
    EXPECT_EQ(probe.mediaStructureArray()[1].UUID(), "");
    EXPECT_EQ(probe.mediaStructureArray()[1].SMARTStatus(), "");
    EXPECT_FALSE(ran(*tool, "info /dev/disk0"));
}

TEST(Unitprobe, AHangingDiskToolIsStoppedAndItsPartOfAListingIgnored) {
    ScopedEnv limit("TOLVARIN_TOOL_TIME_LIMIT_MS", "150");
    for (const char* script : {"exec sleep 30\n", "echo /dev/sda; exec sleep 30\n"}) {
        auto tool = FakeDiskTool::withScript(script);
        RecordedUnitprobe probe(kLinux);
        probe.initWithOSString("");
        EXPECT_TRUE(probe.mediaStructureArray().empty()) << script;
        EXPECT_NE(probe.diskToolProblem().find("did not finish within 0.15 s"), std::string::npos)
            << probe.diskToolProblem();
    }
    // A tool that ends but leaves a child holding its output is read to its
    // own end, not to the child's.
    ScopedEnv longLimit("TOLVARIN_TOOL_TIME_LIMIT_MS", "600000");
    auto tool = FakeDiskTool::withScript("sleep 30 &\ncase \"$1\" in list) cat '" +
                                         unitprobeData("linux") + "/list.txt' ;; esac\n");
    RecordedUnitprobe probe(kLinux);
    probe.initWithOSString("");
    EXPECT_EQ(probe.mediaStructureArray().size(), 6u);
}

TEST(Unitprobe, LinuxDevicesAndFilesystemsAreListed) {
    auto e = enumerate("linux", kLinux);
    ASSERT_EQ(whoAll(e.records()),
              (std::vector<std::string>{"P sda N/A", "V sda sda2", "P nvme0n1 N/A",
                                        "V nvme0n1 nvme0n1p1", "P loop0 N/A", "V loop0 loop0"}));
    EXPECT_EQ(e.records()[0].UUID(), "0x5000c500a1b2c3d4");
    // An accented name does not shift the columns after it.
    EXPECT_EQ(e.records()[1].volumeName(), "Données");
    EXPECT_EQ(e.records()[1].volumePartitionType(), "Linux Volume");
    EXPECT_EQ(e.records()[1].volumePartitionSize(), "499.5 GB ");
    EXPECT_EQ(e.records()[5].volumeName(), "image");
}

TEST(Unitprobe, ABrokenDiskToolGivesAnEmptyListAndSaysWhy) {
    const std::pair<const char*, const char*> cases[] = {
        {"exit 1\n", "printed nothing and exited with status 1"},
        {"echo 'Usage: disktool list'\n", "listed no disk; it printed \"Usage: disktool list\""},
        {"head -c 3000 /dev/urandom | tr -d '/'\n", "listed no disk"},
        {"echo /dev/sda; head -c 3000 /dev/urandom\n", "listed no usable disk"},
    };
    for (const auto& [script, problem] : cases) {
        auto tool = FakeDiskTool::withScript(script);
        RecordedUnitprobe probe(kLinux);
        probe.initWithOSString("");
        EXPECT_TRUE(probe.mediaStructureArray().empty()) << script;
        EXPECT_NE(probe.diskToolProblem().find(problem), std::string::npos)
            << probe.diskToolProblem();
    }
    ScopedEnv missing("TOLVARIN_DISKTOOL", "/nonexistent/disktool");
    RecordedUnitprobe probe(kLinux);
    probe.initWithOSString("");
    EXPECT_TRUE(probe.mediaStructureArray().empty());
    EXPECT_NE(probe.diskToolProblem().find("could not be started"), std::string::npos);
}

TEST(Unitprobe, ReportAndListingHelpers) {
    EXPECT_EQ(Unitprobe::extractString("   Mount Point: /Volumes/a:b "), "/Volumes/a");
    EXPECT_FALSE(Unitprobe::testIfOptical({"Optical Drive Type: CD", "   Optical Media Type: x"}));
    EXPECT_TRUE(Unitprobe::isFATVolume("msdos"));
    // Columns count characters; past the end they are empty or cut; a stray
    // continuation byte is kept, not overrun.
    EXPECT_EQ(Unitprobe::column("ab éé cd", 3, 6), "éé");
    EXPECT_EQ(Unitprobe::column("short", 10, 20), "");
    EXPECT_EQ(Unitprobe::column("short", 2, 20), "ort");
    EXPECT_EQ(Unitprobe::column("a\x80z", 0, 1), "a\x80");
}

} // namespace tolvarin
