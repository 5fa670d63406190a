#include "store/Quarrykit.h"
#include "platform/SafeFile.h"
#include "platform/System.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvarin {

using Names = std::vector<std::string>;

namespace {

class QuarrykitTest : public testing::Test {
  protected:
    TempDir dir;
    Quarrykit kit;
    std::string at(const std::string& name) const { return dir.path() + "/" + name; }
    void write(const std::string& name, const std::string& text) {
        ASSERT_TRUE(SafeFile::replace(at(name), text));
    }
    void link(const std::string& target, const std::string& name) {
        ASSERT_EQ(::symlink(target.c_str(), at(name).c_str()), 0);
    }
    bool isLink(const std::string& name) const {
        struct stat st {};
        return ::lstat(at(name).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    }
};

// Watches the fatal path: the exit status, and the console lines.

} // namespace

TEST_F(QuarrykitTest, ListsBareNamesOfTheLastDirectorySet) {
    write("Tolvarin2.hdr", "h");
    write("Tolvarin1.hdr", "h");
    write(".Tolvarin1.hdr.AbC123", "left over by an interrupted replace");
    ASSERT_TRUE(SafeFile::makeDirectories(at("prev")));
    link(at("Tolvarin1.hdr"), "Tolvarin1.lnk");

    kit.setDirContents(dir.path());
    EXPECT_EQ(kit.dirContents(),
              (Names{"Tolvarin1.hdr", "Tolvarin1.lnk", "Tolvarin2.hdr", "prev"}));
    // The listing is taken when set, not when read.
    write("Tolvarin3.hdr", "h");
    EXPECT_EQ(kit.dirContents().size(), 4u);

    kit.setDirContents(at("prev"));
    EXPECT_TRUE(kit.dirContents().empty());
    kit.setDirContents(at("no-such-directory"));
    EXPECT_TRUE(kit.dirContents().empty());
    kit.setDirContents(at("Tolvarin1.hdr"));
    EXPECT_TRUE(kit.dirContents().empty());
}

TEST_F(QuarrykitTest, PathElementsAndSuffixes) {
    EXPECT_EQ(kit.extractLastElementOfPath("/a/Tolvarin/Tolvarin1.bsl"), "Tolvarin1.bsl");
    EXPECT_EQ(kit.extractLastElementOfPath("/a/prev/"), "prev");
    EXPECT_EQ(kit.extractLastElementOfPath("plain"), "plain");
    EXPECT_EQ(kit.extractLastElementOfPath("/"), "/");

    EXPECT_EQ(kit.extractFileSuffix("Tolvarin1.hdr"), ".hdr");
    EXPECT_EQ(kit.extractFileSuffix("Tolvarin1.iss.tmp"), ".tmp");
    EXPECT_EQ(kit.extractFileSuffix("/dir.d/Tolvarin1"), "");
    EXPECT_EQ(kit.extractFileSuffix("TOLVARIN_USB"), "");
    EXPECT_EQ(kit.extractFileSuffix("name."), ".");
}

TEST_F(QuarrykitTest, DeletesFilesButNotDirectoriesNorLinkTargets) {
    write("Tolvarin1.tmp", "x");
    EXPECT_TRUE(kit.deleteFile(at("Tolvarin1.tmp")));
    EXPECT_FALSE(kit.isFile(at("Tolvarin1.tmp")));
    EXPECT_FALSE(kit.deleteFile(at("Tolvarin1.tmp")));

    ASSERT_TRUE(SafeFile::makeDirectories(at("prev")));
    EXPECT_FALSE(kit.deleteFile(at("prev")));
    EXPECT_TRUE(kit.isDirectory(at("prev")));

    write("victim", "precious");
    link(at("victim"), "Tolvarin1.cur");
    EXPECT_TRUE(kit.deleteFile(at("Tolvarin1.cur")));
    EXPECT_FALSE(isLink("Tolvarin1.cur"));
    EXPECT_EQ(*SafeFile::read(at("victim")), "precious");
}

TEST_F(QuarrykitTest, CopiesReplaceTheTargetAndKeepTheSource) {
    write("Tolvarin1.cur", "current data\n");
    write("Tolvarin1.avg", "old average\n");
    EXPECT_TRUE(kit.copyFileFrom(at("Tolvarin1.cur"), at("Tolvarin1.avg"), true));
    EXPECT_EQ(*SafeFile::read(at("Tolvarin1.avg")), "current data\n");
    EXPECT_EQ(*SafeFile::read(at("Tolvarin1.cur")), "current data\n");

    EXPECT_TRUE(kit.copyFileFrom(at("Tolvarin1.cur"), at("new.bsl"), false));
    EXPECT_EQ(*SafeFile::read(at("new.bsl")), "current data\n");
    // Not allowed to replace: the target is left as it is.
    write("kept.bsl", "keep me");
    EXPECT_FALSE(kit.copyFileFrom(at("Tolvarin1.cur"), at("kept.bsl"), false));
    EXPECT_EQ(*SafeFile::read(at("kept.bsl")), "keep me");

    EXPECT_FALSE(kit.copyFileFrom(at("missing.cur"), at("Tolvarin1.avg"), true));
    EXPECT_EQ(*SafeFile::read(at("Tolvarin1.avg")), "current data\n");
    EXPECT_FALSE(kit.copyFileFrom(at("Tolvarin1.cur"), at("no-dir/Tolvarin1.avg"), true));
    // No temporary file is left behind by the failures.
    EXPECT_EQ(dir.entries(), (Names{"Tolvarin1.avg", "Tolvarin1.cur", "kept.bsl", "new.bsl"}));
}

TEST_F(QuarrykitTest, CopyNeverWritesOrReadsThroughAPlantedLink) {
    write("Tolvarin1.cur", "current data\n");
    write("victim", "precious");
    link(at("victim"), "prev-Tolvarin1.cur");
    EXPECT_TRUE(kit.copyFileFrom(at("Tolvarin1.cur"), at("prev-Tolvarin1.cur"), true));
    EXPECT_EQ(*SafeFile::read(at("victim")), "precious");
    EXPECT_FALSE(isLink("prev-Tolvarin1.cur"));
    EXPECT_EQ(*SafeFile::read(at("prev-Tolvarin1.cur")), "current data\n");

    // A link at the source could show another user's file to the copy.
    link(at("victim"), "Tolvarin2.cur");
    EXPECT_FALSE(kit.copyFileFrom(at("Tolvarin2.cur"), at("Tolvarin2.avg"), true));
    EXPECT_FALSE(kit.isFile(at("Tolvarin2.avg")));
}

TEST_F(QuarrykitTest, KindsOfPathAreTakenWithoutFollowingLinks) {
    write("history.txt", "h");
    ASSERT_TRUE(SafeFile::makeDirectories(at("Tolvarin")));
    link(at("history.txt"), "linked.txt");
    link(at("Tolvarin"), "linkedDir");

    EXPECT_TRUE(kit.isFile(at("history.txt")));
    EXPECT_FALSE(kit.isFile(at("Tolvarin")));
    EXPECT_FALSE(kit.isFile(at("linked.txt")));
    EXPECT_FALSE(kit.isFile(at("missing")));
    EXPECT_FALSE(kit.isFile(""));
    EXPECT_TRUE(kit.isDirectory(at("Tolvarin")));
    EXPECT_FALSE(kit.isDirectory(at("history.txt")));
    EXPECT_FALSE(kit.isDirectory(at("linkedDir")));
    EXPECT_FALSE(kit.isDirectory(at("missing")));

    EXPECT_TRUE(kit.makeDirectoryAtPath(at("Library/Application Support/Tolvarin")));
    EXPECT_TRUE(kit.isDirectory(at("Library/Application Support/Tolvarin")));
    EXPECT_TRUE(kit.makeDirectoryAtPath(at("Tolvarin")));
    EXPECT_FALSE(kit.makeDirectoryAtPath(at("history.txt/sub")));
    EXPECT_FALSE(kit.makeDirectoryAtPath(at("linkedDir")));
}

TEST(QuarrykitModule, BuiltModuleMakesAWorkingObject) {
    ScopedEnv resources("TOLVARIN_RESOURCES", std::string(TOLVARIN_BUILD_DIR) + "/Resources");
    std::unique_ptr<Quarrykit> kit = Quarrykit::load();
    ASSERT_NE(kit, nullptr);
    EXPECT_EQ(kit->extractFileSuffix("Tolvarin1.hdr"), ".hdr");
    TempDir dir;
    ASSERT_TRUE(SafeFile::replace(dir.path() + "/a.hdr", "x"));
    kit->setDirContents(dir.path());
    EXPECT_EQ(kit->dirContents(), (Names{"a.hdr"}));
}

TEST(QuarrykitModule, MissingModuleIsReportedAndGivesNoObject) {
    TempDir empty;
    ScopedEnv resources("TOLVARIN_RESOURCES", empty.path());
    ScopedEnv console("TOLVARIN_CONSOLE", "1");
    testing::internal::CaptureStderr();
    EXPECT_EQ(Quarrykit::load(), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "TOLVARIN - ERROR: Quarrykit Bundle could not be found.\n"
              "TOLVARIN - ERROR: One or more bundles could not be loaded. TERMINATING!\n");
}

TEST(QuarrykitModule, BrokenModuleIsReportedAsNotLoadedProperly) {
    TempDir dir;
    ScopedEnv console("TOLVARIN_CONSOLE", "1");
    std::string path = dir.path() + "/Quarrykit.so";
    ASSERT_TRUE(SafeFile::replace(path, "not a shared object"));
    testing::internal::CaptureStderr();
    EXPECT_EQ(Quarrykit::loadFromModule(path), nullptr);
    EXPECT_NE(testing::internal::GetCapturedStderr().find(
                  "TOLVARIN - ERROR: Quarrykit could not be loaded properly from bundle.\n"),
              std::string::npos);
}

} // namespace tolvarin
