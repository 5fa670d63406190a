#pragma once

#include "tests/support/TempDir.h"

#include <memory>
#include <string>
#include <vector>

namespace tolvarin {

// A stand-in for the disk tool: a shell script in a temporary folder that
// plays recorded output and notes every command line it was given. While the
// object lives, TOLVARIN_DISKTOOL points at it.
//
// Recorded output lives in a folder: "list" prints list.txt, "listRAID"
// prints listRAID.txt and "info DEVICE" prints info-NAME.txt, where NAME is
// DEVICE without any leading path (/dev/sda and sda read the same file). A
// missing file prints nothing.
class FakeDiskTool {
  public:
    // Plays the recordings in folder.
    explicit FakeDiskTool(const std::string& folder);
    // Runs scriptBody (shell text) instead, for tools that misbehave.
    static std::unique_ptr<FakeDiskTool> withScript(const std::string& scriptBody);

    // The command lines the tool was run with, in order ("list", "info /dev/sda").
    std::vector<std::string> calls() const;
    const std::string& path() const { return script_; }

  private:
    struct Script {};
    FakeDiskTool(Script, const std::string& body);
    void install(const std::string& body);

    TempDir dir_;
    std::string script_;
    std::unique_ptr<ScopedEnv> env_;
};

#ifdef TOLVARIN_TEST_DATA
// The folder of a recorded scenario under tests/data/unitprobe.
inline std::string unitprobeData(const std::string& scenario) {
    return std::string(TOLVARIN_TEST_DATA) + "/unitprobe/" + scenario;
}
#endif

} // namespace tolvarin
