#include "app/SystemInfo.h"
#include "app/StartupChecks.h"
#include "platform/LaunchingUser.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <set>

namespace tolvarin {

TEST(SystemInfoTest, ReadsTheProcessorTheReleaseAndTheKernel) {
    SystemInfo::Sources sources;
    sources.cpuinfo = "processor\t: 0\nvendor_id\t: GenuineIntel\n"
                      "model name\t: Intel(R) Core(TM) i5-8250U CPU @ 1.60GHz\n\n"
                      "processor\t: 1\nmodel name\t: Intel(R) Core(TM) i5-8250U CPU @ 1.60GHz\n";
    sources.osRelease = "# comment\nNAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\n"
                        "PRETTY_NAME='Debian GNU/Linux 12 (bookworm)'\nID=debian\n";
    sources.kernel = "Linux 6.1.0-18-amd64 x86_64\n";
    SystemInfo info(sources);
    EXPECT_EQ(info.cpuType(), "Intel(R) Core(TM) i5-8250U CPU @ 1.60GHz");
    EXPECT_EQ(info.osVersion(), "12");
    EXPECT_EQ(info.osName(), "Debian GNU/Linux 12 (bookworm)");
    EXPECT_EQ(info.kernel(), "Linux 6.1.0-18-amd64 x86_64");
    // The release table knows only the releases of the first design.
    EXPECT_EQ(info.OSString(), "UNKNOWN");
    EXPECT_EQ(info.userName(), LaunchingUser::current().userName);
    EXPECT_FALSE(info.fullUserName().empty());
    ASSERT_EQ(info.rows().size(), 7u);
    EXPECT_EQ(info.rows()[3], std::make_pair(std::string("Processor:"), info.cpuType()));

    // Nothing known reads as unknown, not as empty fields.
    SystemInfo empty(SystemInfo::Sources{});
    EXPECT_EQ(empty.cpuType(), "");
    EXPECT_EQ(empty.rows()[4].second, "Unknown");
}

TEST(SystemInfoTest, ProcessorsOfOtherArchitecturesAndTheSmallParsers) {
    EXPECT_EQ(SystemInfo::cpuTypeFromCpuinfo("processor : 0\nBogoMIPS : 48.00\n"
                                             "Hardware : BCM2835\nModel : Raspberry Pi 4\n"),
              "BCM2835");
    EXPECT_EQ(SystemInfo::cpuTypeFromCpuinfo("cpu model\t\t: ICT Loongson-3\n"), "ICT Loongson-3");
    // A "model name" anywhere wins over the others.
    EXPECT_EQ(SystemInfo::cpuTypeFromCpuinfo("Processor : ARMv7\nmodel name : ARMv7 rev 4\n"),
              "ARMv7 rev 4");
    EXPECT_EQ(SystemInfo::cpuTypeFromCpuinfo("model name :\n"), "");

    auto release = SystemInfo::parseOsRelease(
        "A=\"with \\\"quotes\\\" and \\$\"\nB=plain\nC='single $x'\n=novalue\nbroken\n");
    EXPECT_EQ(release["A"], "with \"quotes\" and $");
    EXPECT_EQ(release["B"], "plain");
    EXPECT_EQ(release["C"], "single $x");
    EXPECT_EQ(release.size(), 3u);

    EXPECT_EQ(SystemInfo::releaseNameFor("10.5"), "Leopard");
    EXPECT_EQ(SystemInfo::releaseNameFor("10.1"), "UNSUPPORTED");
    EXPECT_EQ(SystemInfo::releaseNameFor("10.8"), "UNKNOWN");
    EXPECT_EQ(SystemInfo::releaseNameFor(""), "UNKNOWN");
    EXPECT_EQ(SystemInfo::fullNameFromGecos("Ada Lovelace,,,"), "Ada Lovelace");
    EXPECT_EQ(SystemInfo::fullNameFromGecos(""), "");
}

TEST(StartupChecksTest, TheDiskToolAndWhatItRunsAreLookedFor) {
    TempDir resources;
    ScopedEnv resourcesEnv("TOLVARIN_RESOURCES", resources.path());
    ScopedEnv noTool("TOLVARIN_DISKTOOL", "");
    const std::string adapter = resources.path() + "/tolvarin-disktool";
    std::set<std::string> present = {adapter, "/usr/bin/lsblk", "/usr/sbin/smartctl"};
    auto executable = [&](const std::string& path) { return present.count(path) > 0; };

    EXPECT_TRUE(StartupChecks::missingSystemTools(executable).empty());
    EXPECT_EQ(StartupChecks::findSystemTool("smartctl", executable), "/usr/sbin/smartctl");
    present.erase("/usr/sbin/smartctl");
    present.erase(adapter);
    EXPECT_EQ(StartupChecks::missingSystemTools(executable),
              (std::vector<std::string>{adapter, "smartctl"}));

    // A replaced disk tool brings its own listing: only it must be there.
    ScopedEnv replaced("TOLVARIN_DISKTOOL", "/opt/recorded-tool");
    EXPECT_EQ(StartupChecks::missingSystemTools(executable),
              (std::vector<std::string>{"/opt/recorded-tool"}));
    present.insert("/opt/recorded-tool");
    EXPECT_TRUE(StartupChecks::missingSystemTools(executable).empty());

    Alert alert = StartupChecks::missingToolsAlert({"lsblk"});
    EXPECT_EQ(alert.title, "Missing Files...Tolvarin Can't Run!");
    EXPECT_NE(alert.text.find("\n    lsblk"), std::string::npos);
    EXPECT_EQ(alert.text.find("OS X"), std::string::npos);
    EXPECT_EQ(alert.buttonFor(1), "OK");
    EXPECT_FALSE(alert.offers(0));
}

TEST(StartupChecksTest, ModulesAreLoadedFromTheResourcesFolder) {
    {
        ScopedEnv built("TOLVARIN_RESOURCES", std::string(TOLVARIN_BUILD_DIR) + "/Resources");
        EXPECT_TRUE(StartupChecks::missingModules().empty());
    }
    TempDir empty;
    ScopedEnv missing("TOLVARIN_RESOURCES", empty.path());
    std::vector<std::string> modules = StartupChecks::missingModules();
    ASSERT_EQ(modules.size(), 2u);
    EXPECT_EQ(modules[0].rfind("Unitprobe (", 0), 0u);
    EXPECT_EQ(modules[1].rfind("Quarrykit (", 0), 0u);
    EXPECT_NE(StartupChecks::missingModulesAlert(modules).text.find("Quarrykit"),
              std::string::npos);
}

} // namespace tolvarin
