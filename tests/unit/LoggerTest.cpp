#include "logging/Logger.h"
#include "base/Media.h"
#include "base/Utils.h"
#include "platform/SafeFile.h"
#include "tests/support/FakeClock.h"
#include "tests/support/TempDir.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tolvarin {

namespace {

class RecordingViewer : public LogViewerSink {
  public:
    bool active = true;
    int activeQueries = 0;
    std::vector<std::string> pieces;

    bool logViewerIsActive() override {
        ++activeQueries;
        return active;
    }
    void updateLogViewer(const std::string& text) override { pieces.push_back(text); }
};

Media volumeMedia() {
    Media m;
    m.setIsPrimaryDisk(false);
    m.setPrimaryDiskID(std::string("sdb"));
    m.setPrimaryDiskSize(std::string("500.1 GB"));
    m.setPrimaryDiskPartitionType(std::string("GUID_partition_scheme"));
    m.setVolumeDiskID(std::string("sdb2"));
    m.setVolumePartitionType(std::string("Linux_Filesystem"));
    m.setVolumeFileSystem(std::string("ext4"));
    m.setVolumeName(std::string("Data"));
    m.setVolumePartitionSize(std::string("499.8 GB"));
    m.setVolumePartitionFreeSpace(std::string("120.0 GB"));
    m.setSMARTStatus(std::string("Verified"));
    m.setUUID(std::string("0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0"));
    m.setIsInternal(std::string("Yes"));
    m.setInterfaceType(std::string("SATA"));
    m.setMediaType(std::string("Rotational"));
    m.setIsBootable(std::string("No"));
    m.setIsEjectable(std::string("No"));
    return m;
}

class LoggerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Logger::resetForTests();
        Logger::initWithUserDir(home.path());
        logPath = home.path() + "/test-log.txt";
        Logger::setUserLogFileNameAndPathWithString(logPath);
    }
    void TearDown() override { Logger::resetForTests(); }

    std::string logText() { return SafeFile::read(logPath).value_or("<no log>"); }

    TempDir home;
    std::string logPath;
};

} // namespace

TEST_F(LoggerTest, UpdateLogAddsANewlineAndTheCRFormDoesNot) {
    EXPECT_TRUE(Logger::updateLog("abc"));
    EXPECT_EQ(logText(), "abc\n");
    EXPECT_TRUE(Logger::updateLogWithCRString("abc"));
    EXPECT_EQ(logText(), "abc\nabc");
    EXPECT_TRUE(Logger::printSeparator());
    EXPECT_EQ(logText(), "abc\nabc\n" + std::string(79, '-') + "\n\n");
}

TEST_F(LoggerTest, FormattedAppendsAreCutAt254Characters) {
    std::string dataFile = home.path() + "/unit.cur";
    std::string exact(254, 'x');
    std::string longer(400, 'y');

    EXPECT_TRUE(Logger::writeDataToLogFile(logPath.c_str(), "%s", exact.c_str()));
    EXPECT_TRUE(Logger::writeDataToLogFile(logPath, "%s|%d", longer.c_str(), 7));
    EXPECT_EQ(logText(), exact + std::string(254, 'y'));

    EXPECT_TRUE(writeData(dataFile.c_str(), "%d %s\n", 12, "ab"));
    EXPECT_TRUE(writeData(dataFile, "%s", longer.c_str()));
    EXPECT_EQ(*SafeFile::read(dataFile), "12 ab\n" + std::string(254, 'y'));

    // Nothing is written through a missing path or format.
    EXPECT_FALSE(Logger::writeDataToLogFile(static_cast<const char*>(nullptr), "x"));
    EXPECT_FALSE(writeData(home.path() + "/no/such/dir/file", "x"));
}

TEST_F(LoggerTest, NamesWithControlCharactersCannotForgeLogLines) {
    EXPECT_EQ(Logger::escapeControlCharacters("a\nb\tc\r\x1b[31m\x7f Données"),
              "a\\nb\\tc\\r\\x1b[31m\\x7f Données");

    // A log named with a newline, for a unit whose path has one too.
    logPath = home.path() + "/log\nFORGED.txt";
    Logger::setUserLogFileNameAndPathWithString(logPath);
    const std::string unit = home.path() + "/a\nSURFACE SCAN *** PASSED ***\x1b[2J.img";
    const std::string shownUnit = Logger::escapeControlCharacters(unit);
    Media disk = volumeMedia();
    disk.setIsPrimaryDisk(true);
    disk.setPrimaryDiskID(unit);
    ASSERT_TRUE(Logger::startLoggingOnDrive(unit, disk));
    Logger::updateLog("Log file: " + logPath);
    // A name cut by the 254-character limit is escaped before the cut.
    std::string pad(240, '.');
    Logger::writeDataToLogFile(logPath, "%s%s\n", pad.c_str(), unit.c_str());
    Logger::updateLogWithCRString("   " + unit + "\n");

    std::string text = logText();
    EXPECT_EQ(text.find("\nSURFACE SCAN"), std::string::npos);
    EXPECT_EQ(text.find("\nFORGED"), std::string::npos);
    EXPECT_EQ(text.find('\x1b'), std::string::npos);
    EXPECT_NE(text.find("Raw device designation: " + shownUnit + "\n"), std::string::npos);
    EXPECT_NE(text.find(" Primary Disk ID:  " + shownUnit + "\n"), std::string::npos);
    EXPECT_NE(text.find("Log file: " + home.path() + "/log\\nFORGED.txt\n"), std::string::npos);
    EXPECT_NE(text.find(pad + shownUnit.substr(0, 14)), std::string::npos);
    EXPECT_NE(text.find("   " + shownUnit + "\n"), std::string::npos);
    // The text's own line ends and other names stay as they are.
    Logger::updateLog("two\nlines in /dev/sdb");
    EXPECT_NE(logText().find("\ntwo\nlines in /dev/sdb\n"), std::string::npos);
}

TEST_F(LoggerTest, NamesFollowTheUserFolderAndTheTimeStamp) {
    FakeClock clock;
    Logger::setClock(clock);
    EXPECT_EQ(Logger::versionString(), "1.7.5.10");
    EXPECT_EQ(Logger::tolvarinDir(), home.path() + "//Library/Application Support/Tolvarin");
    EXPECT_EQ(Logger::documentDir(), home.path() + "/Documents");

    std::string stamp = Utils::createTimeStamp(clock);
    Logger::setLogFileNameAndPath();
    EXPECT_EQ(Logger::currentTimeStamp(), stamp);
    EXPECT_EQ(Logger::logFileNameAndPath(), home.path() + "/Documents/Log" + stamp + ".txt");
    EXPECT_EQ(Logger::charLogFileNameAndPath(), Logger::logFileNameAndPath());

    clock.advance(61 * 1000000LL);
    std::string later = Utils::createTimeStamp(clock);
    ASSERT_NE(later, stamp);
    Logger::setReportFileNameAndPath();
    EXPECT_EQ(Logger::reportFileNameAndPath(), home.path() + "/Documents/Report" + later + ".rtf");
}

TEST_F(LoggerTest, TheCFormOfTheLogPathFollowsTheUsersChoice) {
    Logger::setLogFileNameAndPath();
    std::string chosen = home.path() + "/chosen.txt";
    Logger::setUserLogFileNameAndPathWithString(chosen);
    EXPECT_EQ(Logger::logFileNameAndPath(), chosen);
    EXPECT_EQ(Logger::charLogFileNameAndPath(), chosen);

    // The error-limit lines and the ordinary lines land in the same file.
    Logger::updateLog("line");
    Logger::writeDataToLogFile(Logger::charLogFileNameAndPath(), "\nERROR LIMIT EXCEEDED\n");
    EXPECT_EQ(*SafeFile::read(chosen), "line\n\nERROR LIMIT EXCEEDED\n");

    // A long path is kept whole, never cut to another file's name.
    std::string deep = home.path() + "/" + std::string(200, 'd') + "/" + std::string(100, 'f');
    Logger::setUserLogFileNameAndPathWithString(deep);
    EXPECT_EQ(Logger::charLogFileNameAndPath(), deep);
}

TEST_F(LoggerTest, HeaderOfAWholeDisk) {
    FakeClock clock;
    Logger::setClock(clock);
    Media disk = volumeMedia();
    disk.setIsPrimaryDisk(true);
    Logger::setFilePrefix("DISK001");
    ASSERT_TRUE(SafeFile::replace(logPath, "left over from an earlier test\n"));

    ASSERT_TRUE(Logger::startLoggingOnDrive("/dev/sdb", disk));
    std::string expected = "\n\n                 Tolvarin for Linux, version number 1.7.5.10\n\n"
                           "Log started: " +
                           Utils::createPrintableTimeStamp(clock) +
                           "\n"
                           "The device under test is a primary drive with a drive ID of: sdb\n"
                           "Raw device designation: /dev/sdb\n\n"
                           "Device Characteristics:\n\n"
                           "Primary Disk Data:\n"
                           " Primary Disk/Volume Status: Primary Disk\n"
                           " Primary Disk ID:  sdb\n"
                           " Primary Disk Size:  500.1 GB\n"
                           " Primary Disk Partition Type:   GUID_partition_scheme\n"
                           "\nVolume/Partition Information (if applicable):\n"
                           " Volume ID:   sdb2\n"
                           " Volume Partition Type:   Linux_Filesystem\n"
                           " Volume File System Type:  ext4\n"
                           " Volume Name:  Data\n"
                           " Volume Partition Size:  499.8 GB\n"
                           " Volume Free Space:   120.0 GB\n"
                           "\nGeneral Information About This Device:\n"
                           " S.M.A.R.T. Status:  Verified\n"
                           " UUID:  N/A\n"
                           " Drive Is Internal:   Yes\n"
                           " Drive Interface Type:  SATA\n"
                           " Drive Media:   Rotational\n"
                           " Media is Bootable:   No\n"
                           " Media is Ejectable:   No\n\n"
                           " Tolvarin File Prefix: DISK001\n\n" +
                           std::string(79, '-') + "\n\n";
    EXPECT_EQ(logText(), expected);
}

TEST_F(LoggerTest, HeaderOfAVolumeCarriesItsNameAndUUID) {
    ASSERT_TRUE(Logger::startLoggingOnDrive("/dev/sdb2", volumeMedia()));
    std::string log = logText();
    EXPECT_NE(log.find("The device under test is a volume named: Data\n"), std::string::npos);
    EXPECT_NE(log.find(" Primary Disk/Volume Status: Volume\n"), std::string::npos);
    EXPECT_NE(log.find(" UUID: 0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0\n"), std::string::npos);
    EXPECT_EQ(log.find("N/A"), std::string::npos);
}

TEST_F(LoggerTest, StartingALogInDocumentsCreatesTheFolder) {
    Logger::setLogFileNameAndPath();
    ASSERT_TRUE(Logger::startLoggingOnDrive("/dev/sdb2", volumeMedia()));
    struct stat st {};
    ASSERT_EQ(::stat(Logger::documentDir().c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_TRUE(SafeFile::read(Logger::logFileNameAndPath()).has_value());
}

TEST_F(LoggerTest, APlantedLinkAtTheLogIsRefusedAndReported) {
    std::string victim = home.path() + "/victim";
    ASSERT_TRUE(SafeFile::replace(victim, "precious"));
    ASSERT_EQ(::symlink(victim.c_str(), logPath.c_str()), 0);
    auto viewer = std::make_shared<RecordingViewer>();
    Logger::setLogViewerController(viewer);

    ScopedEnv console("TOLVARIN_CONSOLE", "1");
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(Logger::startLoggingOnDrive("/dev/sdb2", volumeMedia()));
    EXPECT_FALSE(Logger::updateLog("evil"));
    EXPECT_FALSE(Logger::writeDataToLogFile(logPath, "%s", "evil"));
    EXPECT_FALSE(Logger::adjustFileOwnershipOnFile(logPath));
    std::string reported = ::testing::internal::GetCapturedStderr();

    EXPECT_EQ(*SafeFile::read(victim), "precious");
    EXPECT_NE(reported.find("symbolic link"), std::string::npos) << reported;
    // What was not written is not shown either.
    EXPECT_TRUE(viewer->pieces.empty());
}

// A log that could not take a piece ends there: nothing after a hole, the
// reason kept, until a new log starts at the path.
TEST_F(LoggerTest, ALogThatCannotBeWrittenIsCutWithItsReason) {
    EXPECT_TRUE(Logger::updateLog("first"));
    EXPECT_EQ(Logger::logCutReason(logPath), "");
    ASSERT_EQ(::unlink(logPath.c_str()), 0);
    ASSERT_EQ(::mkdir(logPath.c_str(), 0700), 0);
    EXPECT_FALSE(Logger::updateLog("second"));
    EXPECT_NE(Logger::logCutReason(logPath), "");
    ASSERT_EQ(::rmdir(logPath.c_str()), 0);
    EXPECT_FALSE(Logger::updateLog("third"));
    EXPECT_EQ(logText(), "<no log>");

    ASSERT_TRUE(Logger::startLoggingOnDrive("/dev/sdb2", volumeMedia()));
    EXPECT_EQ(Logger::logCutReason(logPath), "");
    EXPECT_TRUE(Logger::updateLog("fourth"));
    EXPECT_TRUE(logText().ends_with("fourth\n"));
}

TEST_F(LoggerTest, AnActiveViewerGetsEveryPieceInOrder) {
    auto viewer = std::make_shared<RecordingViewer>();
    Logger::setLogViewerController(viewer);
    Logger::updateLog("one");
    Logger::updateLogWithCRString("two");
    Logger::writeDataToLogFile(logPath, "three %d\n", 3);
    writeData(logPath, "data line\n"); // data-file writer: never mirrored
    Logger::printSeparator();
    EXPECT_EQ(viewer->pieces, (std::vector<std::string>{"one\n", "two", "three 3\n",
                                                        "\n" + std::string(79, '-') + "\n\n"}));
}

TEST_F(LoggerTest, AClosedViewerGetsNoText) {
    auto viewer = std::make_shared<RecordingViewer>();
    viewer->active = false;
    Logger::setLogViewerController(viewer);
    Logger::updateLog("one");
    Logger::writeDataToLogFile(logPath, "two");
    EXPECT_TRUE(viewer->pieces.empty());
    EXPECT_EQ(logText(), "one\ntwo");

    // Reopened, it gets what follows.
    viewer->active = true;
    Logger::updateLog("three");
    EXPECT_EQ(viewer->pieces, std::vector<std::string>{"three\n"});

    Logger::setLogViewerController(nullptr);
    EXPECT_TRUE(Logger::updateLog("four"));
    EXPECT_EQ(viewer->pieces.size(), 1u);
}

TEST_F(LoggerTest, LinesFromSeveralThreadsStayWhole) {
    const int perThread = 200;
    auto writer = [&](char tag) {
        for (int i = 0; i < perThread; ++i) {
            // Numbered: identical lines in a row would be counted, not written.
            char number[8];
            std::snprintf(number, sizeof(number), "%03d", i);
            Logger::updateLog(std::string(37, tag) + number);
            Logger::setSurfaceErrors(i);
        }
    };
    std::thread a(writer, 'a');
    std::thread b(writer, 'b');
    a.join();
    b.join();
    std::string log = logText();
    ASSERT_EQ(log.size(), 2u * perThread * 41);
    for (size_t at = 0; at < log.size(); at += 41) {
        std::string line = log.substr(at, 41);
        EXPECT_TRUE(line.starts_with(std::string(37, 'a')) ||
                    line.starts_with(std::string(37, 'b')))
            << "line at " << at << ": " << line;
        EXPECT_EQ(line.back(), '\n');
    }
    EXPECT_EQ(Logger::surfaceErrors(), perThread - 1);
}

// A unit that fails every read the same way must not fill the disk with one
// line: a run is written three times, then counted once it ends.
TEST_F(LoggerTest, ARunOfTheSameLineIsWrittenThriceThenCounted) {
    auto viewer = std::make_shared<RecordingViewer>();
    Logger::setLogViewerController(viewer);
    for (int i = 0; i < 100000; ++i) {
        Logger::writeDataToLogFile(logPath, "%s", "SIZING SCAN CRITICAL ERROR: same\n");
    }
    Logger::updateLog("next");
    for (int i = 0; i < 4; ++i) {
        Logger::updateLog("again");
    }
    // Blank lines are layout, never counted; a run of one extra says "time".
    Logger::updateLogWithCRString("\n");
    Logger::updateLogWithCRString("\n");
    Logger::updateLogWithCRString("\n");
    Logger::updateLogWithCRString("\n");
    std::string same = "SIZING SCAN CRITICAL ERROR: same\n";
    std::string expected =
        same + same + same + "   (the line above was repeated 99997 more times)\n" + "next\n" +
        "again\nagain\nagain\n" + "   (the line above was repeated 1 more time)\n" + "\n\n\n\n";
    EXPECT_EQ(logText(), expected);
    EXPECT_EQ(viewer->pieces.size(), 13u);

    // A run still open at the end of a test is closed by the flush, once.
    Logger::updateLog("tail");
    for (int i = 0; i < 5; ++i) {
        Logger::updateLog("tail");
    }
    Logger::flushRepeatedLines();
    Logger::flushRepeatedLines();
    EXPECT_EQ(logText(),
              expected + "tail\ntail\ntail\n" + "   (the line above was repeated 3 more times)\n");
    // Data files are never counted.
    std::string data = home.path() + "/unit.css";
    for (int i = 0; i < 5; ++i) {
        writeData(data, "I:0\n");
    }
    EXPECT_EQ(*SafeFile::read(data), "I:0\nI:0\nI:0\nI:0\nI:0\n");
}

TEST_F(LoggerTest, ResultsAreKeptUntilReset) {
    Logger::setTotalErrors(3);
    Logger::setCurrentRPISSLIN(41.5);
    Logger::setIsInitialScan(true);
    Logger::setTypeOfTest("Normal");
    EXPECT_EQ(Logger::totalErrors(), 3);
    EXPECT_DOUBLE_EQ(Logger::currentRPISSLIN(), 41.5);
    EXPECT_TRUE(Logger::isInitialScan());
    EXPECT_EQ(Logger::typeOfTest(), "Normal");
    Logger::resetForTests();
    EXPECT_EQ(Logger::totalErrors(), 0);
    EXPECT_EQ(Logger::typeOfTest(), "");
    EXPECT_EQ(Logger::logFileNameAndPath(), "");
    EXPECT_FALSE(Logger::updateLog("nowhere"));
}

} // namespace tolvarin
