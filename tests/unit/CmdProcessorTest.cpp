#include "unitprobe/CmdProcessor.h"
#include "platform/ModuleLoader.h"
#include "unitprobe/StringProcessor.h"

#include <cstring>
#include <gtest/gtest.h>
#include <memory>

namespace tolvarin {

TEST(CmdProcessor, RunsTheStoredCommandAndKeepsBothStreamsInOrder) {
    CmdProcessor runner;
    ASSERT_EQ(runner.returnData(), std::string(131072, '\0'));
    runner.setCommand("/bin/sh");
    runner.setArgs({"-c", "echo out; echo err >&2; echo more; exit 4"});
    // The parameters are not used: the stored command runs.
    runner.processCommand("/bin/false", {});
    EXPECT_EQ(runner.returnData(), "out\nerr\nmore\n");
    EXPECT_EQ(runner.exitStatus(), 4);
}

TEST(CmdProcessor, AProgramThatCannotStartLeavesAnEmptyBufferAndAReason) {
    CmdProcessor runner;
    runner.setCommand("/nonexistent/disktool");
    runner.processCommand(runner.command(), runner.args());
    EXPECT_TRUE(runner.returnData().empty());
    EXPECT_FALSE(runner.started());
    EXPECT_NE(runner.error().find("/nonexistent/disktool"), std::string::npos);
}

TEST(CmdProcessor, ShellgateModuleMakesAWorkingRunner) {
    std::string error;
    void* factory = ModuleLoader::findFactory(
        std::string(TOLVARIN_BUILD_DIR) + "/Resources/Shellgate.so", "Shellgate", &error);
    ASSERT_NE(factory, nullptr) << error;
    std::unique_ptr<CmdProcessor> runner(reinterpret_cast<CmdProcessor* (*)()>(factory)());
    runner->setCommand("/bin/echo");
    runner->setArgs({"from the module"});
    runner->processCommand(runner->command(), runner->args());
    EXPECT_EQ(runner->returnData(), "from the module\n");
}

TEST(StringProcessor, TrimReplaceAndCStrings) {
    StringProcessor str;
    EXPECT_EQ(str.trim(" \t 232.9 GB \t"), "232.9 GB");
    EXPECT_EQ(str.trim("  value \n\t"), "value \n");
    EXPECT_EQ(str.replaceSubstringIn("1 Gi and 2 Gi", "Gi", "GB"), "1 GB and 2 Gi");
    EXPECT_EQ(str.replaceSubstringIn("74.5 GB", "Gi", "GB"), "74.5 GB");
    EXPECT_EQ(str.replaceSubstringIn("abc", "", "x"), "abc");
    const std::string text = "Données ü";
    auto c = str.nsStringToC(text);
    EXPECT_EQ(std::strlen(c.get()), text.size());
    EXPECT_EQ(str.cToNSString(c.get()), text);
    EXPECT_EQ(str.cToNSString(nullptr), "");
}

} // namespace tolvarin
