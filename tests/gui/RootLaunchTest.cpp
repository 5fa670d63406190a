// Root rights at start-up: when the program restarts through pkexec, what it
// keeps of the environment, and what it says when it cannot.
#include "qt/RootLaunch.h"

#include <QTest>
#include <cstdlib>

namespace tolvarin {

class RootLaunchTest : public QObject {
    Q_OBJECT

  private:
    static std::string found(const std::string& name) { return "/usr/bin/" + name; }
    static std::string missing(const std::string&) { return ""; }
    static bool busThere(const std::string& path) { return path == "/run/dbus/system_bus_socket"; }
    static bool nothingThere(const std::string&) { return false; }

  private slots:
    void theDecisionFollowsRightsDisplayPkexecAndPolkit() {
        using RootLaunch::Decision;
        RootLaunch::Environment desktop{{"DISPLAY", ":0"}, {"HOME", "/home/ada"}};
        QCOMPARE(RootLaunch::plan(desktop, true, found, busThere).decision, Decision::runHere);
        QCOMPARE(RootLaunch::plan(desktop, false, found, busThere).decision, Decision::restart);

        RootLaunch::Environment without = desktop;
        without["TOLVARIN_WITHOUT_ROOT"] = "1";
        QCOMPARE(RootLaunch::plan(without, false, missing, nothingThere).decision,
                 Decision::runHere);

        // As in CI: no desktop, no polkit. Nothing to ask in: a clear word.
        RootLaunch::Plan ci = RootLaunch::plan(
            {{"QT_QPA_PLATFORM", "offscreen"}, {"DISPLAY", ":0"}}, false, found, nothingThere);
        QCOMPARE(ci.decision, Decision::cannotRestart);
        QVERIFY(!ci.display);
        QVERIFY(ci.problem.find("no desktop session") != std::string::npos);

        RootLaunch::Plan noPkexec = RootLaunch::plan(desktop, false, missing, busThere);
        QCOMPARE(noPkexec.decision, Decision::cannotRestart);
        QVERIFY(noPkexec.display);
        QVERIFY(noPkexec.problem.find("pkexec") != std::string::npos);

        RootLaunch::Plan noBus = RootLaunch::plan(desktop, false, found, nothingThere);
        QCOMPARE(noBus.decision, Decision::cannotRestart);
        QVERIFY(noBus.problem.find("polkit") != std::string::npos);
        // A bus named by its address.
        RootLaunch::Environment named = desktop;
        named["DBUS_SYSTEM_BUS_ADDRESS"] = "unix:path=/tmp/bus,guid=1";
        QVERIFY(RootLaunch::systemBusReachable(
            named, [](const std::string& path) { return path == "/tmp/bus"; }));

        QVERIFY(RootLaunch::needsRootText("ada").find("ada") != std::string::npos);
        QVERIFY(RootLaunch::refusedText(126) != RootLaunch::refusedText(127));
    }

    void theRestartKeepsTheDisplayAndTheProgramsSettings() {
        RootLaunch::Environment env{{"DISPLAY", ":1"},
                                    {"WAYLAND_DISPLAY", "wayland-0"},
                                    {"XDG_RUNTIME_DIR", "/run/user/1000"},
                                    {"HOME", "/home/ada"},
                                    {"TOLVARIN_HOME", "/srv/t"},
                                    {"TOLVARIN_WITHOUT_ROOT", "0"},
                                    {"LD_PRELOAD", "/tmp/evil.so"},
                                    {"PATH", "/usr/bin"}};
        std::vector<std::string> command =
            RootLaunch::restartCommand("/usr/bin/pkexec", "/usr/bin/tolvarin", {"USE_USB"}, env);
        QCOMPARE(command.front(), std::string("/usr/bin/pkexec"));
        // pkexec runs the program itself, so the policy of the program applies.
        QCOMPARE(command[1], std::string("/usr/bin/tolvarin"));
        QCOMPARE(command.back(), std::string("USE_USB"));
        auto has = [&](const std::string& pair) {
            for (size_t i = 2; i + 1 < command.size(); ++i) {
                if (command[i] == "--setenv" && command[i + 1] == pair) {
                    return true;
                }
            }
            return false;
        };
        QVERIFY(has("DISPLAY=:1"));
        QVERIFY(has("WAYLAND_DISPLAY=wayland-0"));
        QVERIFY(has("XDG_RUNTIME_DIR=/run/user/1000"));
        QVERIFY(has("TOLVARIN_HOME=/srv/t"));
        QVERIFY(has("XAUTHORITY=/home/ada/.Xauthority"));
        // On Wayland root draws through XWayland.
        QVERIFY(has("QT_QPA_PLATFORM=xcb"));
        QVERIFY(!has("LD_PRELOAD=/tmp/evil.so"));
        QVERIFY(!has("PATH=/usr/bin"));
        QVERIFY(!has("TOLVARIN_WITHOUT_ROOT=0"));
        QVERIFY(RootLaunch::isWaylandSession(env));

        // The restarted program takes the kept ones and drops the rest.
        ::unsetenv("TOLVARIN_ROOT_TEST");
        std::vector<std::string> rest =
            RootLaunch::applySetenvArguments({"--setenv", "TOLVARIN_ROOT_TEST=yes", "--setenv",
                                              "LD_PRELOAD=/tmp/evil.so", "USE_USB", "--setenv"});
        QCOMPARE(rest, (std::vector<std::string>{"USE_USB", "--setenv"}));
        QCOMPARE(QString(std::getenv("TOLVARIN_ROOT_TEST")), QString("yes"));
        QVERIFY(std::getenv("LD_PRELOAD") == nullptr ||
                std::string(std::getenv("LD_PRELOAD")) != "/tmp/evil.so");
        ::unsetenv("TOLVARIN_ROOT_TEST");
    }
};

} // namespace tolvarin

QTEST_APPLESS_MAIN(tolvarin::RootLaunchTest)
#include "RootLaunchTest.moc"
