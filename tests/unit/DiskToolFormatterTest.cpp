#include "unitprobe/DiskToolFormatter.h"
#include "tests/support/TempDir.h"
#include "unitprobe/Unitprobe.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>

namespace tolvarin {

using nlohmann::json;

namespace {

std::string readData(const std::string& name) {
    std::ifstream in(std::string(TOLVARIN_TEST_DATA) + "/disktool/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

json lsblkData(const std::string& name) {
    auto parsed = DiskToolFormatter::parseLsblk(readData(name));
    EXPECT_TRUE(parsed.has_value()) << name;
    return parsed.value_or(json::object());
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
    }
    return out;
}

// The rows of one device block of a listing, cut into the five columns the
// enumeration reads (0, 5, 32, 56, 68 to the end), blanks trimmed.
std::vector<std::vector<std::string>> block(const std::string& listing, const std::string& header) {
    std::vector<std::vector<std::string>> rows;
    bool inside = false;
    for (const std::string& line : lines(listing)) {
        if (line.rfind("/dev/", 0) == 0) {
            inside = (line == header);
            continue;
        }
        if (!inside || line.empty() || line.rfind("   #:", 0) == 0) {
            continue;
        }
        std::vector<std::string> columns;
        for (auto [from, to] : {std::pair<size_t, size_t>{0, 5},
                                {5, 32},
                                {32, 56},
                                {56, 68},
                                {68, std::string::npos}}) {
            std::string c = from < line.size() ? line.substr(from, to - from) : "";
            c.erase(0, c.find_first_not_of(' '));
            c.erase(c.find_last_not_of(' ') + 1);
            columns.push_back(c);
        }
        rows.push_back(columns);
    }
    return rows;
}

using Row = std::vector<std::string>;

std::string valueOf(const std::string& report, const std::string& key) {
    for (const std::string& line : lines(report)) {
        if (line.rfind("   " + key + ":", 0) == 0) {
            std::string v = line.substr(key.size() + 4);
            return v.erase(0, v.find_first_not_of(' '));
        }
    }
    return "<absent>";
}

std::optional<json> smartData(const std::string& name) {
    return json::parse(readData(name));
}

ProcessResult printed(const std::string& text, int status = 0) {
    ProcessResult r;
    r.started = true;
    r.exitStatus = status;
    r.output = text;
    return r;
}

// The tool on recorded texts: lsblk's listing and one smartctl answer per disk.
DiskToolFormatter::Sources recorded(const std::string& listing,
                                    std::vector<std::string>* smartAsked = nullptr) {
    DiskToolFormatter::Sources s;
    s.listBlockDevices = [listing] { return printed(listing); };
    s.smartHealth = [smartAsked](const std::string& path) {
        if (smartAsked != nullptr) {
            smartAsked->push_back(path);
        }
        if (path == "/dev/sda") {
            return printed(readData("smart-passed.json"));
        }
        if (path == "/dev/nvme0n1") {
            return printed(readData("smart-nvme-passed.json"), 0);
        }
        if (path == "/dev/sdc") {
            return printed(readData("smart-failed.json"), 8);
        }
        return printed(readData("smart-unsupported.json"), 1);
    };
    return s;
}

} // namespace

TEST(DiskToolFormatter, SizesAreDecimalWithOneDecimalPlace) {
    EXPECT_EQ(DiskToolFormatter::formatSize(0), "0 B");
    EXPECT_EQ(DiskToolFormatter::formatSize(999), "999 B");
    EXPECT_EQ(DiskToolFormatter::formatSize(1000), "1.0 KB");
    EXPECT_EQ(DiskToolFormatter::formatSize(209715200), "209.7 MB");
    EXPECT_EQ(DiskToolFormatter::formatSize(500107862016), "500.1 GB");
    // Rounding up to 1000 of a unit moves to the next unit.
    EXPECT_EQ(DiskToolFormatter::formatSize(999950), "1.0 MB");
    EXPECT_EQ(DiskToolFormatter::formatSize(999949), "999.9 KB");
    EXPECT_EQ(DiskToolFormatter::formatSize(18000207937536), "18.0 TB");
    EXPECT_EQ(DiskToolFormatter::formatSize(UINT64_MAX), "18.4 EB");
}

TEST(DiskToolFormatter, ListingHasOneBlockPerDeviceInTheEnumerationsColumns) {
    std::string listing = DiskToolFormatter::formatList(lsblkData("machine.json"));
    std::vector<std::string> headers;
    for (const std::string& line : lines(listing)) {
        if (!line.empty() && line[0] != ' ') {
            headers.push_back(line);
        }
    }
    // No medium, nothing to test: the empty optical drive and zram0 are left out.
    EXPECT_EQ(headers, (std::vector<std::string>{"/dev/loop0", "/dev/sda", "/dev/sdb", "/dev/sr0",
                                                 "/dev/nvme0n1"}));

    EXPECT_EQ(block(listing, "/dev/sda"),
              (std::vector<Row>{{"0:", "GUID_partition_scheme", "", "*500.1 GB", "sda"},
                                {"1:", "EFI", "", "536.9 MB", "sda1"},
                                {"2:", "Linux_Filesystem", "root", "429.5 GB", "sda2"},
                                {"3:", "Microsoft Basic Data", "SHARED", "53.7 GB", "sda3"},
                                {"4:", "MS_Reserved", "", "16.8 MB", "sda4"},
                                {"5:", "Microsoft Basic Data", "Windows", "16.4 GB", "sda5"}}));
    EXPECT_EQ(block(listing, "/dev/nvme0n1"),
              (std::vector<Row>{{"0:", "GUID_partition_scheme", "", "*1.0 TB", "nvme0n1"},
                                {"1:", "EFI", "", "1.1 GB", "nvme0n1p1"},
                                {"2:", "Linux_Filesystem", "home", "982.0 GB", "nvme0n1p2"},
                                {"3:", "Linux_Swap", "", "17.2 GB", "nvme0n1p3"}}));
    // A file system on the whole device is row 0, named after its label.
    EXPECT_EQ(block(listing, "/dev/sdb"),
              (std::vector<Row>{{"0:", "Microsoft Basic Data", "STICK", "*8.0 GB", "sdb"}}));
    EXPECT_EQ(block(listing, "/dev/loop0"),
              (std::vector<Row>{{"0:", "Linux_Filesystem", "IMG", "*1.1 GB", "loop0"}}));
}

TEST(DiskToolFormatter, ReportsCarryTheKeysTheEnumerationReads) {
    json machine = lsblkData("machine.json");
    std::string disk =
        *DiskToolFormatter::formatInfo(machine, "/dev/sda", smartData("smart-passed.json"));
    EXPECT_EQ(valueOf(disk, "Device Identifier"), "sda");
    EXPECT_EQ(valueOf(disk, "Protocol"), "SATA");
    EXPECT_EQ(valueOf(disk, "SMART Status"), "Verified");
    EXPECT_EQ(valueOf(disk, "UUID"), "0x5002538e40a1b2c3"); // the WWN
    EXPECT_EQ(valueOf(disk, "Internal"), "Yes");
    EXPECT_EQ(valueOf(disk, "Ejectable"), "No");
    EXPECT_EQ(valueOf(disk, "Total Size"),
              "500.1 GB (500107862016 Bytes) (exactly 976773168 512-Byte-Units)");
    EXPECT_EQ(valueOf(disk, "Partition Type"), "<absent>");

    // Identifier, /dev path and raw path under the test device folder name
    // the same partition.
    ScopedEnv dev("TOLVARIN_DEV_DIR", "/tmp/devs");
    std::string part = *DiskToolFormatter::formatInfo(machine, "sda2", std::nullopt);
    EXPECT_EQ(DiskToolFormatter::formatInfo(machine, "/dev/sda2", std::nullopt), part);
    EXPECT_EQ(DiskToolFormatter::formatInfo(machine, "/tmp/devs/sda2", std::nullopt), part);
    EXPECT_EQ(valueOf(part, "Part of Whole"), "sda");
    EXPECT_EQ(valueOf(part, "Volume Name"), "root");
    EXPECT_EQ(valueOf(part, "Partition Type"), "Linux_Filesystem");
    EXPECT_EQ(valueOf(part, "Protocol"), "SATA"); // the disk's transport
    EXPECT_EQ(valueOf(part, "Volume UUID"), "3f1c2d4e-5a6b-4c7d-8e9f-0a1b2c3d4e5f");
    EXPECT_EQ(valueOf(part, "UUID"), "<absent>"); // the drive's identity is the disk's only
    EXPECT_EQ(valueOf(part, "Volume Free Space"),
              "312.3 GB (312345677824 Bytes) (exactly 610050152 512-Byte-Units)");

    std::string stick = *DiskToolFormatter::formatInfo(machine, "sdb", std::nullopt);
    EXPECT_EQ(valueOf(stick, "Protocol"), "USB");
    EXPECT_EQ(valueOf(stick, "Partition Type"), "Microsoft Basic Data");
    EXPECT_EQ(valueOf(stick, "File System Personality"), "MS-DOS FAT");
    EXPECT_EQ(valueOf(stick, "UUID"), "4C530001230815117422"); // no WWN: the serial
    EXPECT_EQ(valueOf(stick, "Volume UUID"), "1A2B-3C4D");
    EXPECT_EQ(valueOf(stick, "Internal"), "No");
    EXPECT_EQ(valueOf(stick, "Ejectable"), "Yes");
    EXPECT_EQ(valueOf(stick, "SMART Status"), "Not Supported");

    std::string nvme = *DiskToolFormatter::formatInfo(machine, "nvme0n1p2", std::nullopt);
    EXPECT_EQ(valueOf(nvme, "Protocol"), "NVMe");
    std::string loop = *DiskToolFormatter::formatInfo(machine, "loop0", std::nullopt);
    EXPECT_EQ(valueOf(loop, "Protocol"), "Disk Image");
    EXPECT_EQ(valueOf(loop, "Internal"), "No");
    EXPECT_EQ(valueOf(loop, "UUID"), "<absent>");

    std::string optical = *DiskToolFormatter::formatInfo(machine, "sr0", std::nullopt);
    EXPECT_NE(valueOf(optical, "Optical Drive Type"), "<absent>");
    EXPECT_EQ(valueOf(optical, "Protocol"), "ATAPI");
    EXPECT_FALSE(DiskToolFormatter::formatInfo(machine, "sdz", std::nullopt).has_value());
}

TEST(DiskToolFormatter, SmartStatusWords) {
    using DiskToolFormatter::smartStatusWord;
    EXPECT_EQ(smartStatusWord(smartData("smart-passed.json")), "Verified");
    EXPECT_EQ(smartStatusWord(smartData("smart-nvme-passed.json")), "Verified");
    EXPECT_EQ(smartStatusWord(smartData("smart-failed.json")), "Failing");
    EXPECT_EQ(smartStatusWord(smartData("smart-unsupported.json")), "Not Supported");
    EXPECT_EQ(smartStatusWord(std::nullopt), "Not Supported");
    EXPECT_EQ(smartStatusWord(json::parse(R"({"smart_status": {"passed": "yes"}})")),
              "Not Supported");
    EXPECT_EQ(smartStatusWord(json::array()), "Not Supported");
}

TEST(DiskToolFormatter, SmartIsAskedOfTheWholeDiskOnly) {
    std::vector<std::string> asked;
    auto sources = recorded(readData("machine.json"), &asked);
    auto r = DiskToolFormatter::run({"info", "sda3"}, sources);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(valueOf(r.out, "SMART Status"), "Verified");
    for (const char* device : {"loop0", "sr0", "sdb"}) {
        r = DiskToolFormatter::run({"info", device}, sources);
        EXPECT_EQ(valueOf(r.out, "SMART Status"), "Not Supported") << device;
    }
    EXPECT_EQ(asked, (std::vector<std::string>{"/dev/sda", "/dev/sdb"}));

    r = DiskToolFormatter::run({"info", "sdc1"}, recorded(readData("raid.json")));
    EXPECT_EQ(valueOf(r.out, "SMART Status"), "Failing");
}

TEST(DiskToolFormatter, ToolsStoppedAtTheirTimeLimitGiveNoMadeUpAnswers) {
    // lsblk stopped after printing half its listing: no listing at all.
    std::string whole = readData("machine.json");
    DiskToolFormatter::Sources cut = recorded(whole);
    cut.listBlockDevices = [whole] {
        ProcessResult r = printed(whole.substr(0, whole.size() / 2), 143);
        r.timedOut = true;
        r.error = "/usr/bin/lsblk did not finish within 10 s and was stopped";
        return r;
    };
    auto r = DiskToolFormatter::run({"list"}, cut);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.empty());
    EXPECT_EQ(r.err, "tolvarin-disktool: /usr/bin/lsblk did not finish within 10 s and was "
                     "stopped\n");

    // smartctl stopped after printing a passing answer: the status is unknown.
    DiskToolFormatter::Sources slowSmart = recorded(whole);
    slowSmart.smartHealth = [](const std::string&) {
        ProcessResult r = printed(readData("smart-passed.json"), 143);
        r.timedOut = true;
        return r;
    };
    r = DiskToolFormatter::run({"info", "sda"}, slowSmart);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(valueOf(r.out, "SMART Status"), "Not Supported");
}

TEST(DiskToolFormatter, BrokenOrMissingToolsGiveAMessageAndNoListing) {
    DiskToolFormatter::Sources missing;
    missing.listBlockDevices = [] {
        ProcessResult r;
        r.error = "/usr/bin/lsblk: No such file or directory";
        return r;
    };
    auto r = DiskToolFormatter::run({"list"}, missing);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.empty());
    EXPECT_NE(r.err.find("cannot run lsblk"), std::string::npos);

    for (const std::string& text : {readData("garbage.txt"), std::string(),
                                    std::string("{\"devices\": []}"), std::string("[1, 2, 3]")}) {
        auto sources = recorded(text);
        r = DiskToolFormatter::run({"list"}, sources);
        EXPECT_EQ(r.status, 1) << text;
        EXPECT_TRUE(r.out.empty());
        EXPECT_EQ(r.err.rfind("tolvarin-disktool: ", 0), 0u) << r.err;
        // The message is one line that cannot be taken for a listing header.
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    }

    // Warnings ahead of the JSON and values of the wrong kind are passed over.
    std::string noisy = "lsblk: sdq: failed to get device path\n" + readData("machine.json");
    EXPECT_EQ(DiskToolFormatter::run({"list"}, recorded(noisy)).out,
              DiskToolFormatter::formatList(lsblkData("machine.json")));
    auto odd = recorded(R"({"blockdevices": [7, {"kname": ["x"]}, {"name": "../x", "size": 9},
        {"name": "sdx", "type": "disk", "size": "2000", "rm": "1", "children": "none"}]})");
    r = DiskToolFormatter::run({"list"}, odd);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(block(r.out, "/dev/sdx"), (std::vector<Row>{{"0:", "", "", "*2.0 KB", "sdx"}}));

    EXPECT_EQ(DiskToolFormatter::run({"info", "sdz"}, recorded(readData("machine.json"))).status,
              1);
    EXPECT_EQ(DiskToolFormatter::run({}, odd).status, 2);
    EXPECT_EQ(DiskToolFormatter::run({"info"}, odd).status, 2);
    EXPECT_EQ(DiskToolFormatter::run({"erase", "sda"}, odd).status, 2);
}

TEST(DiskToolFormatter, LabelsCannotForgeLinesOrShiftColumns) {
    json devices = json::parse(R"({"blockdevices": [{"name": "sdb", "type": "disk",
        "size": 8004304896, "tran": "usb", "fstype": "vfat",
        "label": "A\n/dev/sda\n   SMART Status:             Failing"}, {"name": "sdc",
        "type": "disk", "size": 1000000, "pttype": "gpt", "children": [{"name": "sdc1",
        "type": "part", "size": 500000, "fstype": "ext4",
        "label": "Données très importantes à garder"}]}]})");
    std::string listing = DiskToolFormatter::formatList(devices);
    for (const std::string& line : lines(listing)) {
        EXPECT_TRUE(line.empty() || line[0] == ' ' || line == "/dev/sdb" || line == "/dev/sdc")
            << line;
    }
    std::string report = *DiskToolFormatter::formatInfo(devices, "sdb", std::nullopt);
    EXPECT_EQ(valueOf(report, "SMART Status"), "Not Supported");
    // The SMART watch of a running test reads the first line from the second
    // on that contains "SMART Status:".
    std::vector<std::string> reportLines = lines(report);
    auto watched = std::find_if(reportLines.begin() + 1, reportLines.end(), [](auto& l) {
        return l.find("SMART Status:") != std::string::npos;
    });
    ASSERT_NE(watched, reportLines.end());
    EXPECT_EQ(*watched, "   SMART Status:             Not Supported");
    EXPECT_EQ(valueOf(report, "Volume Name").find('\n'), std::string::npos);

    // The enumeration counts columns in characters: the accented label is cut
    // to fit and the size and identifier stay in their columns.
    std::vector<std::string> sdc1;
    for (const std::string& line : lines(listing)) {
        if (line.size() > 4 && line.compare(line.size() - 4, 4, "sdc1") == 0) {
            sdc1.push_back(line);
        }
    }
    ASSERT_EQ(sdc1.size(), 1u);
    EXPECT_EQ(Unitprobe::column(sdc1[0], 32, 56), "Données très important");
    EXPECT_EQ(Unitprobe::column(sdc1[0], 56, 68), "500.0 KB");
    EXPECT_EQ(Unitprobe::column(sdc1[0], 68, 80), "sdc1");
}

TEST(DiskToolFormatter, MountTableFillsFileSystemsLsblkCouldNotSee) {
    json devices = json::parse(R"({"blockdevices": [{"name": "vda", "kname": "vda",
        "path": "/dev/vda", "type": "disk", "size": 274877906944, "fstype": null},
        {"name": "vdb", "type": "disk", "size": 1000000, "fstype": null, "children": [
        {"name": "vdb1", "type": "part", "size": 900000, "fstype": "xfs"},
        {"name": "vdb2", "type": "part", "size": 90000, "fstype": null}]}]})");
    DiskToolFormatter::applyMountTable(devices, "/dev/vda / ext4 rw,relatime 0 0\n"
                                                "/dev/vdb1 /mnt/a\\040b ext4 rw 0 0\n"
                                                "/dev/vdb2 /mnt/c fuseblk rw 0 0\n"
                                                "tmpfs /tmp tmpfs rw 0 0\ngarbage\n");
    const json& vda = devices["blockdevices"][0];
    const json& vdb = devices["blockdevices"][1];
    EXPECT_EQ(vda["fstype"], "ext4");
    EXPECT_EQ(vdb["children"][0]["fstype"], "xfs"); // lsblk's own answer stands
    EXPECT_TRUE(vdb["children"][1]["fstype"].is_null());
    EXPECT_TRUE(vdb["fstype"].is_null());
}

TEST(DiskToolFormatter, RaidMembersAreMarkedAndTheSetIsListedWithItsMembers) {
    json raid = lsblkData("raid.json");
    std::string listing = DiskToolFormatter::formatList(raid);
    EXPECT_EQ(block(listing, "/dev/sdc")[1][1], "Apple_RAID");
    EXPECT_EQ(block(listing, "/dev/md0"),
              (std::vector<Row>{{"0:", "Linux_Filesystem", "data", "*2.0 TB", "md0"}}));

    std::string sets = DiskToolFormatter::formatListRAID(raid);
    std::vector<std::string> members;
    std::string node;
    for (const std::string& line : lines(sets)) {
        if (line.rfind("Device Node:", 0) == 0) {
            node = line.substr(line.find_first_not_of(' ', 12));
        }
        // How the enumeration reads a member row: the text between the first
        // two double blanks.
        if (line.rfind("0  ", 0) == 0 || line.rfind("1  ", 0) == 0) {
            size_t from = line.find("  ") + 2;
            members.push_back(line.substr(from, line.find("  ", from) - from));
        }
    }
    EXPECT_EQ(node, "md0");
    EXPECT_EQ(members, (std::vector<std::string>{"sdc1", "sdd1"}));
    EXPECT_EQ(DiskToolFormatter::formatListRAID(lsblkData("machine.json")), "No RAID sets found\n");
}

// The adapter's answers, played back as the disk tool, parsed by the
// enumeration itself.
TEST(DiskToolFormatter, EnumerationReadsTheAdaptersOutputEndToEnd) {
    TempDir dir;
    std::string machine = readData("machine.json");
    auto sources = recorded(machine);
    auto write = [&](const std::string& name, const std::string& text) {
        std::ofstream(dir.path() + "/" + name, std::ios::binary) << text;
    };
    write("list", DiskToolFormatter::run({"list"}, sources).out);
    for (const char* device : {"sda", "sda1", "sda2", "sda3", "sda4", "sda5", "sdb", "sr0", "loop0",
                               "nvme0n1", "nvme0n1p1", "nvme0n1p2", "nvme0n1p3"}) {
        write(std::string("info-") + device,
              DiskToolFormatter::run({"info", std::string("/dev/") + device}, sources).out);
    }
    std::string tool = dir.path() + "/disktool";
    write("disktool", "#!/bin/sh\ncd \"$(dirname \"$0\")\"\n"
                      "if [ \"$1\" = list ]; then cat list; else cat \"info-${2##*/}\"; fi\n");
    ASSERT_EQ(::chmod(tool.c_str(), 0755), 0);
    ScopedEnv diskTool("TOLVARIN_DISKTOOL", tool);

    Unitprobe probe;
    probe.initWithOSString("");
    const auto& records = probe.mediaStructureArray();
    std::vector<std::string> seen;
    for (const MediaStructure& m : records) {
        seen.push_back((m.isPrimaryDisk() ? "disk " : "volume ") +
                       (m.isPrimaryDisk() ? m.primaryDiskID() : m.volumeDiskID()).value_or("?"));
    }
    // The optical drive is left out; EFI and reserved partitions are no volumes.
    EXPECT_EQ(seen,
              (std::vector<std::string>{"disk loop0", "volume loop0", "disk sda", "volume sda2",
                                        "volume sda3", "volume sda5", "disk sdb", "volume sdb",
                                        "disk nvme0n1", "volume nvme0n1p2", "volume nvme0n1p3"}));
    ASSERT_EQ(records.size(), seen.size());
    const MediaStructure& sda = records[2];
    EXPECT_EQ(sda.primaryDiskSize(), "500.1 GB");
    EXPECT_EQ(sda.primaryDiskPartitionType(), "GUID Partition Scheme");
    EXPECT_EQ(sda.interfaceType(), "Serial ATA Hard Drive");
    EXPECT_EQ(sda.SMARTStatus(), "Verified");
    EXPECT_EQ(sda.UUID(), "0x5002538e40a1b2c3");
    const MediaStructure& root = records[3];
    EXPECT_EQ(root.volumePartitionType(), "Linux Volume");
    EXPECT_EQ(root.volumeName(), "root");
    EXPECT_EQ(root.volumePartitionSize(), "429.5 GB ");
    EXPECT_EQ(root.primaryDiskSize(), "500.1 GB");
    EXPECT_EQ(records[4].volumePartitionType(), "Microsoft Windows/DOS Volume");
    EXPECT_EQ(records[5].volumeFileSystem(), "NTFS");
    const MediaStructure& stick = records[7];
    EXPECT_EQ(stick.volumeName(), "STICK");
    EXPECT_EQ(stick.volumePartitionType(), "Microsoft Windows/DOS Volume");
    EXPECT_EQ(stick.interfaceType(), "USB External Media");
    EXPECT_EQ(stick.isInternal(), "No");
    EXPECT_EQ(records[8].interfaceType(), "Unidentified Media"); // NVMe
    EXPECT_EQ(records[8].SMARTStatus(), "Verified");
    EXPECT_EQ(records[1].volumeName(), "IMG");
    EXPECT_EQ(records[1].volumePartitionType(), "Linux Volume");
    EXPECT_EQ(records[10].volumePartitionType(), "Linux Swap");
    EXPECT_EQ(records[10].volumeFileSystem(), "swap");
}

} // namespace tolvarin
