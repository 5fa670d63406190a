#include "app/Preferences.h"
#include "platform/SafeFile.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvarin {

namespace {

class PreferencesTest : public testing::Test {
  protected:
    TempDir home;
    ScopedEnv homeEnv{"TOLVARIN_HOME", home.path()};
    std::string conf() const { return home.path() + "/.config/Tolvarin/Tolvarin.conf"; }
    void plant(const std::string& text) {
        ASSERT_TRUE(SafeFile::makeDirectories(home.path() + "/.config/Tolvarin"));
        ASSERT_TRUE(SafeFile::replace(conf(), text));
    }
    std::string stored() const { return SafeFile::read(conf()).value_or("<unreadable>"); }
};

} // namespace

TEST_F(PreferencesTest, DefaultsWhenNoFileExists) {
    Preferences prefs;
    EXPECT_EQ(prefs.filePath(), conf());
    EXPECT_TRUE(prefs.load());
    std::map<std::string, int> expected = {
        {"probeKey", 0},           {"errorLimitKey", 10},         {"indexingControl", 1},
        {"disableTimeMachine", 0}, {"disablePowerManagement", 0},
    };
    EXPECT_EQ(prefs.dictionary(), expected);
    EXPECT_EQ(Preferences::keys().size(), 5u);
    EXPECT_EQ(prefs.integerForKey("noSuchKey"), 0);
    EXPECT_FALSE(prefs.setIntegerForKey(1, "noSuchKey"));
}

TEST_F(PreferencesTest, ValuesAreKeptInTheirRanges) {
    Preferences prefs;
    prefs.setIntegerForKey(0, Preferences::errorLimitKey);
    EXPECT_EQ(prefs.integerForKey(Preferences::errorLimitKey), 1);
    prefs.setIntegerForKey(250, Preferences::errorLimitKey);
    EXPECT_EQ(prefs.integerForKey(Preferences::errorLimitKey), 100);
    prefs.setIntegerForKey(55, Preferences::errorLimitKey);
    EXPECT_EQ(prefs.integerForKey(Preferences::errorLimitKey), 55);
    prefs.setIntegerForKey(-4000000000LL, Preferences::errorLimitKey);
    EXPECT_EQ(prefs.integerForKey(Preferences::errorLimitKey), 1);
    // A switch that is neither 0 nor 1 reads as its default.
    prefs.setIntegerForKey(7, Preferences::indexingControl);
    EXPECT_EQ(prefs.integerForKey(Preferences::indexingControl), 1);
    prefs.setIntegerForKey(1, Preferences::probeKey);
    EXPECT_EQ(prefs.integerForKey(Preferences::probeKey), 1);
}

TEST_F(PreferencesTest, WritesTheGeneralSectionAndReadsItBack) {
    Preferences prefs;
    prefs.setIntegerForKey(1, Preferences::probeKey);
    prefs.setIntegerForKey(55, Preferences::errorLimitKey);
    prefs.setIntegerForKey(0, Preferences::indexingControl);
    prefs.setIntegerForKey(1, Preferences::disablePowerManagement);
    ASSERT_TRUE(prefs.synchronize());
    EXPECT_EQ(stored(), "[General]\n"
                        "probeKey=1\n"
                        "errorLimitKey=55\n"
                        "indexingControl=0\n"
                        "disableTimeMachine=0\n"
                        "disablePowerManagement=1\n");
    Preferences again;
    ASSERT_TRUE(again.load());
    EXPECT_EQ(again.dictionary(), prefs.dictionary());

    // Reading again forgets values the file no longer holds.
    plant("[General]\nprobeKey=1\n");
    ASSERT_TRUE(again.load());
    EXPECT_EQ(again.integerForKey(Preferences::errorLimitKey), 10);
    EXPECT_EQ(again.integerForKey(Preferences::probeKey), 1);
}

TEST_F(PreferencesTest, GarbageAndOutOfRangeValuesFallBack) {
    plant("[General]\n"
          "probeKey=7\n"
          "errorLimitKey=lots\n"
          "indexingControl=\n"
          "disableTimeMachine=true\n"
          "disablePowerManagement=\"1\"\n");
    Preferences prefs;
    EXPECT_TRUE(prefs.load());
    EXPECT_EQ(prefs.integerForKey(Preferences::probeKey), 0);
    EXPECT_EQ(prefs.integerForKey(Preferences::errorLimitKey), 10);
    EXPECT_EQ(prefs.integerForKey(Preferences::indexingControl), 1);
    EXPECT_EQ(prefs.integerForKey(Preferences::disableTimeMachine), 1);
    EXPECT_EQ(prefs.integerForKey(Preferences::disablePowerManagement), 1);

    plant("errorLimitKey=99999999999999999999999\n");
    Preferences huge;
    EXPECT_TRUE(huge.load());
    EXPECT_EQ(huge.integerForKey(Preferences::errorLimitKey), 10);
    plant("errorLimitKey = 250 \n");
    Preferences high;
    EXPECT_TRUE(high.load());
    EXPECT_EQ(high.integerForKey(Preferences::errorLimitKey), 100);
    plant("errorLimitKey=12abc\n");
    Preferences trailing;
    EXPECT_TRUE(trailing.load());
    EXPECT_EQ(trailing.integerForKey(Preferences::errorLimitKey), 10);
}

TEST_F(PreferencesTest, OtherSettingsInTheFileSurviveAWrite) {
    plant("; written by hand\n"
          "[General]\n"
          "lastFolder=/home/me/Documents\n"
          "errorLimitKey=20\n"
          "\n"
          "[MainWindow]\n"
          "geometry=@ByteArray(\\x1\\xd9\\xd0\\xcb)\n"
          "errorLimitKey=77\n");
    Preferences prefs;
    ASSERT_TRUE(prefs.load());
    // Only [General] holds the preferences.
    EXPECT_EQ(prefs.integerForKey(Preferences::errorLimitKey), 20);
    prefs.setIntegerForKey(30, Preferences::errorLimitKey);
    ASSERT_TRUE(prefs.synchronize());
    EXPECT_EQ(stored(), "; written by hand\n"
                        "[General]\n"
                        "lastFolder=/home/me/Documents\n"
                        "errorLimitKey=30\n"
                        "probeKey=0\n"
                        "indexingControl=1\n"
                        "disableTimeMachine=0\n"
                        "disablePowerManagement=0\n"
                        "\n"
                        "[MainWindow]\n"
                        "geometry=@ByteArray(\\x1\\xd9\\xd0\\xcb)\n"
                        "errorLimitKey=77\n");
}

TEST_F(PreferencesTest, GeneralSectionIsAddedAboveOtherSections) {
    plant("[Diagnostics]\nmemoryTestIterations=4\n");
    Preferences prefs;
    ASSERT_TRUE(prefs.synchronize());
    EXPECT_EQ(stored(), "[General]\n"
                        "probeKey=0\n"
                        "errorLimitKey=10\n"
                        "indexingControl=1\n"
                        "disableTimeMachine=0\n"
                        "disablePowerManagement=0\n"
                        "\n"
                        "[Diagnostics]\n"
                        "memoryTestIterations=4\n");
}

TEST_F(PreferencesTest, ALinkAtTheFileIsNeitherReadNorWrittenThrough) {
    std::string victim = home.path() + "/secret";
    ASSERT_TRUE(SafeFile::replace(victim, "errorLimitKey=42\nroot-only text\n"));
    ASSERT_TRUE(SafeFile::makeDirectories(home.path() + "/.config/Tolvarin"));
    ASSERT_EQ(::symlink(victim.c_str(), conf().c_str()), 0);

    Preferences prefs;
    std::string error;
    EXPECT_FALSE(prefs.load(&error));
    EXPECT_NE(error.find("symbolic link"), std::string::npos) << error;
    EXPECT_EQ(prefs.integerForKey(Preferences::errorLimitKey), 10);

    EXPECT_FALSE(prefs.synchronize(&error));
    EXPECT_NE(error.find("not written"), std::string::npos) << error;
    EXPECT_EQ(*SafeFile::read(victim), "errorLimitKey=42\nroot-only text\n");
    struct stat st {};
    ASSERT_EQ(::lstat(conf().c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

} // namespace tolvarin
