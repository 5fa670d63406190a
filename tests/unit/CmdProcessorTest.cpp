#include "unitprobe/CmdProcessor.h"
#include "unitprobe/StringProcessor.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>

namespace {

std::string runShell(CmdProcessor& runner, const std::string& script) {
    runner.setCommand("/bin/sh");
    runner.setArgs({"-c", script});
    runner.processCommand(runner.command(), runner.args());
    return runner.returnData();
}

} // namespace

TEST(CmdProcessor, FreshRunnerHoldsAZeroedBufferThatTheFirstRunReplaces) {
    CmdProcessor runner;
    ASSERT_EQ(runner.returnData().size(), 131072u);
    EXPECT_TRUE(std::all_of(runner.returnData().begin(), runner.returnData().end(),
                            [](char c) { return c == '\0'; }));
    EXPECT_EQ(runShell(runner, "true"), "");
}

TEST(CmdProcessor, BothStreamsArriveInOneBufferInOrder) {
    CmdProcessor runner;
    EXPECT_EQ(runShell(runner, "echo out; echo err >&2; echo more; exit 4"), "out\nerr\nmore\n");
    EXPECT_TRUE(runner.started());
    // The exit status is kept but does not hide what the command printed.
    EXPECT_EQ(runner.exitStatus(), 4);
}

TEST(CmdProcessor, RunsTheStoredCommandNotTheParameters) {
    CmdProcessor runner;
    runner.setCommand("/bin/echo");
    runner.setArgs({"stored"});
    runner.processCommand("/bin/false", {"ignored"});
    EXPECT_EQ(runner.returnData(), "stored\n");
}

TEST(CmdProcessor, OutputLargerThanTheInitialBufferIsKeptWhole) {
    CmdProcessor runner;
    EXPECT_EQ(runShell(runner, "head -c 400000 /dev/zero | tr '\\0' x").size(), 400000u);
}

TEST(CmdProcessor, AProgramThatCannotStartLeavesAnEmptyBufferAndAReason) {
    CmdProcessor runner;
    runner.setCommand("/nonexistent/disktool");
    runner.setArgs({"list"});
    runner.processCommand(runner.command(), runner.args());
    EXPECT_TRUE(runner.returnData().empty());
    EXPECT_FALSE(runner.started());
    EXPECT_NE(runner.error().find("/nonexistent/disktool"), std::string::npos);
}

TEST(StringProcessor, TrimTakesBlanksAndTabsButLeavesLineEnds) {
    StringProcessor str;
    EXPECT_EQ(str.trim(" \t 232.9 GB \t"), "232.9 GB");
    EXPECT_EQ(str.trim("  value \n\t"), "value \n");
    EXPECT_EQ(str.trim(" \t "), "");
}

TEST(StringProcessor, ReplaceChangesOnlyTheFirstOccurrence) {
    StringProcessor str;
    EXPECT_EQ(str.replaceSubstringIn("232.9 Gi", "Gi", "GB"), "232.9 GB");
    EXPECT_EQ(str.replaceSubstringIn("1 Gi and 2 Gi", "Gi", "GB"), "1 GB and 2 Gi");
    EXPECT_EQ(str.replaceSubstringIn("74.5 GB", "Gi", "GB"), "74.5 GB");
    EXPECT_EQ(str.replaceSubstringIn("abc", "", "x"), "abc");
}

TEST(StringProcessor, CStringConversionKeepsEveryUtf8Byte) {
    StringProcessor str;
    const std::string text = "Données ü";
    auto c = str.nsStringToC(text);
    ASSERT_EQ(std::strlen(c.get()), text.size());
    EXPECT_EQ(std::memcmp(c.get(), text.data(), text.size()), 0);
    EXPECT_EQ(str.cToNSString(c.get()), text);
    EXPECT_EQ(str.cToNSString(nullptr), "");
}
