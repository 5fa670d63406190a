#include "platform/BlockProbe.h"
#include "platform/ProcessRunner.h"
#include "tests/support/TempDir.h"
#include "unitprobe/DiskToolFormatter.h"

#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <unistd.h>

namespace tolvarin {

namespace {

// A program from the system's folders, or "" when it is not installed.
std::string systemTool(const std::string& name) {
    for (const char* folder : {"/usr/sbin/", "/sbin/", "/usr/bin/", "/bin/"}) {
        std::string path = folder + name;
        if (::access(path.c_str(), X_OK) == 0) {
            return path;
        }
    }
    return "";
}

bool makeImage(const std::string& path, size_t bytes) {
    std::ofstream out(path, std::ios::binary);
    out.seekp(static_cast<std::streamoff>(bytes) - 1);
    out.put('\0');
    return static_cast<bool>(out);
}

// Runs a tool on an image file; no root and no loop device needed. input,
// when given, is a file the tool reads as its standard input.
bool runTool(const std::string& tool, std::vector<std::string> args,
             const std::string& input = "") {
    std::string program = tool;
    if (!input.empty()) {
        args.insert(args.begin(), {"-c", "exec \"$0\" \"$@\" < \"$INPUT\"", tool});
        program = "/bin/sh";
    }
    ScopedEnv in("INPUT", input);
    ProcessResult r = ProcessRunner::run(program, args);
    return r.finished() && r.exitStatus == 0;
}

} // namespace

TEST(BlockProbe, ReadsFileSystemsSwapAndPartitionTablesOfImageFiles) {
    const std::string mke2fs = systemTool("mke2fs");
    const std::string mkswap = systemTool("mkswap");
    const std::string sfdisk = systemTool("sfdisk");
    if (mke2fs.empty() || mkswap.empty() || sfdisk.empty()) {
        GTEST_SKIP() << "mke2fs, mkswap or sfdisk is not installed";
    }
    TempDir dir;
    const std::string ext4 = dir.path() + "/ext4.img";
    ASSERT_TRUE(makeImage(ext4, 8 << 20));
    ASSERT_TRUE(runTool(mke2fs, {"-q", "-F", "-t", "ext4", "-L", "Données", ext4}));
    std::optional<BlockContent> c = BlockProbe::probe(ext4);
    ASSERT_TRUE(c.has_value());
    EXPECT_EQ(c->type, "ext4");
    EXPECT_EQ(c->label, "Données");
    EXPECT_EQ(c->uuid.size(), 36u) << c->uuid;
    EXPECT_EQ(c->tableType, "");

    const std::string swap = dir.path() + "/swap.img";
    ASSERT_TRUE(makeImage(swap, 1 << 20));
    ASSERT_TRUE(runTool(mkswap, {"-q", swap}));
    c = BlockProbe::probe(swap);
    ASSERT_TRUE(c.has_value());
    EXPECT_EQ(c->type, "swap");

    const std::string gpt = dir.path() + "/gpt.img";
    ASSERT_TRUE(makeImage(gpt, 4 << 20));
    const std::string script = dir.path() + "/layout";
    std::ofstream(script) << "label: gpt\nsize=1MiB\n";
    ASSERT_TRUE(runTool(sfdisk, {"-q", gpt}, script));
    c = BlockProbe::probe(gpt);
    ASSERT_TRUE(c.has_value());
    EXPECT_EQ(c->tableType, "gpt");
    EXPECT_EQ(c->type, "");

    // Nothing known on it: listed as a volume without a file system.
    const std::string blank = dir.path() + "/blank.img";
    ASSERT_TRUE(makeImage(blank, 1 << 20));
    c = BlockProbe::probe(blank);
    ASSERT_TRUE(c.has_value());
    EXPECT_EQ(c->type, "");
    EXPECT_EQ(c->uuid, "");
}

TEST(BlockProbe, RefusesWhatIsNoBlockDeviceNorImage) {
    TempDir dir;
    std::string error;
    EXPECT_FALSE(BlockProbe::probe("/dev/null", &error).has_value());
    EXPECT_NE(error.find("not a block device or an image file"), std::string::npos) << error;
    EXPECT_FALSE(BlockProbe::probe(dir.path(), &error).has_value());
    EXPECT_FALSE(BlockProbe::probe(dir.path() + "/none", &error).has_value());
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
}

TEST(DiskToolFormatter, WithoutUdevTheDevicesThemselvesNameTheirContent) {
    // What lsblk prints where there is no udev database: sizes and names only.
    const std::string bare = R"({"blockdevices": [
        {"name": "loop0", "type": "loop", "size": 734003200, "children": [
            {"name": "loop0p1", "type": "part", "size": 33554432},
            {"name": "loop0p2", "type": "part", "size": 134217728},
            {"name": "loop0p3", "type": "part", "size": 16777216},
            {"name": "loop0p4", "type": "part", "size": 16777216},
            {"name": "loop0p5", "type": "part", "size": 16777216},
            {"name": "loop0p6", "type": "part", "size": 16777216, "fstype": "ntfs"},
            {"name": "loop0p7", "type": "part", "size": 16777216}]},
        {"name": "sr0", "type": "rom", "size": 4700000000}]})";
    const std::string linuxData = "0fc63daf-8483-4772-8e79-3d69d8477de4";
    const std::map<std::string, BlockContent> contents = {
        {"/dev/loop0", {"", "", "", "gpt", "", ""}},
        {"/dev/loop0p1", {"crypto_LUKS", "", "631de316", "", linuxData, "p1"}},
        {"/dev/loop0p2", {"btrfs", "", "2b3c", "", linuxData, "p2"}},
        {"/dev/loop0p3", {"LVM2_member", "", "Xy3", "", linuxData, "p3"}},
        {"/dev/loop0p4", {"swap", "", "4d5e", "", linuxData, "p4"}},
        {"/dev/loop0p5", {"exfat", "EXF", "6BDF-D8BB", "", linuxData, "p5"}},
        // A probe that disagrees with lsblk's own type lends it nothing.
        {"/dev/loop0p6", {"vfat", "WRONG", "7A7A", "", linuxData, "p6"}},
        // Content nobody recognised in a partition of no particular type.
        {"/dev/loop0p7", {"", "", "", "", "", "p7"}},
    };
    std::vector<std::string> asked;
    DiskToolFormatter::Sources sources;
    sources.listBlockDevices = [&] {
        ProcessResult r;
        r.started = true;
        r.exitStatus = 0;
        r.output = bare;
        return r;
    };
    sources.probeContent = [&](const std::string& path) -> std::optional<BlockContent> {
        asked.push_back(path);
        auto it = contents.find(path);
        return it == contents.end() ? std::nullopt : std::optional<BlockContent>(it->second);
    };

    auto r = DiskToolFormatter::run({"list"}, sources);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "/dev/loop0\n"
                     "   #:                       TYPE NAME                         SIZE  "
                     "IDENTIFIER\n"
                     "   0:      GUID_partition_scheme                         *734.0 MB  loop0\n"
                     "   1:                 Linux_LUKS                           33.6 MB  loop0p1\n"
                     "   2:           Linux_Filesystem                          134.2 MB  loop0p2\n"
                     "   3:                  Linux_LVM                           16.8 MB  loop0p3\n"
                     "   4:                 Linux_Swap                           16.8 MB  loop0p4\n"
                     "   5:       Microsoft Basic Data EXF                       16.8 MB  loop0p5\n"
                     "   6:       Microsoft Basic Data                           16.8 MB  loop0p6\n"
                     "   7:             No_File_System                           16.8 MB  loop0p7\n"
                     "\n"
                     "/dev/sr0\n"
                     "   #:                       TYPE NAME                         SIZE  "
                     "IDENTIFIER\n"
                     "   0:                                                      *4.7 GB  sr0\n"
                     "\n");
    // The optical drive is not woken to be probed.
    EXPECT_EQ(std::count(asked.begin(), asked.end(), "/dev/sr0"), 0);

    // A report asks about its own device only, and lsblk's answers stand.
    asked.clear();
    r = DiskToolFormatter::run({"info", "/dev/loop0p6"}, sources);
    EXPECT_EQ(asked, std::vector<std::string>{"/dev/loop0p6"});
    EXPECT_NE(r.out.find("File System Personality:  NTFS\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Volume UUID:"), std::string::npos) << r.out;
    r = DiskToolFormatter::run({"info", "loop0p1"}, sources);
    EXPECT_NE(r.out.find("Partition Type:           Linux_LUKS\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Volume UUID:              631de316\n"), std::string::npos) << r.out;
}

} // namespace tolvarin
