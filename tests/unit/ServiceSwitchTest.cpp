#include "app/ServiceGuard.h"
#include "platform/Env.h"
#include "platform/MDSInterface.h"
#include "platform/PMInterface.h"
#include "platform/SafeFile.h"
#include "platform/SystemServices.h"
#include "platform/TimeMachineInterface.h"
#include "tests/support/FakeClock.h"
#include "tests/support/RecordingServices.h"
#include "tests/support/RecordingView.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace tolvarin {

using Args = std::vector<std::string>;

namespace {

// A stand-in for hdparm that records its arguments and exits with status.
std::string writeFakeHdparm(const TempDir& dir, int status) {
    std::string script = dir.path() + "/hdparm";
    std::string record = dir.path() + "/calls";
    EXPECT_TRUE(SafeFile::replace(script, "#!/bin/sh\necho \"$@\" >> '" + record +
                                              "'\necho 'HDIO_DRIVE_CMD(setidle) failed'\nexit " +
                                              std::to_string(status) + "\n"));
    ::chmod(script.c_str(), 0755);
    return script;
}

std::string calls(const TempDir& dir) {
    return SafeFile::read(dir.path() + "/calls").value_or("");
}

} // namespace

TEST(ServiceSwitch, SpotlightCommandLinesAreKeptAsDesigned) {
    MDSInterface mds;
    const std::string plist = "/System/Library/LaunchDaemons/com.apple.metadata.mds.plist";
    EXPECT_EQ(mds.startMDS(), (Args{"load", "-w", plist}));
    EXPECT_EQ(mds.stopMDS(), (Args{"unload", "-w", plist}));
    EXPECT_TRUE(mds.retValue());
    EXPECT_EQ(mds.commandLineFor("ON"), (Args{"/bin/launchctl", "load", "-w", plist}));
    EXPECT_EQ(mds.commandLineFor("OFF"), (Args{"/bin/launchctl", "unload", "-w", plist}));
    EXPECT_TRUE(mds.commandLineFor("Off").empty());
}

TEST(ServiceSwitch, TimeMachineUsesTmutilFromLionOnAndDefaultsBefore) {
    testing::internal::CaptureStdout();
    TimeMachineInterface lion("11.4.2");
    TimeMachineInterface mavericks("13.0.0");
    TimeMachineInterface leopard("9.8.0");
    TimeMachineInterface linuxKernel("6.1.0-18-amd64");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "This OS release is: Lion\n"
                                                      "This OS release is: Mavericks\n"
                                                      "This OS release is: Leopard\n"
                                                      "This OS release is: UNKNOWN\n");

    EXPECT_TRUE(lion.osIsNew());
    EXPECT_EQ(lion.osVersion(), "Lion");
    EXPECT_EQ(lion.commandLineFor("ON"), (Args{"/usr/bin/tmutil", "enable"}));
    EXPECT_EQ(lion.commandLineFor("OFF"), (Args{"/usr/bin/tmutil", "disable"}));
    EXPECT_TRUE(mavericks.osIsNew());

    const Args write = {"/usr/bin/defaults", "write", "/Library/Preferences/com.apple.TimeMachine",
                        "AutoBackup", "-boolean"};
    for (const TimeMachineInterface* old : {&leopard, &linuxKernel}) {
        EXPECT_FALSE(old->osIsNew());
        EXPECT_EQ(old->command(), "/usr/bin/defaults");
        Args on = write, off = write;
        on.push_back("YES");
        off.push_back("NO");
        EXPECT_EQ(old->commandLineFor("ON"), on);
        EXPECT_EQ(old->commandLineFor("OFF"), off);
        EXPECT_TRUE(old->tmStatus().empty());
        EXPECT_TRUE(old->statusCommand().empty());
        EXPECT_TRUE(old->retValue());
    }
    EXPECT_EQ(linuxKernel.osVersion(), "UNKNOWN");
}

TEST(ServiceSwitch, DriveSleepKeepsPmsetLinesAndMapsToHdparm) {
    PMInterface pm("/dev/sdz");
    EXPECT_EQ(pm.command(), "/usr/bin/pmset");
    EXPECT_EQ(pm.startPM(), (Args{"disksleep", "10"}));
    EXPECT_EQ(pm.stopPM(), (Args{"disksleep", "0"}));
    EXPECT_TRUE(pm.pmStatus().empty());
    EXPECT_TRUE(pm.retValue());
    // Ten minutes is 120 steps of five seconds.
    EXPECT_EQ(pm.hdparmArgumentsFor("ON"), (Args{"-S", "120", "/dev/sdz"}));
    EXPECT_EQ(pm.hdparmArgumentsFor("OFF"), (Args{"-S", "0", "/dev/sdz"}));
    EXPECT_TRUE(pm.hdparmArgumentsFor("").empty());
}

TEST(ServiceSwitch, DriveSleepRunsHdparmOnTheDevice) {
    TempDir dir;
    ScopedEnv console("TOLVARIN_CONSOLE", "1");
    PMInterface pm("/dev/sdz");
    pm.setHdparmPath(writeFakeHdparm(dir, 0));
    testing::internal::CaptureStderr();
    EXPECT_TRUE(pm.PMControl("OFF"));
    EXPECT_TRUE(pm.PMControl("ON"));
    EXPECT_NE(testing::internal::GetCapturedStderr().find(
                  "TOLVARIN - Launching Power Management Control"),
              std::string::npos);
    EXPECT_EQ(calls(dir), "-S 0 /dev/sdz\n-S 120 /dev/sdz\n");
}

TEST(ServiceSwitch, DriveSleepFailuresAreReportedNotHidden) {
    TempDir dir;
    ScopedEnv console("TOLVARIN_CONSOLE", "1");
    testing::internal::CaptureStderr();

    // The drive refuses (NVMe, a USB bridge, an image file).
    PMInterface refused("/dev/nvme0n1");
    refused.setHdparmPath(writeFakeHdparm(dir, 2));
    EXPECT_FALSE(refused.PMControl("OFF"));

    // No tool at all.
    PMInterface missing("/dev/sdz");
    missing.setHdparmPath(dir.path() + "/no-such-hdparm");
    EXPECT_FALSE(missing.PMControl("OFF"));

    // Nothing runs without an absolute device path or with a wrong word.
    PMInterface noDevice("");
    noDevice.setHdparmPath(dir.path() + "/hdparm");
    EXPECT_FALSE(noDevice.PMControl("OFF"));
    PMInterface relative("-S0");
    relative.setHdparmPath(dir.path() + "/hdparm");
    EXPECT_FALSE(relative.PMControl("ON"));
    EXPECT_FALSE(refused.PMControl("off"));

    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("drive sleep not turned OFF: " + dir.path() +
                       "/hdparm exited with status 2: HDIO_DRIVE_CMD(setidle) failed"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("no-such-hdparm"), std::string::npos) << log;
    EXPECT_NE(log.find("no device path given"), std::string::npos) << log;
    EXPECT_EQ(calls(dir), "-S 0 /dev/nvme0n1\n");
}

} // namespace tolvarin

namespace tolvarin {

namespace {

// A made-up machine: a /proc with the given process names and a folder of
// tools that note their arguments.
struct FakeMachine {
    TempDir root;
    LinuxSystemServices::Layout layout;
    explicit FakeMachine(const std::vector<std::string>& processes) {
        layout.procDir = root.path() + "/proc";
        layout.sysBlockDir = root.path() + "/sys/block";
        layout.logindDir = root.path() + "/run/systemd/seats";
        layout.runUserDir = root.path() + "/run/user";
        layout.toolDirs = root.path() + "/bin";
        int pid = 100;
        for (const std::string& name : processes) {
            std::string dir = layout.procDir + "/" + std::to_string(pid++);
            EXPECT_TRUE(SafeFile::makeDirectories(dir));
            EXPECT_TRUE(SafeFile::replace(dir + "/comm", name + "\n"));
        }
        EXPECT_TRUE(SafeFile::makeDirectories(layout.procDir + "/self"));
        EXPECT_TRUE(SafeFile::makeDirectories(layout.toolDirs));
    }
    void tool(const std::string& name, const std::string& output) {
        std::string path = layout.toolDirs + "/" + name;
        EXPECT_TRUE(SafeFile::replace(path, "#!/bin/sh\necho \"" + name + " $*\" >> '" +
                                                root.path() + "/calls'\necho '" + output + "'\n"));
        ::chmod(path.c_str(), 0755);
    }
    std::string calls() const { return SafeFile::read(root.path() + "/calls").value_or(""); }
};

} // namespace

TEST(LinuxServices, IndexingIsTheDesktopIndexerThatRunsAndNothingElse) {
    using Service = SystemServices::Service;
    // No indexer, no logind, no hdparm: nothing is present.
    FakeMachine bare({"systemd", "bash"});
    LinuxSystemServices none(Env::standard(), bare.layout);
    EXPECT_FALSE(none.present(Service::indexing, ""));
    EXPECT_FALSE(none.present(Service::backups, ""));
    EXPECT_FALSE(none.present(Service::driveSleep, "/dev/sda"));

    // KDE's indexer: suspended and resumed with its own tool.
    FakeMachine kde({"plasmashell", "baloo_file"});
    kde.tool("balooctl", "");
    LinuxSystemServices baloo(Env::standard(), kde.layout);
    EXPECT_EQ(baloo.runningIndexer(), "baloo");
    EXPECT_TRUE(baloo.present(Service::indexing, ""));
    // Run as the launching user (here: whoever runs the test, no sudo).
    ScopedEnv noSudo("SUDO_UID", "");
    ScopedEnv noPkexec("PKEXEC_UID", "");
    EXPECT_TRUE(baloo.turnOff(Service::indexing, ""));
    EXPECT_TRUE(baloo.turnOn(Service::indexing, ""));
    EXPECT_EQ(kde.calls(), "balooctl suspend\nbalooctl resume\n");

    // GNOME's miner: paused with a cookie, resumed with that cookie; a
    // resume without a pause runs nothing.
    FakeMachine gnome({"gnome-shell", "localsearch-3"});
    gnome.tool("localsearch", "Cookie is 4711");
    LinuxSystemServices tracker(Env::standard(), gnome.layout);
    EXPECT_EQ(tracker.runningIndexer(), "tracker");
    EXPECT_TRUE(tracker.turnOn(Service::indexing, ""));
    EXPECT_EQ(gnome.calls(), "");
    EXPECT_TRUE(tracker.turnOff(Service::indexing, ""));
    EXPECT_TRUE(tracker.turnOn(Service::indexing, ""));
    std::string calls = gnome.calls();
    EXPECT_NE(calls.find("--pause"), std::string::npos) << calls;
    EXPECT_NE(calls.find("--resume 4711"), std::string::npos) << calls;
}

TEST(ServiceGuard, AServiceTheSystemLacksCostsNoNoticeAndNoPauseAndIsSaidOnce) {
    FakeClock clock;
    RecordingView view;
    RecordingServices services;
    services.setMissing(SystemServices::Service::backups);
    services.setMissing(SystemServices::Service::driveSleep);
    ServiceGuard guard(view, clock, services);
    guard.setUnloadMDS(true);
    guard.setDisableTM(true);
    guard.setDisableDriveSleep(true);

    ScopedEnv console("TOLVARIN_CONSOLE", "1");
    testing::internal::CaptureStderr();
    for (int test = 0; test < 2; ++test) {
        guard.disableSystemItems("/dev/sdz");
        EXPECT_FALSE(guard.systemItemsLoaded());
        guard.disableSystemItems("/dev/sdz"); // already off: nothing more
        guard.enableSystemItems();
        EXPECT_TRUE(guard.systemItemsLoaded());
    }
    std::string said = testing::internal::GetCapturedStderr();

    // Only the indexer was switched, and only it cost a notice and a pause.
    EXPECT_EQ(services.switched(), (std::vector<std::string>{"indexing OFF", "indexing ON",
                                                             "indexing OFF", "indexing ON"}));
    EXPECT_EQ(view.sheets(), (std::vector<std::string>{
                                 "Unloading the MDS Process", "Re-loading the MDS Process",
                                 "Unloading the MDS Process", "Re-loading the MDS Process"}));
    EXPECT_EQ(clock.sleptMicros(), 4 * ServiceGuard::kServiceSettleMicros);
    auto count = [&](const std::string& text) {
        size_t n = 0;
        for (size_t at = said.find(text); at != std::string::npos; at = said.find(text, at + 1)) {
            ++n;
        }
        return n;
    };
    EXPECT_EQ(count("scheduled backups is not present"), 1u) << said;
    EXPECT_EQ(count("drive sleep is not present"), 1u) << said;
}

} // namespace tolvarin
