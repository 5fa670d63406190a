#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tolvarin {

class Clock;
class Env;
class VolumeTestFile;

// The interface test's file on a mounted volume of the unit: made once
// ("tmp/TolvarinBufferTest.dat" under the mount point, the directory made
// too when missing), then written and read back whole in single timed
// transfers that bypass the page cache, and removed again. The file is
// created exclusively and reached without following links (the program may
// run as root on a volume a user controls): a link or file already at its
// path makes the creation fail and is left alone.
class InterfaceTest {
  public:
    static constexpr int64_t kBufferSize = 524289;
    static constexpr const char* kDirectoryName = "tmp";
    static constexpr const char* kFileName = "TolvarinBufferTest.dat";
    // Transfer results besides a time in seconds.
    static constexpr double kShortTransfer = -1.0;
    static constexpr double kOpenFailed = -999.999;
    static constexpr double kNegativeWriteTime = -100.0;

    // initWithVolumeName: volumeName is the mount path of the volume.
    InterfaceTest(const Clock& clock, std::string volumeName);
    ~InterfaceTest();
    InterfaceTest(const InterfaceTest&) = delete;
    InterfaceTest& operator=(const InterfaceTest&) = delete;

    // createTestFilePathAndName: forms the paths, makes the directory when
    // missing and creates the test file. False (and why in problem()) when
    // the volume is read-only or full, or the directory or file cannot be
    // made.
    bool createTestFilePathAndName();

    static std::vector<uint8_t> allocateBuffer(int64_t size);
    static void fillBuffer(std::vector<uint8_t>& buffer, uint8_t byte);

    // Seconds the whole buffer took to reach the volume, or kShortTransfer,
    // kOpenFailed (exitNow set) or kNegativeWriteTime.
    double writeTestFileUsingBuffer(const std::vector<uint8_t>& buffer);
    // Seconds the whole file took to come back from the volume into buffer,
    // or kShortTransfer or kOpenFailed (exitNow set).
    double readTestFileUsingBuffer(std::vector<uint8_t>& buffer);
    // deleteTestFile: the file, and the directory when this test made it.
    void deleteTestFile();

    bool exitNow() const { return exitNow_; }
    void setExitNow(bool value) { exitNow_ = value; }
    const std::string& volumeName() const { return volumeName_; }
    const std::string& fileName() const { return fileName_; }
    const std::string& directory() const { return directory_; }
    bool directoryCreated() const;
    const std::string& problem() const { return problem_; }

    // The mount point a disk tool report ("info DEVICE") gives for a volume,
    // from its "Mount Point:" line; nullopt when the report has none.
    static std::optional<std::string> mountPointFromReport(const std::string& report);
    // Asks the disk tool (through env) where the volume is mounted.
    static std::optional<std::string> mountPointOf(Env& env, const std::string& volumeIdentifier,
                                                   std::string* problem);

  private:
    const Clock& clock_;
    std::string volumeName_;
    std::string directory_;
    std::string fileName_;
    std::string problem_;
    bool exitNow_ = false;
    std::unique_ptr<VolumeTestFile> file_;
};

} // namespace tolvarin
