#include "platform/VolumeTestFile.h"
#include "base/Clock.h"
#include "diagnostics/InterfaceTest.h"
#include "platform/SafeFile.h"
#include "tests/support/FakeClock.h"
#include "tests/support/FakeEnv.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace tolvarin {

namespace {

bool isLink(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

} // namespace

TEST(VolumeTestFile, MadeExclusivelyReopenedOnlyAsItselfAndRemovedWithItsDirectory) {
    TempDir volume;
    std::string error;
    auto file = VolumeTestFile::create(volume.path() + "/", "tmp", "t.dat", 4096, &error);
    ASSERT_TRUE(file) << error;
    EXPECT_TRUE(file->directoryCreated());
    EXPECT_EQ(file->filePath(), volume.path() + "/tmp/t.dat");
    {
        UniqueFd w = file->openForWriting(&error);
        ASSERT_TRUE(w) << error;
        ASSERT_TRUE(SafeFile::writeAll(w.get(), "data"));
    }
    // Swapped for a hard link to another file: neither written nor read.
    TempDir outside;
    const std::string other = volume.path() + "/other";
    ASSERT_TRUE(SafeFile::replace(other, "precious"));
    ASSERT_EQ(::unlink(file->filePath().c_str()), 0);
    ASSERT_EQ(::link(other.c_str(), file->filePath().c_str()), 0);
    EXPECT_FALSE(file->openForWriting(&error));
    EXPECT_NE(error.find("no longer the test file"), std::string::npos) << error;
    EXPECT_FALSE(file->openForReading());
    EXPECT_EQ(SafeFile::read(other).value_or(""), "precious");
    // Removal takes nothing that is not its own: the link stays, and with
    // it the directory.
    file->remove();
    EXPECT_EQ(SafeFile::read(file->filePath()).value_or(""), "precious");
    ASSERT_EQ(::unlink(file->filePath().c_str()), 0);

    auto again = VolumeTestFile::create(volume.path(), "tmp", "t.dat", 4096, &error);
    ASSERT_TRUE(again) << error;
    EXPECT_FALSE(again->directoryCreated()); // it was there
    again->remove();
    again->remove();
    EXPECT_EQ(::access((volume.path() + "/tmp").c_str(), F_OK), 0);

    // Links planted at the directory or the file are refused and kept.
    ASSERT_EQ(::rmdir((volume.path() + "/tmp").c_str()), 0);
    ASSERT_EQ(::symlink(outside.path().c_str(), (volume.path() + "/tmp").c_str()), 0);
    EXPECT_FALSE(VolumeTestFile::create(volume.path(), "tmp", "t.dat", 4096, &error));
    EXPECT_NE(error.find("not followed"), std::string::npos) << error;
    EXPECT_TRUE(outside.entries().empty());
    EXPECT_TRUE(isLink(volume.path() + "/tmp"));
    ASSERT_EQ(::unlink((volume.path() + "/tmp").c_str()), 0);
    ASSERT_EQ(::mkdir((volume.path() + "/tmp").c_str(), 0755), 0);
    ASSERT_EQ(::symlink(other.c_str(), (volume.path() + "/tmp/t.dat").c_str()), 0);
    EXPECT_FALSE(VolumeTestFile::create(volume.path(), "tmp", "t.dat", 4096, &error));
    EXPECT_NE(error.find("already there"), std::string::npos) << error;
    EXPECT_TRUE(isLink(volume.path() + "/tmp/t.dat"));
    EXPECT_EQ(SafeFile::read(other).value_or(""), "precious");

    // More than the volume has free, and no volume at all.
    EXPECT_FALSE(VolumeTestFile::create(volume.path(), "tmp2", "t.dat", int64_t{1} << 60, &error));
    EXPECT_NE(error.find("bytes free"), std::string::npos) << error;
    EXPECT_EQ(::access((volume.path() + "/tmp2").c_str(), F_OK), -1);
    EXPECT_FALSE(VolumeTestFile::create(volume.path() + "/none", "tmp", "t.dat", 1, &error));
}

TEST(InterfaceTest, TransfersTheWholeBufferAndSaysWhereTheVolumeIsMounted) {
    TempDir volume;
    FakeClock clock;
    clock.setAdvancePerReading(1000);
    InterfaceTest test(clock, volume.path());
    ASSERT_TRUE(test.createTestFilePathAndName()) << test.problem();
    EXPECT_EQ(test.fileName(), volume.path() + "/tmp/TolvarinBufferTest.dat");
    std::vector<uint8_t> out = InterfaceTest::allocateBuffer(InterfaceTest::kBufferSize);
    InterfaceTest::fillBuffer(out, 0x7D);
    EXPECT_GT(test.writeTestFileUsingBuffer(out), 0.0);
    std::vector<uint8_t> in = InterfaceTest::allocateBuffer(InterfaceTest::kBufferSize);
    EXPECT_GT(test.readTestFileUsingBuffer(in), 0.0);
    EXPECT_EQ(in, out);
    // A file cut short reads short.
    ASSERT_EQ(::truncate(test.fileName().c_str(), 100), 0);
    EXPECT_EQ(test.readTestFileUsingBuffer(in), InterfaceTest::kShortTransfer);
    test.deleteTestFile();
    EXPECT_TRUE(volume.entries().empty());
    EXPECT_EQ(test.writeTestFileUsingBuffer(out), InterfaceTest::kOpenFailed);
    EXPECT_TRUE(test.exitNow());

    EXPECT_EQ(InterfaceTest::mountPointFromReport("   Device Identifier:        sdb1\n"
                                                  "   Mounted:                  Yes\n"
                                                  "   Mount Point:              /media/u/My Disk\n"
                                                  "   File System Personality:  ext4\n"),
              "/media/u/My Disk");
    EXPECT_FALSE(InterfaceTest::mountPointFromReport("   Mounted:                  No\n"));
    FakeEnv env(clock);
    env.setRunner([](const std::string&, const std::vector<std::string>& args) {
        ProcessResult r;
        r.started = true;
        r.exitStatus = 0;
        r.output = args.size() == 2 && args[1] == "sdb1" ? "   Mount Point:  /mnt/b:c\n" : "";
        // A report cut at the time limit, inside the path: no folder of it is used.
        if (args.size() == 2 && args[1] == "sdb3") {
            r.output = "   Mount Point:  /mnt/ba";
            r.timedOut = true;
            r.error = "ended after its time limit";
        }
        return r;
    });
    std::string problem;
    EXPECT_EQ(InterfaceTest::mountPointOf(env, "sdb1", &problem), "/mnt/b:c");
    EXPECT_FALSE(InterfaceTest::mountPointOf(env, "sdb2", &problem));
    EXPECT_EQ(problem, "the volume sdb2 is not mounted");
    EXPECT_FALSE(InterfaceTest::mountPointOf(env, "sdb3", &problem));
    EXPECT_EQ(problem, "the disk tool did not finish: ended after its time limit");
}

} // namespace tolvarin
