#include "diagnostics/InterfaceTest.h"

#include "base/Clock.h"
#include "platform/Env.h"
#include "platform/Paths.h"
#include "platform/VolumeTestFile.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>
#include <utility>

namespace tolvarin {

namespace {

constexpr const char* kMountPointKey = "Mount Point:";

// One transfer of the whole buffer in one call (a call cut short by a
// signal is repeated: it moved nothing).
ssize_t transfer(bool writing, int fd, void* data, std::size_t size) {
    for (;;) {
        ssize_t n = writing ? ::write(fd, data, size) : ::read(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return n;
    }
}

} // namespace

InterfaceTest::InterfaceTest(const Clock& clock, std::string volumeName)
    : clock_(clock), volumeName_(std::move(volumeName)) {}

InterfaceTest::~InterfaceTest() = default;

bool InterfaceTest::createTestFilePathAndName() {
    std::string base = volumeName_;
    while (base.size() > 1 && base.back() == '/') {
        base.pop_back();
    }
    directory_ = (base == "/" ? std::string() : base) + "/" + kDirectoryName;
    fileName_ = directory_ + "/" + kFileName;
    problem_.clear();
    file_ = VolumeTestFile::create(volumeName_, kDirectoryName, kFileName, kBufferSize, &problem_);
    return file_ != nullptr;
}

bool InterfaceTest::directoryCreated() const {
    return file_ && file_->directoryCreated();
}

std::vector<uint8_t> InterfaceTest::allocateBuffer(int64_t size) {
    return std::vector<uint8_t>(static_cast<std::size_t>(size > 0 ? size : 0), 0);
}

void InterfaceTest::fillBuffer(std::vector<uint8_t>& buffer, uint8_t byte) {
    std::fill(buffer.begin(), buffer.end(), byte);
}

double InterfaceTest::writeTestFileUsingBuffer(const std::vector<uint8_t>& buffer) {
    UniqueFd fd = file_ ? file_->openForWriting(&problem_) : UniqueFd();
    if (!fd) {
        exitNow_ = true;
        return kOpenFailed;
    }
    const int64_t before = clock_.monotonicMicros();
    ssize_t written = transfer(true, fd.get(), const_cast<uint8_t*>(buffer.data()), buffer.size());
    // On its way to the volume, not only into the page cache.
    bool flushed = written >= 0 && VolumeTestFile::flushToVolume(fd.get());
    const int64_t after = clock_.monotonicMicros();
    fd.reset();
    if (written < 0 || static_cast<std::size_t>(written) < buffer.size() || !flushed) {
        return kShortTransfer;
    }
    double seconds = convertTimeDeltaToDecimal(before, after);
    return seconds < 0 ? kNegativeWriteTime : seconds;
}

double InterfaceTest::readTestFileUsingBuffer(std::vector<uint8_t>& buffer) {
    for (;;) {
        UniqueFd fd = file_ ? file_->openForReading(&problem_) : UniqueFd();
        if (!fd) {
            exitNow_ = true;
            return kOpenFailed;
        }
        VolumeTestFile::dropCachedPages(fd.get());
        const int64_t before = clock_.monotonicMicros();
        ssize_t got = transfer(false, fd.get(), buffer.data(), buffer.size());
        const int64_t after = clock_.monotonicMicros();
        fd.reset();
        if (got < 0 || static_cast<std::size_t>(got) < buffer.size()) {
            return kShortTransfer;
        }
        double seconds = convertTimeDeltaToDecimal(before, after);
        if (seconds >= 0) {
            return seconds;
        }
    }
}

void InterfaceTest::deleteTestFile() {
    if (file_) {
        file_->remove();
    }
}

std::optional<std::string> InterfaceTest::mountPointFromReport(const std::string& report) {
    std::size_t start = 0;
    while (start < report.size()) {
        std::size_t end = report.find('\n', start);
        std::string line =
            report.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? report.size() : end + 1;
        std::size_t first = line.find_first_not_of(' ');
        if (first == std::string::npos || line.compare(first, 12, kMountPointKey) != 0) {
            continue;
        }
        std::string value = line.substr(first + 12);
        value.erase(0, value.find_first_not_of(' '));
        if (!value.empty() && value.back() == '\r') {
            value.pop_back();
        }
        if (!value.empty() && value.front() == '/') {
            return value;
        }
    }
    return std::nullopt;
}

std::optional<std::string>
InterfaceTest::mountPointOf(Env& env, const std::string& volumeIdentifier, std::string* problem) {
    auto fail = [&](const std::string& why) -> std::optional<std::string> {
        if (problem != nullptr) {
            *problem = why;
        }
        return std::nullopt;
    };
    if (volumeIdentifier.empty()) {
        return fail("the unit is no volume");
    }
    ProcessResult result = env.runProcess(Paths::diskToolPath(), {"info", volumeIdentifier});
    if (!result.started) {
        return fail("the disk tool could not be run: " + result.error);
    }
    if (!result.finished()) {
        // A report cut short may end inside the mount point's path.
        return fail("the disk tool did not finish: " + result.error);
    }
    std::optional<std::string> mountPoint = mountPointFromReport(result.output);
    if (!mountPoint) {
        return fail("the volume " + volumeIdentifier + " is not mounted");
    }
    return mountPoint;
}

} // namespace tolvarin
