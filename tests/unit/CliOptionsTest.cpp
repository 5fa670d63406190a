#include "cli/CliOptions.h"

#include <gtest/gtest.h>

namespace tolvarin {

namespace {
std::optional<CliOptions> parse(std::vector<std::string> args, std::string* error = nullptr) {
    std::string e;
    auto o = parseCliOptions(args, &e);
    if (error != nullptr) {
        *error = e;
    }
    return o;
}
} // namespace

TEST(CliOptions, CursoryWithEveryOption) {
    auto o = parse({"cursory", "loop0", "--no-seek", "--limit", "2", "5", "--repair", "--answer",
                    "2=1", "--answer", "15=-1", "--error-limit", "7", "--probe", "--json", "--log",
                    "/tmp/l.txt"});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->unit, "loop0");
    EXPECT_TRUE(o->noSeek);
    EXPECT_FALSE(o->noSurface);
    EXPECT_EQ(o->limit, std::make_pair(2, 5));
    EXPECT_TRUE(o->repair);
    EXPECT_EQ(o->answers.at(2), 1);
    EXPECT_EQ(o->answers.at(15), -1);
    EXPECT_EQ(o->errorLimit, 7);
    EXPECT_EQ(o->probe, true);
    EXPECT_TRUE(o->json);
    EXPECT_EQ(o->logFile, "/tmp/l.txt");
}

TEST(CliOptions, HelpAnswersToItsUsualSpellings) {
    for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
             {"help"}, {"--help"}, {"-h"}, {"cursory", "--help"}, {"normal", "sdb", "--help"}}) {
        auto o = parse(args);
        ASSERT_TRUE(o) << args.back();
        EXPECT_EQ(o->command, "help");
    }
    EXPECT_NE(std::string(cliUsage()).find("tolvarin-cli help\n"), std::string::npos);
}

TEST(CliOptions, BadUsageIsRefusedWithAReason) {
    std::string error;
    EXPECT_FALSE(parse({"cursory"}, &error));
    EXPECT_NE(error.find("UNIT"), std::string::npos);
    EXPECT_FALSE(parse({"frobnicate"}, &error));
    EXPECT_FALSE(parse({"cursory", "sda", "--answer", "2=5"}, &error));
    EXPECT_FALSE(parse({"cursory", "sda", "--answer", "x=1"}, &error));
    // Even the same answer twice: a script that says it twice has a mistake.
    for (const char* second : {"2=0", "2=1"}) {
        EXPECT_FALSE(parse({"cursory", "sda", "--answer", "2=1", "--answer", second}, &error));
        EXPECT_EQ(error, "--answer 2 is given twice");
    }
    EXPECT_FALSE(parse({"cursory", "sda", "--error-limit", "0"}, &error));
    EXPECT_FALSE(parse({"cursory", "sda", "--error-limit", "101"}, &error));
    EXPECT_FALSE(parse({"cursory", "sda", "--limit", "5", "2"}, &error));
    EXPECT_FALSE(parse({"cursory", "sda", "--limit", "5"}, &error));
    EXPECT_FALSE(parse({"normal", "sda", "--repair"}, &error));
    EXPECT_FALSE(parse({"list", "extra"}, &error));
    EXPECT_FALSE(parse({}, &error));
}

TEST(CliOptions, DiagnosticsOptions) {
    auto o = parse({"diagnostics", "sda2", "--no-analysis", "--latest-only", "--interface", "3",
                    "--memory", "0"});
    ASSERT_TRUE(o);
    EXPECT_TRUE(o->noAnalysis);
    EXPECT_TRUE(o->latestOnly);
    EXPECT_EQ(o->interfaceIterations, 3);
    EXPECT_EQ(o->memoryIterations, 0);
}

TEST(CliOptions, HistoryForgetQueueDepthAndMap) {
    auto o = parse({"cursory", "sdb", "--queue-depth", "32", "--map", "m.png"});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->queueDepth, 32);
    EXPECT_EQ(o->mapFile, "m.png");
    o = parse({"normal", "sdb", "--map", "n.png"});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->mapFile, "n.png");
    o = parse({"forget", "sdb", "--yes"});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->unit, "sdb");
    ASSERT_TRUE(parse({"history", "/dev/sdb", "--json"}));

    std::string error;
    EXPECT_FALSE(parse({"history"}, &error));
    EXPECT_FALSE(parse({"forget"}, &error));
    EXPECT_FALSE(parse({"cursory", "sdb", "--queue-depth", "0"}, &error));
    EXPECT_FALSE(parse({"cursory", "sdb", "--queue-depth", "33"}, &error));
    EXPECT_FALSE(parse({"normal", "sdb", "--queue-depth", "4"}, &error));
    EXPECT_FALSE(parse({"diagnostics", "sdb", "--map", "d.png"}, &error));
    EXPECT_FALSE(parse({"cursory", "sdb", "--map"}, &error));
}

} // namespace tolvarin
