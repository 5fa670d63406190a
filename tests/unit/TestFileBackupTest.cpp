#include "store/TestFileBackup.h"

#include "logging/Logger.h"
#include "platform/SafeFile.h"
#include "store/Quarrykit.h"
#include "tests/support/TempDir.h"
#include "tests/support/UnitFiles.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace tolvarin {

namespace {

using Files = std::map<std::string, std::string>;

class TestFileBackupTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Logger::resetForTests();
        logPath = dir.path() + "/log.txt";
        Logger::setUserLogFileNameAndPathWithString(logPath);
    }
    void TearDown() override { Logger::resetForTests(); }

    Files backups(const UnitFiles& u) const { return UnitFiles(prev(), u.prefix()).snapshot(); }
    std::string prev() const { return dir.path() + "/prev"; }

    MemoryBackedTemp memory;
    TempDir dir;
    std::string logPath;
    Quarrykit kit;
    TestFileBackup backup{kit, dir.path()};
    UnitFiles m01{dir.path()};
    UnitFiles m02{dir.path(), "M02-V-USB-01-02-2010-10-11-12"};
};

} // namespace

TEST_F(TestFileBackupTest, RestoreAfterAnInterruptedLaterScanBringsBackTheUnit) {
    m01.makeState(1535);
    m02.makeState(255);
    ASSERT_TRUE(backup.backupCurrentTestFilesWithFilePrefix(m02.prefix()));
    Files m02Backup = backups(m02);
    Files before = m01.snapshot();

    ASSERT_TRUE(backup.backupCurrentTestFilesWithFilePrefix(m01.prefix()));
    EXPECT_EQ(backups(m01), before);
    EXPECT_EQ(backups(m02), m02Backup);

    // The later scan got as far as its seek scan: the surface average was
    // replaced and previous files were made.
    UnitFiles later(dir.path() + "/later");
    ASSERT_TRUE(SafeFile::makeDirectories(later.directory()));
    later.makeState(3583);
    for (const auto& [name, text] : later.snapshot()) {
        ASSERT_TRUE(SafeFile::replace(dir.path() + "/" + name, text));
    }
    m01.write(".skt", "partial");
    ASSERT_NE(m01.snapshot(), before);

    ASSERT_TRUE(backup.restorePreviousTestFilesWithFilePrefix(m01.prefix()));
    EXPECT_EQ(m01.snapshot(), before);
    EXPECT_TRUE(backups(m01).empty());
    EXPECT_EQ(backups(m02), m02Backup);
    EXPECT_NE(SafeFile::read(logPath)->find("SCAN CONTROLLER: Deleted file " + m01.path(".psk") +
                                            " as directed by user\n"),
              std::string::npos);
}

TEST_F(TestFileBackupTest, BackupIsExactlyTheUnitAsItIsNow) {
    m01.makeState(1535);
    // Left behind by a run that never reached its end.
    ASSERT_TRUE(SafeFile::makeDirectories(prev()));
    ASSERT_TRUE(SafeFile::replace(prev() + "/" + m01.name(".pss"), "stale"));
    ASSERT_TRUE(backup.backupCurrentTestFilesWithFilePrefix(m01.prefix()));
    EXPECT_EQ(backups(m01), m01.snapshot());

    ASSERT_TRUE(backup.deleteCurrentBackupFilesWithFilePrefix(m01.prefix()));
    EXPECT_TRUE(backups(m01).empty());
}

TEST_F(TestFileBackupTest, RestoreWithoutBackupKeepsTheUnitsFiles) {
    m01.makeState(2047);
    m02.makeState(255);
    ASSERT_TRUE(backup.backupCurrentTestFilesWithFilePrefix(m02.prefix()));
    Files before = m01.snapshot();
    EXPECT_FALSE(backup.restorePreviousTestFilesWithFilePrefix(m01.prefix()));
    EXPECT_EQ(m01.snapshot(), before);
    EXPECT_FALSE(backups(m02).empty());
}

} // namespace tolvarin
