#include "platform/AlignedBuffer.h"
#include "platform/LaunchingUser.h"
#include "platform/ModuleLoader.h"
#include "platform/Paths.h"
#include "platform/PosixRawDevice.h"
#include "platform/ProcessRunner.h"
#include "platform/SafeFile.h"
#include "platform/System.h"
#include "tests/support/TempDir.h"

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tolvarin {

TEST(Paths, RawDevicePathFollowsDeviceDirectory) {
    ScopedEnv dev("TOLVARIN_DEV_DIR", "/tmp/devs/");
    EXPECT_EQ(Paths::rawDevicePathForIdentifier("sda2"), "/tmp/devs/sda2");
    EXPECT_EQ(Paths::rawDevicePathForIdentifier("/dev/nvme0n1p2"), "/tmp/devs/nvme0n1p2");
    EXPECT_EQ(Paths::rawDevicePathForIdentifier("/srv/image.img"), "/srv/image.img");
    EXPECT_EQ(Paths::identifierForRawDevicePath("/tmp/devs/loop0"), "loop0");
}

TEST(Paths, HomeDirectoryOverride) {
    ScopedEnv home("TOLVARIN_HOME", "/tmp/somehome");
    EXPECT_EQ(Paths::homeDirectory(), "/tmp/somehome");
}

TEST(Paths, ResourcesComeFromTheBuildTreeUnlessOverridden) {
    {
        // This test program runs from the build tree's bin/.
        ScopedEnv none("TOLVARIN_RESOURCES", "");
        EXPECT_EQ(::access((Paths::resourcesDirectory() + "/Shellgate.so").c_str(), R_OK), 0);
        EXPECT_EQ(::access(Paths::diskToolPath().c_str(), X_OK), 0);
        EXPECT_EQ(
            ::access((Paths::sharedResourcesDirectory() + "/ResultsTemplate.rtf").c_str(), R_OK),
            0);
    }
    ScopedEnv resources("TOLVARIN_RESOURCES", "/opt/res/");
    EXPECT_EQ(Paths::resourcesDirectory(), "/opt/res");
    EXPECT_EQ(Paths::sharedResourcesDirectory(), "/opt/res");

    // An installed tree keeps the modules one folder down; a module found
    // there is taken from there, any other from the resources themselves.
    TempDir installed;
    std::filesystem::create_directories(installed.path() + "/modules");
    ASSERT_TRUE(SafeFile::replace(installed.path() + "/modules/Unitprobe.so", "x"));
    ScopedEnv there("TOLVARIN_RESOURCES", installed.path());
    EXPECT_EQ(ModuleLoader::modulePath("Unitprobe"), installed.path() + "/modules/Unitprobe.so");
    EXPECT_EQ(ModuleLoader::modulePath("Shellgate"), installed.path() + "/Shellgate.so");
}

TEST(LaunchingUser, SudoIdsNameTheUserWhenRoot) {
    if (::getuid() != 0) {
        GTEST_SKIP() << "needs root to read SUDO_UID";
    }
    ScopedEnv uid("SUDO_UID", "65534");
    ScopedEnv gid("SUDO_GID", "65534");
    LaunchingUser u = LaunchingUser::current();
    EXPECT_EQ(u.uid, 65534u);
    EXPECT_EQ(u.gid, 65534u);
    EXPECT_FALSE(u.userName.empty());
}

TEST(ProcessRunner, InterleavesOutputAndReportsExitStatus) {
    ProcessResult r =
        ProcessRunner::run("/bin/sh", {"-c", "echo one; echo two >&2; echo three; exit 3"});
    ASSERT_TRUE(r.started);
    EXPECT_EQ(r.exitStatus, 3);
    EXPECT_EQ(r.output, "one\ntwo\nthree\n");
}

TEST(ProcessRunner, MissingProgramIsAnErrorNotACrash) {
    ProcessResult r = ProcessRunner::run("/nonexistent/tool", {"list"});
    EXPECT_FALSE(r.started);
    EXPECT_TRUE(r.output.empty());
    EXPECT_NE(r.error.find("/nonexistent/tool"), std::string::npos);
}

TEST(ProcessRunner, DetachedLaunchRunsTheProgramAndReportsOneThatCannotStart) {
    TempDir dir;
    std::string marker = dir.path() + "/ran";
    ASSERT_TRUE(ProcessRunner::launchDetached("/bin/sh", {"-c", "echo x > '" + marker + "'"}));
    // The program runs on its own; look for its mark for up to ten seconds.
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!SafeFile::read(marker) && std::chrono::steady_clock::now() < until) {
        std::this_thread::yield();
    }
    EXPECT_TRUE(SafeFile::read(marker).has_value());

    std::string error;
    EXPECT_FALSE(ProcessRunner::launchDetached("/nonexistent/viewer", {}, &error));
    EXPECT_NE(error.find("/nonexistent/viewer"), std::string::npos);
    EXPECT_FALSE(ProcessRunner::launchDetached("no-such-viewer-anywhere", {}, &error));
}

TEST(ProcessRunner, LargeOutputIsCollectedWhole) {
    ProcessResult r = ProcessRunner::run("/bin/sh", {"-c", "head -c 300000 /dev/zero"});
    ASSERT_TRUE(r.started);
    EXPECT_EQ(r.output.size(), 300000u);
}

namespace {

// Limits small enough that a test of a hanging program takes milliseconds.
ProcessLimits tinyLimits(int timeMs = 60, int graceMs = 30) {
    ProcessLimits limits;
    limits.time = std::chrono::milliseconds(timeMs);
    limits.grace = std::chrono::milliseconds(graceMs);
    return limits;
}

// Whether process pid is gone (or only a zombie nobody has reaped yet).
bool processGone(const std::string& pidText) {
    std::optional<std::string> stat = SafeFile::read("/proc/" + pidText + "/stat");
    if (!stat) {
        return true;
    }
    auto close = stat->rfind(')');
    return close != std::string::npos && stat->substr(close + 2, 1) == "Z";
}

// Waits up to ten seconds for a process that was sent SIGKILL to go (its
// new parent reaps it on its own time).
bool goneSoon(const std::string& pidText) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!processGone(pidText) && std::chrono::steady_clock::now() < until) {
        std::this_thread::yield();
    }
    return processGone(pidText);
}

} // namespace

TEST(ProcessRunner, AProgramThatHangsIsStoppedWithItsWholeGroup) {
    TempDir dir;
    const std::string pidFile = dir.path() + "/grandchild";
    struct Case {
        const char* what;
        std::string script;
        std::string output;
    };
    const Case cases[] = {
        {"sleeps", "exec sleep 30", ""},
        {"prints a line, then sleeps", "echo first; exec sleep 30", "first\n"},
        // The child ignores SIGTERM: only SIGKILL after the grace ends it.
        {"waits on a child that ignores SIGTERM",
         "trap '' TERM; sleep 30 & echo $! > '" + pidFile + "'; wait", ""},
    };
    for (const Case& c : cases) {
        auto start = std::chrono::steady_clock::now();
        // Long enough for the shell to start on a busy machine.
        ProcessResult r = ProcessRunner::run("/bin/sh", {"-c", c.script}, tinyLimits(200));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << c.what;
        EXPECT_TRUE(r.started) << c.what;
        EXPECT_TRUE(r.timedOut) << c.what;
        EXPECT_FALSE(r.finished()) << c.what;
        EXPECT_EQ(r.output, c.output) << c.what;
        EXPECT_NE(r.error.find("did not finish within 0.2 s"), std::string::npos) << r.error;
    }
    std::optional<std::string> grandchild = SafeFile::read(pidFile);
    ASSERT_TRUE(grandchild.has_value());
    grandchild->erase(grandchild->find_last_not_of("\n") + 1);
    EXPECT_TRUE(goneSoon(*grandchild)) << "the group's other member lives on";
}

TEST(ProcessRunner, OutputEndsWhenTheProgramDoesEvenIfItsChildHoldsThePipe) {
    TempDir dir;
    const std::string pidFile = dir.path() + "/leftover";
    // A limit far beyond the test's time: the run must not wait for it.
    ProcessResult r = ProcessRunner::run(
        "/bin/sh", {"-c", "sleep 30 & echo $! > '" + pidFile + "'; echo done; exit 4"},
        tinyLimits(600000, 30));
    EXPECT_TRUE(r.finished());
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitStatus, 4);
    EXPECT_EQ(r.output, "done\n");
    EXPECT_TRUE(r.error.empty()) << r.error;
    std::optional<std::string> leftover = SafeFile::read(pidFile);
    ASSERT_TRUE(leftover.has_value());
    leftover->erase(leftover->find_last_not_of("\n") + 1);
    EXPECT_TRUE(goneSoon(*leftover));
}

TEST(ProcessRunner, OutputBeyondTheLimitEndsTheProgram) {
    ProcessLimits limits = tinyLimits(600000, 30);
    limits.outputBytes = 1000;
    ProcessResult r = ProcessRunner::run("/bin/sh", {"-c", "yes"}, limits);
    EXPECT_TRUE(r.outputCut);
    EXPECT_FALSE(r.finished());
    EXPECT_EQ(r.output.size(), 1000u);
    EXPECT_NE(r.error.find("more than 1000 bytes"), std::string::npos) << r.error;
}

TEST(ProcessRunner, TheEnvironmentCanOnlyShortenTheLimits) {
    EXPECT_EQ(ProcessRunner::defaultLimits().time, std::chrono::seconds(60));
    ScopedEnv limit("TOLVARIN_TOOL_TIME_LIMIT_MS", "40");
    EXPECT_EQ(ProcessRunner::defaultLimits().time, std::chrono::milliseconds(40));
    EXPECT_EQ(ProcessRunner::defaultLimits().grace, std::chrono::milliseconds(40));
    ProcessLimits shortOne = tinyLimits(20, 10);
    EXPECT_EQ(ProcessRunner::limitsWithin(shortOne).time, std::chrono::milliseconds(20));
    ProcessResult r = ProcessRunner::run("/bin/sh", {"-c", "exec sleep 30"});
    EXPECT_TRUE(r.timedOut);
    for (const char* junk : {"", "0", "-5", "12ms"}) {
        ScopedEnv bad("TOLVARIN_TOOL_TIME_LIMIT_MS", junk);
        EXPECT_EQ(ProcessRunner::defaultLimits().time, std::chrono::seconds(60)) << junk;
    }
}

TEST(SafeFile, RefusesToWriteThroughAPlantedLink) {
    TempDir dir;
    std::string victim = dir.path() + "/victim";
    ASSERT_TRUE(SafeFile::replace(victim, "precious"));
    std::string link = dir.path() + "/log.txt";
    ASSERT_EQ(::symlink(victim.c_str(), link.c_str()), 0);

    std::string error;
    EXPECT_FALSE(SafeFile::append(link, "evil", &error));
    EXPECT_NE(error.find("symbolic link"), std::string::npos);
    EXPECT_FALSE(SafeFile::openForTruncate(link).valid());
    EXPECT_FALSE(LaunchingUser::handBackPath(link, &error));
    EXPECT_EQ(*SafeFile::read(victim), "precious");

    // A whole-file replacement swaps the link itself, never its target.
    ASSERT_TRUE(SafeFile::replace(link, "new"));
    EXPECT_EQ(*SafeFile::read(victim), "precious");
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
}

TEST(SafeFile, ReplaceLeavesNoTemporaryFiles) {
    TempDir dir;
    std::string path = dir.path() + "/a.siz";
    ASSERT_TRUE(SafeFile::replace(path, "one"));
    ASSERT_TRUE(SafeFile::replace(path, "two"));
    EXPECT_EQ(*SafeFile::read(path), "two");
    EXPECT_EQ(dir.entries().size(), 1u);
}

TEST(SafeFile, StaleTemporariesOfAKilledReplaceAreRemoved) {
    TempDir dir;
    ASSERT_TRUE(SafeFile::replace(dir.path() + "/M01-x.siz", "kept"));
    ASSERT_TRUE(SafeFile::replace(dir.path() + "/.M01-x.siz.Ab3dEf", "left by a kill"));
    ASSERT_TRUE(SafeFile::replace(dir.path() + "/.hidden", "not ours"));
    EXPECT_EQ(SafeFile::removeStaleTemporaries(dir.path()), 1);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{".hidden", "M01-x.siz"}));
}

TEST(SafeFile, CreateExclusiveRefusesExistingFile) {
    TempDir dir;
    std::string path = dir.path() + "/x";
    EXPECT_TRUE(SafeFile::createExclusive(path).valid());
    EXPECT_FALSE(SafeFile::createExclusive(path).valid());
}

// A 64 KiB image whose every byte holds the number of its block of
// blockSize bytes, written to dir/disk.img.
static std::string numberedImage(const TempDir& dir, size_t blockSize) {
    std::string image = dir.path() + "/disk.img";
    std::string content(65536, '\0');
    for (size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>(i / blockSize);
    }
    EXPECT_TRUE(SafeFile::replace(image, content));
    return image;
}

TEST(PosixRawDevice, ReadsAnImageAtUnalignedOffsets) {
    TempDir dir;
    std::string image = numberedImage(dir, 512);
    auto dev = PosixRawDevice::open(image, PosixRawDevice::Access::ReadOnly);
    ASSERT_TRUE(dev);
    EXPECT_EQ(dev->reportedSize(), 65536);
    char buf[1024];
    ASSERT_EQ(dev->seek(512 * 3), 512 * 3);
    ASSERT_EQ(dev->read(buf, 1024), 1024);
    EXPECT_EQ(buf[0], 3);
    EXPECT_EQ(buf[600], 4);
    // A read that runs past the end answers what is there, then 0.
    ASSERT_EQ(dev->seek(65536 - 512), 65536 - 512);
    EXPECT_EQ(dev->read(buf, 1024), 512);
    EXPECT_EQ(dev->read(buf, 1024), 0);
}

TEST(PosixRawDevice, PositionedReadsPlainReadsAndWritesShareOnePosition) {
    TempDir dir;
    std::string image = numberedImage(dir, 4096);
    auto dev = PosixRawDevice::open(image, PosixRawDevice::Access::ReadWrite);
    ASSERT_TRUE(dev);
    AlignedBuffer buf(8192);
    ASSERT_EQ(dev->readAt(4096 * 5, buf.data(), 4096), 4096);
    EXPECT_EQ(buf.chars()[0], 5);
    // The next read and write continue where the positioned read ended.
    ASSERT_EQ(dev->read(buf.data(), 4096), 4096);
    EXPECT_EQ(buf.chars()[0], 6);
    std::memset(buf.data(), 0x7f, 4096);
    ASSERT_EQ(dev->write(buf.data(), 4096), 4096);
    // Unaligned, through the bounce buffer, and a bad offset.
    ASSERT_EQ(dev->readAt(4096 * 7 - 100, buf.chars() + 1, 200), 200);
    EXPECT_EQ(buf.chars()[1], 6);
    EXPECT_EQ(buf.chars()[101], 0x7f);
    EXPECT_EQ(dev->readAt(-4096, buf.data(), 4096), -1);
    EXPECT_EQ(dev->readAt(65536, buf.data(), 4096), 0);
}

TEST(PosixRawDevice, QueuedReadsBringEachBlockToItsOwnBuffer) {
    TempDir dir;
    std::string image = dir.path() + "/disk.img";
    constexpr size_t kBlock = 65536;
    std::string content(kBlock * 16, '\0');
    for (size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>(i / kBlock + 1);
    }
    ASSERT_TRUE(SafeFile::replace(image, content));
    auto dev = PosixRawDevice::open(image, PosixRawDevice::Access::ReadOnly);
    ASSERT_TRUE(dev);
    // The buffers outlive the queue, which waits for its reads as it goes.
    AlignedBuffer memory(kBlock * 8);
    AlignedBuffer outside(kBlock * 2);
    std::string why;
    std::unique_ptr<ReadQueue> queue = dev->openReadQueue(4, &why);
    if (!queue) {
        GTEST_SKIP() << why;
    }
    queue->useBufferMemory(memory.data(), memory.size());
    // Blocks 14 and 15 go to memory the queue was not told of, 15 at an
    // offset off the device's alignment.
    auto bufferOf = [&](uint64_t tag) -> char* {
        return tag >= 14 ? outside.chars() + (tag - 14) * kBlock
                         : memory.chars() + (tag % 8) * kBlock;
    };
    auto offsetOf = [](uint64_t tag) {
        return static_cast<int64_t>(tag * kBlock) + (tag == 15 ? 100 : 0);
    };
    auto lengthOf = [](uint64_t tag) {
        return static_cast<int64_t>(kBlock) - (tag == 15 ? 200 : 0);
    };
    std::vector<int> seen(16, 0);
    uint64_t next = 0;
    ReadQueue::Completion c;
    while (next < 16 || queue->inFlight() > 0) {
        while (next < 16 && queue->inFlight() < 4) {
            ASSERT_TRUE(queue->submit(next, offsetOf(next), bufferOf(next), lengthOf(next)));
            ++next;
        }
        ASSERT_TRUE(queue->next(&c));
        ASSERT_LT(c.tag, 16u);
        ++seen[c.tag];
        EXPECT_EQ(c.result, lengthOf(c.tag)) << c.tag;
        EXPECT_EQ(bufferOf(c.tag)[0], static_cast<char>(c.tag + 1)) << c.tag;
    }
    EXPECT_EQ(seen, std::vector<int>(16, 1));
    EXPECT_FALSE(queue->next(&c));
}

TEST(PosixRawDevice, RefusesDirectoriesAndMissingPaths) {
    TempDir dir;
    int err = 0;
    std::string message;
    EXPECT_EQ(PosixRawDevice::open(dir.path(), PosixRawDevice::Access::ReadOnly, &err, &message),
              nullptr);
    EXPECT_EQ(err, EISDIR);
    EXPECT_EQ(PosixRawDevice::open(dir.path() + "/none", PosixRawDevice::Access::ReadOnly, &err),
              nullptr);
    EXPECT_EQ(err, ENOENT);
}

TEST(PosixRawDevice, RefusesCharacterDevicesAndFifosWithoutWaiting) {
    TempDir dir;
    std::string fifo = dir.path() + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {std::string("/dev/zero"), std::string("/dev/null"), fifo}) {
        int err = 0;
        std::string message;
        EXPECT_EQ(PosixRawDevice::open(path, PosixRawDevice::Access::ReadOnly, &err, &message),
                  nullptr)
            << path;
        EXPECT_EQ(err, ENOTBLK) << path;
        EXPECT_NE(message.find("not a block device or an image file"), std::string::npos)
            << message;
    }
}

TEST(System, ReleaseNames) {
    EXPECT_EQ(System::releaseName("13.4.0"), "Mavericks");
    EXPECT_EQ(System::releaseName("9.8.0"), "Leopard");
    EXPECT_EQ(System::releaseName("4.1"), "UNKNOWN");
    EXPECT_EQ(System::releaseName("6.1.0-18-amd64"), "UNKNOWN");
    EXPECT_EQ(System::releaseName("20.1.0"), "UNKNOWN");
}

} // namespace tolvarin
