#include "cli/CliView.h"
#include "app/GUIController.h"
#include "cli/CursoryCommand.h"
#include "cli/TestRun.h"
#include "logging/Logger.h"
#include "logging/MessageCenter.h"
#include "platform/SafeFile.h"
#include "tests/support/FakeClock.h"
#include "tests/support/FakeEnv.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <sstream>

namespace tolvarin {

namespace {

size_t lines(const std::string& text) {
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

class CliViewTest : public ::testing::Test {
  protected:
    CliViewTest() : home("TOLVARIN_HOME", dir.path()) {
        MessageCenter::resetForTests();
        Logger::resetForTests();
    }
    ~CliViewTest() override {
        MessageCenter::resetForTests();
        Logger::resetForTests();
    }

    // A hub in the middle of a surface scan.
    void scanning(GUIController& hub, double surface) {
        hub.setNormalScan(false);
        hub.progress().setUnderTest(true);
        ScanProgress p;
        p.typeOfTest = "Surface Scan";
        p.currentTestRange = "Scanning from 1.049 GB to 1.075 GB";
        p.surfacePercentage = surface;
        p.totalErrors = 2;
        p.totalIrregularities = 1;
        hub.progress().showProgress(p);
    }

    TempDir dir;
    ScopedEnv home;
    FakeClock clock;
    FakeEnv env{clock};
};

} // namespace

TEST_F(CliViewTest, StatusLineShowsTypeRangeBarsAndTotals) {
    CliView::Progress p;
    p.typeOfTest = "Surface Scan";
    p.range = "Scanning from 1.049 GB to 1.075 GB";
    p.surface = 0.5;
    p.seek = 0;
    p.errors = "2";
    p.irregularities = "1";
    EXPECT_EQ(CliView::statusLine(p),
              "Cursory Surface Scan | Scanning from 1.049 GB to 1.075 GB | surface "
              "[##########..........] 50% | seek [....................]  0% | errors 2 | "
              "irregularities 1");
    p.stalled = true;
    p.range = " ";
    p.normal = true;
    EXPECT_EQ(CliView::statusLine(p).rfind("Normal Surface Scan | surface", 0), 0u);
    EXPECT_NE(CliView::statusLine(p).find("waiting on the unit"), std::string::npos);

    // A narrow terminal keeps the bars and totals and drops the range.
    p.stalled = false;
    p.range = "Scanning from 1.049 GB to 1.075 GB";
    EXPECT_EQ(CliView::compactStatusLine(p, 80),
              "Surface Scan: surface [#####.....] 50% seek [..........]  0% errors 2 irreg. 1");
    EXPECT_NE(CliView::compactStatusLine(p, 200).find(" | Scanning from"), std::string::npos);
    p.stalled = true;
    EXPECT_EQ(CliView::compactStatusLine(p, 40), "(waiting on the unit) Surface Scan: sur");

    EXPECT_EQ(CliView::bar(-1, 4), "[....]");
    EXPECT_EQ(CliView::bar(2, 4), "[####]");
    EXPECT_EQ(CliView::bar(std::nan(""), 4), "[....]");
}

TEST_F(CliViewTest, PlainLinesComeAtMostOnceASecond) {
    std::ostringstream out;
    CliView view(out, false);
    GUIController hub(view, Preferences(dir.path() + "/p.conf"), env,
                      std::make_unique<NullSystemServices>());
    view.setController(&hub);

    // Nothing before a scan has begun (results cleared at a selection).
    view.testStatsChanged();
    EXPECT_EQ(out.str(), "");

    scanning(hub, 0.10);
    view.testStatsChanged();
    scanning(hub, 0.20);
    clock.advance(500000);
    view.testStatsChanged();
    EXPECT_EQ(lines(out.str()), 1u);
    clock.advance(600000);
    view.testStatsChanged();
    EXPECT_EQ(lines(out.str()), 2u);
    EXPECT_NE(out.str().find(" 20%"), std::string::npos);
    EXPECT_EQ(out.str().find('\r'), std::string::npos);

    // The end of a test always gets its last line.
    view.testEnded();
    EXPECT_EQ(lines(out.str()), 3u);
    view.setController(nullptr);
}

TEST_F(CliViewTest, TerminalLineRewritesItselfFitsAndStepsAsideForMessages) {
    std::ostringstream out;
    CliView view(out, true, std::nullopt, 60);
    GUIController hub(view, Preferences(dir.path() + "/p.conf"), env,
                      std::make_unique<NullSystemServices>());
    view.setController(&hub);
    scanning(hub, 0.5);

    view.testStatsChanged();
    std::string first = out.str();
    ASSERT_EQ(first.rfind("\r\033[K", 0), 0u);
    EXPECT_EQ(first.size(), 4u + 59u); // cut so that it never wraps
    EXPECT_EQ(lines(first), 0u);

    view.suspend();
    EXPECT_EQ(out.str().substr(first.size()), "\r\033[K");
    clock.advance(5000000);
    view.testStatsChanged();
    EXPECT_EQ(out.str().size(), first.size() + 4); // nothing drawn meanwhile
    view.resume();
    EXPECT_GT(out.str().size(), first.size() + 4);

    view.testEnded();
    EXPECT_EQ(out.str().back(), '\n');
    view.setController(nullptr);
}

TEST_F(CliViewTest, LogFileIsTheGivenOneOrTheProposedOne) {
    std::ostringstream out;
    CliView proposed(out, false);
    EXPECT_EQ(proposed.askLogFileName("/home/u/Documents", "Log1.txt"),
              "/home/u/Documents/Log1.txt");

    CliView given(out, false, std::string("/tmp/x/../run.log"));
    EXPECT_EQ(given.askLogFileName("/home/u/Documents", "Log1.txt"), "/tmp/run.log");
    EXPECT_NE(out.str().find("Log file: /tmp/run.log"), std::string::npos);
}

TEST_F(CliViewTest, UnitArgumentsThatCannotBeTestedAreBadInput) {
    auto noList = [] { return std::vector<Media>{}; };
    ASSERT_TRUE(SafeFile::makeDirectories(dir.path() + "/folder"));
    ASSERT_TRUE(SafeFile::replace(dir.path() + "/empty.img", ""));
    ASSERT_TRUE(SafeFile::replace(dir.path() + "/unit.img", std::string(4096, '\0')));

    for (const std::string& unit : {dir.path() + "/missing.img", dir.path() + "/folder",
                                    dir.path() + "/empty.img", std::string("sdq")}) {
        SCOPED_TRACE(unit);
        TestRun::Unit u = TestRun::resolveUnit(unit, noList);
        EXPECT_FALSE(u.media.has_value());
        EXPECT_EQ(u.status, TestRun::kExitBadInput);
        EXPECT_FALSE(u.error.empty());
    }

    TestRun::Unit image = TestRun::resolveUnit(dir.path() + "/unit.img", noList);
    ASSERT_TRUE(image.media.has_value());
    EXPECT_TRUE(image.media->isPrimaryDisk());
    EXPECT_EQ(image.media->primaryDiskID(), dir.path() + "/unit.img");
    EXPECT_EQ(image.media->primaryDiskSize(), "4.1 KB");
    EXPECT_EQ(image.media->SMARTStatus(), "Not Supported");

    Media listed = TestRun::mediaForPath("sdq", 1000000, false);
    listed.setPrimaryDiskID(std::string("sdq"));
    TestRun::Unit byName = TestRun::resolveUnit("sdq", [&] { return std::vector<Media>{listed}; });
    ASSERT_TRUE(byName.media.has_value());
    EXPECT_EQ(byName.media->primaryDiskID(), "sdq");
}

TEST_F(CliViewTest, ExitStatusAndSummaryFollowHowTheTestWent) {
    TestResults s;
    EXPECT_EQ(CursoryCommand::exitStatusFor(s), TestRun::kExitNotRun);
    s.started = true;
    EXPECT_EQ(CursoryCommand::exitStatusFor(s), TestRun::kExitNotRun);
    s.ended = true;
    s.totalIrregularities = 4;
    EXPECT_EQ(CursoryCommand::exitStatusFor(s), TestRun::kExitPassed);
    s.sizingResult = -8; // the end of the unit could not be read
    EXPECT_EQ(CursoryCommand::exitStatusFor(s), TestRun::kExitErrorsFound);
    s.sizingResult = 0;
    s.totalErrors = 1;
    s.failedSections.push_back({3, 3145728000, 4194303999, 1, 0});
    s.surfaceLinearRPI = 0.25;
    s.startMicros = 1000000;
    s.surfaceStartMicros = 1000000;
    s.seekStartMicros = 3000000;
    s.endMicros = 4500000;
    EXPECT_EQ(CursoryCommand::exitStatusFor(s), TestRun::kExitErrorsFound);

    CliOptions options;
    options.command = "cursory";
    options.unit = "unit.img";
    options.limit = std::make_pair(2, 5);
    nlohmann::json j =
        CursoryCommand::summaryJson(options, s, "/tmp/unit.img", "/tmp/Log.txt", "", true, 10);
    EXPECT_EQ(j["result"], "failed");
    EXPECT_EQ(j["exitStatus"], 1);
    EXPECT_EQ(j["options"]["limit"]["endGB"], 5);
    EXPECT_EQ(j["counts"]["totalErrors"], 1);
    EXPECT_EQ(j["failedSections"][0]["index"], 3);
    EXPECT_EQ(j["rpis"]["surfaceLinear"], 0.25);
    EXPECT_TRUE(j["rpis"]["seekLinear"].is_null());
    EXPECT_DOUBLE_EQ(j["timings"]["seconds"].get<double>(), 3.5);
    EXPECT_DOUBLE_EQ(j["timings"]["surfaceSeconds"].get<double>(), 2.0);
    EXPECT_DOUBLE_EQ(j["timings"]["seekSeconds"].get<double>(), 1.5);

    s.stopped = true;
    EXPECT_EQ(CursoryCommand::summaryJson(options, s, "", "", "", false, 10)["result"], "stopped");
    EXPECT_EQ(CursoryCommand::summaryJson(options, {}, "", "", "cancelled", false, 10)["result"],
              "refused");
}

} // namespace tolvarin
