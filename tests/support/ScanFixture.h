#pragma once

#include "engine/DiskContext.h"
#include "engine/ScanController.h"
#include "tests/support/FakeClock.h"
#include "tests/support/FakeScanHost.h"
#include "tests/support/ScriptedAnswerer.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace tolvarin {

// The ground of the scan engine's tests: a scan controller on a fake host,
// the fake clock, a scripted answerer for the numbered messages and a log in
// a fresh directory. The message centre and the logger start and end clean.
class ScanFixture : public ::testing::Test {
  protected:
    ScanFixture();
    ~ScanFixture() override;

    // The test's log as written so far.
    std::string log() const;
    // The device context the test prepared.
    DiskContext& disk() { return *controller.disk(); }
    // The lines of text that contain needle.
    static std::vector<std::string> linesWith(const std::string& text, const std::string& needle);

    TempDir dir;
    FakeClock clock;
    FakeScanHost host{clock};
    ScanController controller{host};
    std::shared_ptr<ScriptedAnswerer> answers = std::make_shared<ScriptedAnswerer>();
    std::string logPath;
};

} // namespace tolvarin
