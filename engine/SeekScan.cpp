#include "engine/SeekScan.h"

#include "base/Clock.h"
#include "engine/DiskContext.h"
#include "engine/ScanController.h"
#include "engine/ScanHost.h"
#include "logging/Logger.h"
#include "platform/Env.h"
#include "platform/SafeFile.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sstream>

namespace tolvarin {

namespace {

// The 128-byte progress text of the controller, formatted as the window
// shows it.
std::string rangeText(const char* format, double a, double b) {
    char text[128] = {};
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

std::string lastPathElement(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A decimal 64-bit integer filling the rest of a line (blanks around it
// allowed); false for anything else, so that "CNT: 3x" is not read as 3.
bool parseInteger(const std::string& text, long long* value) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(begin, &end, 10);
    if (end == begin || errno == ERANGE) {
        return false;
    }
    while (*end == ' ' || *end == '\t' || *end == '\r') {
        ++end;
    }
    if (*end != '\0') {
        return false;
    }
    *value = v;
    return true;
}

} // namespace

SeekScan::SeekScan(ScanController& controller, ScanHost& host)
    : controller_(controller), host_(host) {}

// --- layout ------------------------------------------------------------------

int64_t SeekScan::pairCountFor(int count) {
    if (count < 2) {
        return 0;
    }
    return static_cast<int64_t>(count) * (count - 1) / 2;
}

std::pair<int, int> SeekScan::pairLocations(int count, int64_t index) {
    int a = 0;
    int64_t rowLength = count - 1;
    while (a < count - 1 && index >= rowLength) {
        index -= rowLength;
        ++a;
        --rowLength;
    }
    return {a, a + 1 + static_cast<int>(index)};
}

SeekScan::Layout SeekScan::cursoryLayout(const DiskContext& disk) {
    Layout layout;
    layout.count = disk.seekLocationCount;
    layout.interval = layout.count > 0 ? disk.sectorCount / layout.count : 0;
    return layout;
}

std::optional<SeekScan::Layout> SeekScan::readSeekIndexFile(const std::string& path,
                                                            std::string* why) {
    auto fail = [&](const std::string& reason) -> std::optional<Layout> {
        if (why != nullptr) {
            *why = reason;
        }
        return std::nullopt;
    };

    std::string error;
    std::optional<std::string> text = SafeFile::read(path, &error);
    if (!text) {
        return fail("Could not read the seek location file " + path + " (" + error + ").");
    }

    std::optional<long long> count;
    std::optional<long long> interval;
    std::istringstream lines(*text);
    std::string line;
    while (std::getline(lines, line)) {
        // The file's lines are read into 256-byte buffers; nothing it writes
        // is longer, so a longer line is not one of its own.
        if (line.size() > 255) {
            continue;
        }
        long long value = 0;
        if (line.rfind("CNT:", 0) == 0) {
            if (parseInteger(line.substr(4), &value)) {
                count = value;
            } else {
                count = -1;
            }
        } else if (line.rfind("ISZ:", 0) == 0) {
            if (parseInteger(line.substr(4), &value)) {
                interval = value;
            } else {
                interval = -1;
            }
        }
        // "END:" and every other line are not needed.
    }

    if (!count) {
        return fail("The seek location file " + path + " names no seek location count (CNT:).");
    }
    if (*count < 2 || *count > kMaxSeekLocations) {
        return fail("The seek location file " + path +
                    " names no usable seek location count (CNT:).");
    }
    if (!interval || *interval <= 0) {
        return fail("The seek location file " + path + " names no usable seek interval (ISZ:).");
    }
    Layout layout;
    layout.count = static_cast<int>(*count);
    layout.interval = *interval;
    return layout;
}

// --- the scan ----------------------------------------------------------------

bool SeekScan::doSeekScanTestUsingSeekFile(const std::string& seekFile,
                                           const std::string& surfaceFile) {
    DiskContext* disk = controller_.disk();
    normal_ = host_.scanOptions().normalScan;
    seekFile_ = seekFile;
    logFile_ = controller_.testLogFile();
    controller_.setTypeOfTest("Seek Scan");
    controller_.setCurrentTestRange("");

    if (disk == nullptr || !disk->device) {
        return refuse("No unit is open for the seek scan.", "");
    }

    // Where the locations lie.
    Layout layout;
    if (normal_) {
        std::string why;
        std::string path;
        std::optional<Layout> read = normalLayout(*disk, &why, &path);
        if (!read) {
            return refuse(why.c_str(), path);
        }
        layout = *read;
    } else {
        layout = cursoryLayout(*disk);
        if (layout.count < 2 || layout.count > kMaxSeekLocations) {
            return refuse("No usable number of seek locations.", "");
        }
    }
    buildPairTable(*disk, layout);

    pairCounter_ = 0;
    pairsSummed_ = 0;
    sumMin_ = sumMax_ = sumAvg_ = sumTotal_ = 0;
    smallestMin_ = kSentinel;
    largestMax_ = 0;

    // First pair: after the pairs a stopped normal scan recorded.
    if (normal_) {
        int64_t recorded = loadRecorded(*disk, seekFile, surfaceFile);
        // The recorded pairs count in the indices as if this run had
        // measured them, so a resumed scan ends with the same indices as an
        // uninterrupted one.
        for (int64_t i = 0; i < recorded; ++i) {
            const SeekPair& pair = disk->seekPairs[static_cast<std::size_t>(i)];
            ++pairsSummed_;
            sumMin_ += pair.minTime;
            sumMax_ += pair.maxTime;
            sumAvg_ += pair.avgTime;
            sumTotal_ += pair.totalTime;
            if (pair.minTime < smallestMin_) {
                smallestMin_ = pair.minTime;
            }
            if (pair.maxTime > largestMax_) {
                largestMax_ = pair.maxTime;
            }
        }
        pairCounter_ = recorded;
        controller_.setSurfacePercentDone(1.0);
    }
    controller_.setSeekPercentDone(
        pairTotal_ > 0 ? static_cast<double>(pairCounter_) / static_cast<double>(pairTotal_) : 0.0);
    controller_.updateGUI();

    char stamp[kTimeStampBufferSize] = {};
    getTimeStamp(stamp, host_.env());
    log("\nSTART OF SEEK SCAN TEST: %s\n\n", stamp);
    if (normal_) {
        controller_.keepDiagRecord(controller_.writeSeekStartTimeToDiagFile(stamp),
                                   &recordWriteFailed_);
    }
    startSpinner();

    auto [a, b] = pairLocations(layout.count, pairCounter_);
    for (int64_t index = pairCounter_; index < pairTotal_; ++index) {
        if (b == a + 1 || controller_.unitGone()) {
            // Pause and stop are looked at once per row of pairs.
            while (controller_.pauseFlag()) {
                host_.env().sleepMicros(kPauseMicros);
            }
            if (controller_.stopFlag()) {
                SurfaceScan stopper(controller_, host_);
                stopper.setStoreHooks(stopHooks_);
                std::string stopStamp;
                SurfaceScan::StopDecision decision = stopper.runStopProtocol(
                    seekFile_, "Seek Scan Terminated by User\n\n", false, &stopStamp);
                if (decision == SurfaceScan::StopDecision::Terminate) {
                    if (recordWriteFailed_.empty()) {
                        recordWriteFailed_ = stopper.recordWriteFailed();
                    }
                    return terminate(stopStamp);
                }
            }
        }
        measurePair(locations_[static_cast<std::size_t>(a)] * 512,
                    locations_[static_cast<std::size_t>(b)] * 512);
        if (!recordWriteFailed_.empty()) {
            // A gap in the file could not be told from the end of what was
            // measured: the scan ends here.
            stopSpinner();
            releaseTables();
            return false;
        }
        if (++b == layout.count) {
            ++a;
            b = a + 1;
        }
    }

    finish();
    return recordWriteFailed_.empty();
}

void SeekScan::measurePair(int64_t offsetA, int64_t offsetB) {
    DiskContext& disk = *controller_.disk();
    setSpinnerLocation(offsetB);

    double minimum = 0;
    double maximum = 0;
    double total = 0;
    double average = 0;
    int result = 0;
    {
        std::lock_guard<std::mutex> lock(controller_.scanLock());
        result = doLowLevelSeekTest(&minimum, &maximum, &total, &average, disk, offsetA, offsetB,
                                    &cycles_);
    }
    if (result < 0 && controller_.unitGone()) {
        return; // not a failed pair: the stop saves the test before it
    }
    controller_.recorder().seekCycles(cycles_, kTripsPerCycle);

    controller_.setCurrentTestRange(rangeText("Seeking between %.3f GB and %.3f GB",
                                              static_cast<double>(offsetA) / 1e9,
                                              static_cast<double>(offsetB) / 1e9));

    int passed = 1;
    int clean = 1;
    const long long a = offsetA;
    const long long b = offsetB;
    if (result < 0) {
        if (result == kSeekTestReadFailed) {
            log(" Seek Start: %-14lld End: %-14lld Status: FAILED - UNABLE TO READ\n", a, b);
            if (normal_) {
                controller_.keepDiagRecord(controller_.writeSeekErrorToDiagFile(offsetA, offsetB),
                                           &recordWriteFailed_);
            }
        } else {
            log(" Seek Start: %-14lld End: %-14lld Status: FAILED - UNABLE TO SEEK\n", a, b);
        }
        passed = 0;
        clean = 1;
        ++disk.seekErrors;
        ++disk.totalErrors;
        minimum = maximum = average = total = kSentinel;
        controller_.updateErrorCount();
    } else if (result == kSeekTestSlow) {
        log(" Seek Start: %-14lld End: %-14lld Status: PASSED W/IRREGULARITY\n", a, b);
        if (normal_) {
            controller_.keepDiagRecord(controller_.writeSeekIrregularityToFile(offsetA, offsetB),
                                       &recordWriteFailed_);
        }
        passed = 1;
        clean = 0;
        ++disk.seekIrregularities;
        ++disk.totalIrregularities;
    } else {
        log(" Seek Start: %-14lld End: %-14lld Status: PASSED\n", a, b);
    }

    if (pairCounter_ >= 0 && pairCounter_ < static_cast<int64_t>(disk.seekPairs.size())) {
        SeekPair& pair = disk.seekPairs[static_cast<std::size_t>(pairCounter_)];
        pair.offsetA = offsetA;
        pair.offsetB = offsetB;
        pair.minTime = minimum;
        pair.maxTime = maximum;
        pair.avgTime = average;
        pair.totalTime = total;
        pair.passed = passed;
        pair.clean = clean;
    }

    if (normal_) {
        int index = static_cast<int>(pairCounter_);
        if (result < 0) {
            data("I:%d MN:N/A MX:N/A AV:N/A T:N/A O:1 E:0\n", index);
        } else {
            data("I:%d MN:%f MX:%f AV:%f T:%f O:%d E:%d\n", index, minimum, maximum, average, total,
                 clean, passed);
        }
    }

    ++pairsSummed_;
    sumMin_ += minimum;
    sumMax_ += maximum;
    sumAvg_ += average;
    sumTotal_ += total;
    if (minimum < smallestMin_) {
        smallestMin_ = minimum;
    }
    if (maximum > largestMax_) {
        largestMax_ = maximum;
    }

    controller_.setSeekPercentDone(static_cast<double>(pairCounter_) /
                                   static_cast<double>(pairTotal_));
    controller_.updateGUI();
    ++pairCounter_;
}

void SeekScan::finish() {
    DiskContext& disk = *controller_.disk();
    double pairs = static_cast<double>(pairsSummed_);
    disk.seekLinearRPI = pairs > 0 ? sumAvg_ / pairs * 1000.0 : 0.0;
    // A cycle below the clock's microsecond reads as 0; no pair, no spread.
    // Neither may put an infinite or undefined index into a data file.
    constexpr double kResolution = 1e-6;
    disk.seekRatioRPI =
        pairs > 0
            ? std::log10(std::max(largestMax_, kResolution) / std::max(smallestMin_, kResolution))
            : 0.0;

    if (normal_) {
        data("\nRPISKLIN: %f\n", disk.seekLinearRPI);
        data("RPISKRAT: %f\n\n", disk.seekRatioRPI);
        data("Seek Scan Complete\n\n");
        data("END OF FILE %s\n", lastPathElement(seekFile_).c_str());
    }

    char stamp[kTimeStampBufferSize] = {};
    getTimeStamp(stamp, host_.env());
    log("\nEND OF SEEK SCAN TEST: %s\n\n", stamp);
    log("Number of errors during seek test: %d\n", disk.seekErrors);
    log("Number of irregularities during seek test: %d\n", disk.seekIrregularities);
    if (disk.seekErrors >= 1) {
        log("RESULTS: Seek scan *** FAILED *** with %d errors.\n", disk.seekErrors);
    } else if (disk.seekIrregularities >= 1) {
        log("RESULTS: Seek scan passed with no errors and %d irregularities.\n",
            disk.seekIrregularities);
    } else {
        log("RESULTS: Seek scan *** PASSED ***  with no errors and no irregularities.\n");
    }

    stopSpinner();
    log("\n\nSeek Scan Relative Performance Indices\n\n");
    log("   Seek Scan Linear RPI: %f\n", disk.seekLinearRPI);
    log("   Seek Scan Ratio RPI: %f\n", disk.seekRatioRPI);

    controller_.setSeekPercentDone(1.0);
    controller_.updateGUI();
    releaseTables();
    host_.setUnderTest(false);
}

bool SeekScan::terminate(const std::string& stamp) {
    log("\nSeek Scan Terminated by User at: %s\n\n", stamp.c_str());
    stopSpinner();
    releaseTables();
    host_.resetButtons();
    host_.enableSystemItemsFromScanController();
    return false;
}

std::optional<SeekScan::Layout> SeekScan::normalLayout(const DiskContext& disk, std::string* why,
                                                       std::string* path) const {
    *path = controller_.tolvarinDir() + "/" + controller_.filePrefix() + ".skx";
    std::optional<Layout> layout = readSeekIndexFile(*path, why);
    if (!layout) {
        path->clear();
        return std::nullopt;
    }
    // Locations recorded for a larger unit would be measured past its
    // end, where reads answer nothing and every pair looks fast.
    int64_t room = disk.deviceSize - disk.seekReadSize;
    int64_t maxInterval = room < 0 ? -1 : room / 512 / (layout->count - 1);
    if (layout->interval > maxInterval) {
        *why = "The seek locations of the seek location file lie beyond the end of the unit.";
        return std::nullopt;
    }
    return layout;
}

void SeekScan::buildPairTable(DiskContext& disk, const Layout& layout) {
    locations_.resize(static_cast<std::size_t>(layout.count));
    for (int k = 0; k < layout.count; ++k) {
        locations_[static_cast<std::size_t>(k)] = static_cast<int64_t>(k) * layout.interval;
    }
    pairTotal_ = pairCountFor(layout.count);
    disk.seekPairs.assign(static_cast<std::size_t>(pairTotal_), SeekPair{});
    std::size_t i = 0;
    for (int a = 0; a < layout.count - 1; ++a) {
        for (int b = a + 1; b < layout.count; ++b, ++i) {
            disk.seekPairs[i].offsetA = locations_[static_cast<std::size_t>(a)] * 512;
            disk.seekPairs[i].offsetB = locations_[static_cast<std::size_t>(b)] * 512;
        }
    }
}

int64_t SeekScan::loadRecorded(DiskContext& disk, const std::string& seekFile,
                               const std::string& surfaceFile) {
    if (store_.extractSurfaceDataFromFile) {
        store_.extractSurfaceDataFromFile(surfaceFile);
    }
    int64_t recorded = 0;
    if (store_.extractSeekDataFromFile) {
        recorded = store_.extractSeekDataFromFile(seekFile);
    }
    if (disk.seekPairs.size() != static_cast<std::size_t>(pairTotal_)) {
        disk.seekPairs.resize(static_cast<std::size_t>(pairTotal_));
    }
    return std::clamp<int64_t>(recorded, 0, pairTotal_);
}

bool SeekScan::loadCompletedScan(const std::string& seekFile, const std::string& surfaceFile) {
    DiskContext* disk = controller_.disk();
    normal_ = true;
    seekFile_ = seekFile;
    logFile_ = controller_.testLogFile();
    if (disk == nullptr) {
        return false;
    }
    std::string why;
    std::string path;
    std::optional<Layout> layout = normalLayout(*disk, &why, &path);
    int64_t recorded = 0;
    if (layout) {
        buildPairTable(*disk, *layout);
        recorded = loadRecorded(*disk, seekFile, surfaceFile);
    } else {
        log("SEEK SCAN CRITICAL ERROR: %s\n", why.c_str());
        // The surface scan's findings still count.
        if (store_.extractSurfaceDataFromFile) {
            store_.extractSurfaceDataFromFile(surfaceFile);
        }
    }
    log("\nThe surface and seek scans of this test were completed before it was interrupted; "
        "their findings are read from %s and %s (%lld of %lld pairs).\n",
        lastPathElement(surfaceFile).c_str(), lastPathElement(seekFile).c_str(),
        static_cast<long long>(recorded), static_cast<long long>(pairTotal_));
    log("Number of errors during surface test: %d\n", disk->surfaceErrors);
    log("Number of irregularities during surface test: %d\n", disk->surfaceIrregularities);
    log("Number of errors during seek test: %d\n", disk->seekErrors);
    log("Number of irregularities during seek test: %d\n", disk->seekIrregularities);
    releaseTables();
    controller_.setSurfacePercentDone(1.0);
    controller_.setSeekPercentDone(1.0);
    controller_.updateGUI();
    return layout.has_value();
}

bool SeekScan::refuse(const char* reason, const std::string& detail) {
    if (detail.empty()) {
        log("SEEK SCAN CRITICAL ERROR: %s\n", reason);
    } else {
        log("SEEK SCAN CRITICAL ERROR: %s (%s)\n", reason, detail.c_str());
    }
    log("SEEK SCAN ABORTING TEST!\n\n");
    releaseTables();
    host_.resetButtons();
    host_.enableSystemItemsFromScanController();
    return false;
}

void SeekScan::releaseTables() {
    locations_.clear();
    locations_.shrink_to_fit();
    if (DiskContext* disk = controller_.disk()) {
        disk->seekPairs.clear();
        disk->seekPairs.shrink_to_fit();
    }
}

// --- owner and files ---------------------------------------------------------

void SeekScan::startSpinner() {
    host_.spinner(normal_ ? SpinnerPane::normal : SpinnerPane::cursory, SpinnerScan::seek,
                  SpinnerAction::start);
}

void SeekScan::stopSpinner() {
    host_.spinner(normal_ ? SpinnerPane::normal : SpinnerPane::cursory, SpinnerScan::seek,
                  SpinnerAction::stop);
}

void SeekScan::setSpinnerLocation(int64_t offset) {
    host_.spinner(normal_ ? SpinnerPane::normal : SpinnerPane::cursory, SpinnerScan::seek,
                  SpinnerAction::locate, offset);
}

void SeekScan::log(const char* format, ...) {
    va_list args;
    va_start(args, format);
    Logger::vwriteDataToLogFile(logFile_, format, args);
    va_end(args);
}

void SeekScan::data(const char* format, ...) {
    // One record, cut as every formatted append is.
    char line[255] = {};
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (!writeData(seekFile_, "%s", line) && recordWriteFailed_.empty()) {
        recordWriteFailed_ = seekFile_;
    }
}

} // namespace tolvarin
