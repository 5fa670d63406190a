#include "store/IntegrityChecker.h"
#include "store/DataFileSet.h"

#include "engine/DiskContext.h"
#include "logging/Logger.h"
#include "logging/MessageCenter.h"
#include "platform/SafeFile.h"
#include "platform/System.h"
#include "store/AverageFile.h"
#include "store/DataFileFormat.h"
#include "store/Quarrykit.h"
#include "store/ScanFileReader.h"
#include "tests/support/ScriptedAnswerer.h"
#include "tests/support/TempDir.h"
#include "tests/support/UnitFiles.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <set>
#include <unistd.h>

namespace tolvarin {

namespace {

using Files = std::map<std::string, std::string>;
const std::set<int> kTableStates{15, 31, 63, 127, 255, 1535, 2047, 3583, 6143, 11775};

// Cuts the trailer off a file: the usual damage of a scan that was killed.
void damage(const UnitFiles& unit, const std::string& suffix) {
    std::string text = *unit.read(suffix);
    unit.write(suffix, text.substr(0, text.rfind("END OF FILE")));
}

class CheckerFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        Logger::resetForTests();
        MessageCenter::resetForTests();
        answerer = std::make_shared<ScriptedAnswerer>();
        MessageCenter::setAnswerer(answerer);
    }
    void TearDown() override {
        MessageCenter::resetForTests();
        Logger::resetForTests();
    }
    MemoryBackedTemp memory;
    // Every file of the unit's state is there and whole.
    void expectSound(IntegrityChecker& checker, int state) {
        for (const std::string& suffix : UnitFiles::suffixes()) {
            if (state & UnitFiles::bitFor(suffix)) {
                EXPECT_TRUE(checker.checkSingleFileWithSuffix(suffix)) << suffix;
            }
        }
    }

    std::shared_ptr<ScriptedAnswerer> answerer;
    Quarrykit kit;
};

class IntegrityCheckerTest : public CheckerFixture {
  protected:
    void SetUp() override {
        CheckerFixture::SetUp();
        logPath = dir.path() + "/log.txt";
        Logger::setUserLogFileNameAndPathWithString(logPath);
    }
    std::string log() const { return SafeFile::read(logPath).value_or(""); }

    TempDir dir;
    UnitFiles unit{dir.path()};
    std::string logPath;
};

struct Row {
    int state;
    const char* damaged; // "" when every file is sound
    int answer;
    std::vector<int> alerts;
    int newState; // -1: refused, nothing touched
};

// Every row of the checker's tables, with the answer that decides it.
const Row kRows[] = {
    {31, ".iss", 1, {1009}, 15},     {31, ".iss", 0, {1009}, -1},
    {63, ".iss", 1, {1009}, 15},     {63, ".iss", 0, {1009}, -1},
    {63, ".ssa", 1, {}, 63},         {127, ".iss", 1, {1009}, 15},
    {127, ".iss", 0, {1009}, -1},    {127, ".ssa", 1, {}, 127},
    {127, ".isk", 1, {1010}, 63},    {127, ".isk", 0, {1010}, -1},
    {255, ".iss", 1, {1011}, 15},    {255, ".iss", 0, {1011}, -1},
    {255, ".ssa", 1, {}, 1535},      {255, ".isk", 1, {1012}, 63},
    {255, ".isk", 0, {1012}, -1},    {255, ".ska", 1, {}, 1535},
    {255, "", 1, {}, 1535},          {1535, "", 1, {}, 1535},
    {1535, ".iss", 1, {1013}, 15},   {1535, ".ssa", 1, {1013}, 31},
    {1535, ".isk", 1, {1013}, 63},   {1535, ".ska", 1, {1013}, 1535},
    {1535, ".css", 1, {1013}, 1535}, {1535, ".csk", 1, {1013}, 1535},
    {1535, ".csk", 0, {1013}, -1},   {2047, "", 1, {}, 2047},
    {2047, ".pss", 1, {1013}, 1535}, {2047, ".css", 1, {1013}, 1535},
    {3583, "", 1, {}, 3583},         {3583, ".psk", 1, {1013}, 1535},
    {3583, ".ska", 0, {1013}, -1},   {6143, "", 1, {}, 2047},
    {6143, ".pss", 1, {1013}, 1535}, {6143, ".isk", 1, {1013}, 63},
    {11775, "", 1, {}, 3583},        {11775, ".psk", 1, {1013}, 1535},
    {11775, ".iss", 1, {1013}, 15},
};

} // namespace

TEST_F(IntegrityCheckerTest, EveryRowOfTheTables) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(std::to_string(row.state) + " " + row.damaged + " answered " +
                     std::to_string(row.answer));
        TempDir rowDir;
        UnitFiles u(rowDir.path());
        u.makeState(row.state);
        std::string damaged = row.damaged;
        if (!damaged.empty()) {
            damage(u, damaged);
        }
        Files before = u.snapshot();
        auto rowAnswers = std::make_shared<ScriptedAnswerer>();
        rowAnswers->setFallback(row.answer);
        MessageCenter::setAnswerer(rowAnswers);

        IntegrityChecker checker(row.state, rowDir.path(), kit, u.prefix());
        EXPECT_EQ(rowAnswers->askedNumbers(), row.alerts);
        if (row.newState < 0) {
            EXPECT_TRUE(checker.resetFlag());
            EXPECT_EQ(u.snapshot(), before);
            continue;
        }
        EXPECT_FALSE(checker.resetFlag());
        EXPECT_EQ(checker.deviceState(), row.newState);
        EXPECT_EQ(u.stateOnDisk(), row.newState);
        expectSound(checker, row.newState);
        // Files the rollback kept are the files that were there.
        for (const auto& [name, text] : u.snapshot()) {
            std::string suffix = name.substr(u.prefix().size());
            bool rebuilt = suffix == damaged || suffix == ".css" || suffix == ".csk" ||
                           (damaged == ".ska" && suffix == ".ska");
            if (!rebuilt) {
                EXPECT_EQ(text, before[name]) << name;
            }
        }
    }
}

TEST_F(IntegrityCheckerTest, RebuildsComeFromTheSoundBaseline) {
    unit.makeState(1535);
    damage(unit, ".ska");
    answerer->push(1013, 1);
    IntegrityChecker checker(1535, dir.path(), kit, unit.prefix());
    ASSERT_EQ(checker.deviceState(), 1535);
    std::string ska = *unit.read(".ska");
    EXPECT_EQ(ska, *AverageFile::firstAverageText(AverageFile::Kind::Seek, *unit.read(".isk"),
                                                  unit.name(".ska")));
    EXPECT_EQ(AverageFile::sampleSize(ska), 1);
    std::string css = *unit.read(".css");
    std::string iss = *unit.read(".iss");
    EXPECT_EQ(css.substr(0, css.find("END OF FILE")), iss.substr(0, iss.find("END OF FILE")));

    std::string text = log();
    EXPECT_NE(text.find("SCAN CONROLLER: Corrupt files and will be deleted at user request.\n"
                        "Tolvarin will roll back files to the best reproducible state.\n"),
              std::string::npos);
    for (const char* suffix : {".ska", ".css", ".csk"}) {
        EXPECT_NE(text.find("SCAN CONTROLLER: Deleted file " + unit.path(suffix) +
                            " as directed by user\n"),
                  std::string::npos)
            << suffix;
    }
}

TEST_F(IntegrityCheckerTest, CorruptBaseFilesWipeTheUnitOrRefuseTheScan) {
    unit.makeState(1535);
    UnitFiles other(dir.path(), "M02-V-USB-01-02-2010-10-11-12");
    other.makeState(255);
    Files otherBefore = other.snapshot();
    damage(unit, ".skx");
    Files before = unit.snapshot();

    answerer->push(1008, 0);
    IntegrityChecker refused(1535, dir.path(), kit, unit.prefix());
    EXPECT_TRUE(refused.resetFlag());
    EXPECT_EQ(unit.snapshot(), before);
    EXPECT_EQ(answerer->askedNumbers(), std::vector<int>{1008});
    EXPECT_EQ(refused.exitStatus(), 0);
    EXPECT_NE(log().find("SCAN CONTROLLER: Aborting scan on device with bad indices\n"),
              std::string::npos);

    answerer->push(1008, 1);
    IntegrityChecker wiped(1535, dir.path(), kit, unit.prefix());
    EXPECT_EQ(wiped.exitStatus(), IntegrityChecker::kCorruptIndexExitStatus);
    EXPECT_TRUE(unit.snapshot().empty());
    EXPECT_EQ(other.snapshot(), otherBefore);
    EXPECT_TRUE(wiped.resetFlag());
    std::string text = log();
    EXPECT_NE(text.find("SCAN CONTROLLER FAILED TO INITIALIZE: Corrupt index files.\n"),
              std::string::npos);
    EXPECT_NE(text.find("SCAN CONTROLLER: Exiting Tolvarin at user request.\n"), std::string::npos);

    // An empty prefix owns no file.
    EXPECT_FALSE(DataFileSet(dir.path(), "").holdsName(".hdr"));
    EXPECT_FALSE(DataFileSet(dir.path(), "M01-x").holdsName("M01-x2.hdr"));
    EXPECT_TRUE(DataFileSet(dir.path(), "M01-x").holdsName("M01-x.hdr"));
}

TEST(IntegrityCheckerText, HeaderAndTrailerChecks) {
    using C = IntegrityChecker::FileCheck;
    std::string head = DataFileFormat::header();
    EXPECT_EQ(IntegrityChecker::checkFileText(head + "END OF FILE M01.ssa", "M01.ssa"), C::Sound);
    EXPECT_EQ(IntegrityChecker::checkFileText(head + "END OF FILE M01.ssa\n", "M01.ssa"), C::Sound);
    EXPECT_EQ(IntegrityChecker::checkFileText(head + "END OF FILE M01.ssa\n\n", "M01.ssa"),
              C::BadTrailer);
    EXPECT_EQ(IntegrityChecker::checkFileText(head + "END OF FILE M01.ss", "M01.ssa"),
              C::BadTrailer);
    EXPECT_EQ(IntegrityChecker::checkFileText("", "M01.ssa"), C::BadHeader);
    EXPECT_EQ(
        IntegrityChecker::checkFileText(head.substr(0, 60) + "\nEND OF FILE M01.ssa\n", "M01.ssa"),
        C::BadHeader);
}

// --- interruption ----------------------------------------------------------------

namespace {

// The files of a unit in every state, cut at every line end and at points
// inside lines, then checked and resumed.
class InterruptionTest : public CheckerFixture {
  protected:
    void SetUp() override {
        CheckerFixture::SetUp();
        root = std::make_unique<TempDir>();
        Logger::setUserLogFileNameAndPathWithString(root->path() + "/log.txt");
    }
    void TearDown() override {
        root.reset();
        CheckerFixture::TearDown();
    }

    static std::vector<std::size_t> cutPoints(const std::string& text) {
        std::vector<std::size_t> points{0};
        std::size_t start = 0;
        for (std::size_t nl = text.find('\n'); nl != std::string::npos;
             nl = text.find('\n', start)) {
            std::size_t length = nl - start;
            if (length > 3) {
                points.push_back(start + length / 3);
                points.push_back(start + 2 * length / 3);
            }
            points.push_back(nl);     // the newline lost
            points.push_back(nl + 1); // a whole line
            start = nl + 1;
        }
        return points;
    }

    void writeAll(const std::string& directory, const Files& files) {
        for (const auto& [name, text] : files) {
            ASSERT_TRUE(SafeFile::replace(directory + "/" + name, text));
        }
    }

    // One run: the unit in `state` with file `suffix` cut at `at`, the
    // checker answered with `answer`, then the resume readers.
    void run(int state, const Files& whole, const std::string& suffix, std::size_t at, int answer) {
        TempDir d;
        UnitFiles u(d.path());
        Files files = whole;
        std::string& cut = files[u.name(suffix)];
        cut.resize(at);
        writeAll(d.path(), files);
        auto answers = std::make_shared<ScriptedAnswerer>();
        answers->setFallback(answer);
        MessageCenter::setAnswerer(answers);

        IntegrityChecker checker(state, d.path(), kit, u.prefix());
        int now = checker.deviceState();
        if (checker.resetFlag()) {
            EXPECT_EQ(u.snapshot(), files);
        } else {
            ASSERT_TRUE(kTableStates.count(now)) << now;
            ASSERT_EQ(u.stateOnDisk(), now);
            expectSound(checker, now);
        }

        if (checker.resetFlag()) {
            return;
        }
        // The scan resumes where the state says one is under way.
        DiskContext disk;
        disk.sections.resize(UnitFiles::kSections);
        disk.seekPairs.resize(UnitFiles::kPairs);
        int errors = 0;
        const std::pair<int, const char*> underWay[] = {
            {31, ".iss"}, {127, ".isk"}, {2047, ".css"}, {3583, ".csk"}};
        for (const auto& [resumeState, file] : underWay) {
            if (now != resumeState || ScanFileReader::isScanCompleteOnFile(u.path(file))) {
                continue;
            }
            bool seek = std::string(file) == ".isk" || std::string(file) == ".csk";
            int n = seek ? ScanFileReader::extractSeekDataFromFile(u.path(file), disk, errors)
                         : ScanFileReader::extractSurfaceDataFromFile(u.path(file), disk);
            std::string kept = *u.read(file);
            EXPECT_TRUE(DataFileFormat::hasHeader(kept));
            EXPECT_EQ(DataFileFormat::splitLines(kept).size(), static_cast<std::size_t>(n + 2));
            EXPECT_EQ(files[u.name(file)].substr(0, kept.size()), kept);
        }

        // A complete baseline changes only by an explicit deletion.
        for (const char* baseline : {".iss", ".isk"}) {
            std::string name = u.name(baseline);
            if (baseline == suffix || !whole.count(name) ||
                !ScanFileReader::isScanCompleteText(whole.at(name))) {
                continue;
            }
            if (u.exists(baseline)) {
                EXPECT_EQ(*u.read(baseline), whole.at(name)) << baseline;
            } else {
                EXPECT_EQ(answer, 1) << baseline;
                EXPECT_FALSE(answers->askedNumbers().empty()) << baseline;
            }
        }
    }

    std::unique_ptr<TempDir> root;
};

} // namespace

TEST_F(InterruptionTest, CutFilesEndInAKnownStateAndBaselinesSurvive) {
    const std::vector<std::pair<int, std::vector<std::string>>> plan{
        {31, {".iss"}},
        {63, {".iss", ".ssa"}},
        {127, {".isk"}},
        {255, {".ska"}},
        {1535, {".ssa", ".css", ".csk"}},
        {2047, {".css", ".pss"}},
        {3583, {".csk", ".psk"}},
        {6143, {".sst"}},
        {11775, {".skt"}},
    };
    int runs = 0;
    for (const auto& [state, cutFiles] : plan) {
        Files whole;
        {
            TempDir d;
            UnitFiles u(d.path());
            u.makeState(state);
            whole = u.snapshot();
        }
        for (const std::string& suffix : cutFiles) {
            std::string text = whole.at(std::string(UnitFiles::kPrefix) + suffix);
            for (std::size_t at : cutPoints(text)) {
                SCOPED_TRACE(std::to_string(state) + " " + suffix + " cut at " +
                             std::to_string(at));
                run(state, whole, suffix, at, 1);
                ++runs;
                if (at == 0 || text[at - 1] == '\n') {
                    run(state, whole, suffix, at, 0);
                    ++runs;
                }
                if (HasFatalFailure()) {
                    return;
                }
            }
        }
    }
    EXPECT_GT(runs, 500);
}

} // namespace tolvarin
