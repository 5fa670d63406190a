#include "tests/support/IncludeChecker.h"

#include <gtest/gtest.h>

namespace tolvarin {

TEST(LayerOrder, NoIncludePointsUpOrSideways) {
    std::vector<std::string> found = IncludeChecker::scanTree(TOLVARIN_SOURCE_DIR);
    std::string all;
    for (const std::string& f : found) {
        all += f + "\n";
    }
    EXPECT_TRUE(found.empty()) << all;
}

TEST(LayerOrder, TheCheckerCatchesWhatTheOrderForbids) {
    auto bad = [](const char* file, const char* line) {
        return IncludeChecker::violation(file, line).has_value();
    };
    // Down and within a folder, and anything outside the layers, are allowed.
    EXPECT_FALSE(bad("engine/SurfaceScan.cpp", "#include \"store/DataFileSet.h\""));
    EXPECT_FALSE(bad("engine/SurfaceScan.cpp", "#include \"engine/ScanHost.h\""));
    EXPECT_FALSE(bad("app/GUIController.cpp", "#include \"diagnostics/BadBlockRepair.h\""));
    EXPECT_FALSE(bad("tests/unit/X.cpp", "#include \"cli/CliView.h\""));
    EXPECT_FALSE(bad("platform/Blk.cpp", "#include <blkid/blkid.h>"));
    EXPECT_FALSE(bad("qt/MainWindow.cpp", "#include <QWidget>"));
    EXPECT_FALSE(bad("store/X.cpp", "// #include \"app/GUIController.h\" is not an include"));
    // Up, sideways, Qt in the core and kernel headers outside platform/.
    EXPECT_TRUE(bad("store/DataFileSet.cpp", "#include \"engine/ScanController.h\""));
    EXPECT_TRUE(bad("base/Clock.cpp", "  #  include \"platform/System.h\""));
    EXPECT_TRUE(bad("logging/Logger.cpp", "#include \"unitprobe/Unitprobe.h\""));
    EXPECT_TRUE(bad("report/TestReport.cpp", "#include \"diagnostics/History.h\""));
    EXPECT_TRUE(bad("cli/CliApp.cpp", "#include \"qt/MainWindow.h\""));
    EXPECT_TRUE(bad("engine/X.cpp", "#include \"tests/support/FakeClock.h\""));
    EXPECT_TRUE(bad("app/GUIController.cpp", "#include <QObject>"));
    EXPECT_TRUE(bad("engine/Queue.cpp", "#include <liburing.h>"));
    EXPECT_TRUE(bad("store/X.cpp", "#include <linux/fs.h>"));
}

} // namespace tolvarin
