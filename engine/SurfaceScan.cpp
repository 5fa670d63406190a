#include "engine/SurfaceScan.h"

#include "base/Clock.h"
#include "base/TextFormat.h"
#include "engine/DiskContext.h"
#include "engine/ScanController.h"
#include "engine/ScanHost.h"
#include "logging/Logger.h"
#include "logging/MessageCenter.h"
#include "platform/Env.h"
#include "platform/System.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <deque>
#include <mutex>

namespace tolvarin {

namespace {

constexpr int kStopQuestionNormal = 3;
constexpr int kStopQuestionCursory = 6;
constexpr int kDontSaveQuestion = 9;
constexpr size_t kStandardTableSize = 4000;
constexpr int64_t kFirstRangeBytes = 2621440;
constexpr int64_t kRefreshRangeBytes = 1310720;
// The clock counts whole microseconds: a reading of 0 means "below one".
constexpr double kClockResolution = 1e-6;

bool appendTo(const std::string& path, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
bool appendTo(const std::string& path, const char* fmt, ...) {
    if (path.empty()) {
        return true;
    }
    va_list args;
    va_start(args, fmt);
    std::string text = vformatText(fmt, args);
    va_end(args);
    return writeData(path, "%s", text.c_str());
}

std::string lastElementOfPath(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool appendEndOfFileTo(const std::string& path) {
    return appendTo(path, "END OF FILE %s\n", lastElementOfPath(path).c_str());
}

double fractionOf(int64_t offset, int64_t deviceSize) {
    return deviceSize > 0 ? static_cast<double>(offset) / static_cast<double>(deviceSize) : 0.0;
}

} // namespace

SurfaceScan::SurfaceScan(ScanController& controller, ScanHost& host)
    : controller_(controller), host_(host) {}

void SurfaceScan::log(const char* format, ...) {
    va_list args;
    va_start(args, format);
    Logger::vwriteDataToLogFile(logFile_, format, args);
    va_end(args);
}

void SurfaceScan::beginRun(const std::string& dataFile) {
    normal_ = host_.scanOptions().normalScan;
    dataFile_ = normal_ ? dataFile : std::string();
    logFile_ = Logger::charLogFileNameAndPath();
    if (logFile_.empty() && controller_.disk() != nullptr) {
        logFile_ = controller_.disk()->logFilePath;
    }
    pending_.clear();
    refreshCounter_ = 0;
    section_ = SectionRun{};

    // One slot per read unit of the longest section: the standard 4,000, or
    // more for a recorded layout with larger sections. Short reads can still
    // need more; the table then grows (outside the timed bracket).
    size_t units = kStandardTableSize;
    if (DiskContext* disk = controller_.disk()) {
        int64_t unit = std::max<int64_t>(disk->scanReadSize, 1);
        for (const ScanSection& s : disk->sections) {
            int64_t length = s.end - s.start + 1;
            units = std::max(units, static_cast<size_t>((length + unit - 1) / unit));
        }
        if (disk->scanBuffer.size() < static_cast<size_t>(disk->scanReadSize)) {
            disk->scanBuffer.allocate(static_cast<size_t>(disk->scanReadSize));
        }
    }
    times_.assign(units, 0);
    if (DiskContext* disk = controller_.disk()) {
        controller_.readSink().surfaceBegins(*disk);
    }
    openQueue();

    controller_.setTypeOfTest("Surface Scan");
    controller_.setCurrentTestRange("");
}

void SurfaceScan::openQueue() {
    queue_.reset();
    queueMemory_.release();
    queueSlots_ = 0;
    DiskContext* disk = controller_.disk();
    const int depth = host_.scanOptions().queueDepth;
    int used = 1;
    if (!normal_ && depth > 1 && disk != nullptr && disk->device) {
        std::string why;
        queue_ = disk->device->openReadQueue(depth, &why);
        if (queue_) {
            queueStride_ =
                (static_cast<size_t>(disk->scanReadSize) + AlignedBuffer::kAlignment - 1) /
                AlignedBuffer::kAlignment * AlignedBuffer::kAlignment;
            queueSlots_ = static_cast<size_t>(depth) * kWindowPerDepth;
            queueMemory_.allocate(queueStride_ * queueSlots_);
            queue_->useBufferMemory(queueMemory_.data(), queueStride_ * queueSlots_);
            used = depth;
        } else {
            log("Queued reads are not available: %s. The surface scan reads one block at a "
                "time.\n\n",
                why.c_str());
        }
    }
    controller_.updateResults([used](TestResults& r) { r.queueDepth = used; });
}

void SurfaceScan::endRun() {
    controller_.readSink().surfaceEnds();
    queue_.reset();
    queueMemory_.release();
    queueSlots_ = 0;
    times_.clear();
    times_.shrink_to_fit();
    pending_.clear();
    controller_.setCurrentTestRange("");
}

bool SurfaceScan::doSurfaceScanTestUsingFile(const std::string& dataFile) {
    beginRun(dataFile);
    DiskContext* disk = controller_.disk();
    if (disk == nullptr || !disk->device) {
        log("SURFACE SCAN ERROR: No unit is open for scanning.\n\n");
        System::consoleLog("Surface scan started without an open unit");
        endRun();
        host_.resetButtons();
        return false;
    }

    std::string stamp = getTimeStamp(host_.env());
    log("START OF SURFACE SCAN TEST: %s\n\n", stamp.c_str());
    int first = 0;
    if (normal_) {
        controller_.keepDiagRecord(controller_.writeSurfaceStartTimeToDiagFile(stamp.c_str()),
                                   &recordWriteFailed_);
        if (store_.extractSurfaceDataFromFile) {
            first = store_.extractSurfaceDataFromFile(dataFile_);
        }
    }
    int count = sectionCount();
    first = std::clamp(first, 0, count);

    showFirstProgress();
    if (!scanSections(first, count - 1, Wording::Full)) {
        return false;
    }
    return finishScan();
}

int SurfaceScan::sectionCount() const {
    const DiskContext* disk = controller_.disk();
    if (disk == nullptr) {
        return 0;
    }
    return std::clamp(disk->sectionCount, 0, static_cast<int>(disk->sections.size()));
}

void SurfaceScan::showFirstProgress() {
    DiskContext& disk = *controller_.disk();
    double upper = static_cast<double>(kFirstRangeBytes) / 1e9;
    if (sectionCount() == 1 && disk.deviceSize <= kFirstRangeBytes) {
        upper = static_cast<double>(disk.deviceSize) / 1e9;
    }
    controller_.setCurrentTestRange(formatText("Scanning from %.3f GB to %.3f GB", 0.0, upper));
    controller_.updateGUI();
    host_.spinner(normal_ ? SpinnerPane::normal : SpinnerPane::cursory, SpinnerScan::surface,
                  SpinnerAction::start);
}

void SurfaceScan::stopSpinner() {
    host_.spinner(normal_ ? SpinnerPane::normal : SpinnerPane::cursory, SpinnerScan::surface,
                  SpinnerAction::stop);
}

void SurfaceScan::setSpinnerLocation(int64_t offset) {
    host_.spinner(normal_ ? SpinnerPane::normal : SpinnerPane::cursory, SpinnerScan::surface,
                  SpinnerAction::locate, offset);
}

void SurfaceScan::waitWhilePaused() {
    while (controller_.pauseFlag()) {
        host_.env().sleepMicros(kPauseMicros);
    }
}

void SurfaceScan::refreshProgress(int64_t offset) {
    DiskContext& disk = *controller_.disk();
    // "Scanning from %.3f GB to %.3f GB", made without printf and in a
    // buffer kept from call to call (every tenth read).
    rangeText_.assign("Scanning from ");
    rangeText_ += gigabytesText(offset);
    rangeText_ += " GB to ";
    rangeText_ += gigabytesText(offset + kRefreshRangeBytes);
    rangeText_ += " GB";
    controller_.setCurrentTestRange(rangeText_);
    controller_.setSurfacePercentDone(fractionOf(offset, disk.deviceSize));
    controller_.updateGUI();
    if (controller_.hasSMART() &&
        !controller_.checkSMARTStatusOnDisk(controller_.rawTargetDrive())) {
        System::consoleLog("SMART STATUS FAILED, SHUTTING DOWN APPLICATION");
        controller_.setStopFlag(true);
    }
}

bool SurfaceScan::scanSections(int first, int last, Wording wording) {
    last = std::min(last, sectionCount() - 1);
    for (int index = std::max(first, 0); index <= last; ++index) {
        if (!scanOneSection(index, wording)) {
            return false;
        }
        if (!recordWriteFailed_.empty()) {
            // Going on would leave a gap in the file that a later reading
            // could not tell from the end of what was measured.
            stopSpinner();
            endRun();
            return false;
        }
    }
    return true;
}

bool SurfaceScan::askToStop(Wording wording, std::string* stamp) {
    // The limited scan only ever asks the cursory question.
    bool normal = normal_ && wording == Wording::Full;
    StopDecision decision =
        stopProtocol(normal, dataFile_, "Surface Scan Terminated by User\n\n", true, stamp);
    return decision == StopDecision::Terminate;
}

bool SurfaceScan::scanOneSection(int index, Wording wording) {
    DiskContext& disk = *controller_.disk();
    ScanSection& s = disk.sections[static_cast<size_t>(index)];
    RawDevice& device = *disk.device;
    void* buffer = disk.scanBuffer.data();

    log("Scan start - Start Byte: %lld End Byte: %lld Index: %d\n", static_cast<long long>(s.start),
        static_cast<long long>(s.end), index);
    waitWhilePaused();

    disk.position = 0;
    disk.readCount = 0;
    section_ = SectionRun{};
    s.passed = 1;
    s.clean = 1;
    s.errorCount = 0;
    s.irregularityCount = 0;
    controller_.readSink().sectionBegins();

    if (queue_) {
        return scanSectionQueued(index, wording);
    }
    while (s.start + disk.position < s.end) {
        waitWhilePaused();
        if (controller_.stopFlag()) {
            std::string stamp;
            if (askToStop(wording, &stamp)) {
                terminate(stamp, wording);
                return false;
            }
        }
        if (refreshCounter_++ % kRefreshEvery == 0) {
            refreshProgress(s.start + disk.position);
        }

        int64_t offset = s.start + disk.position;
        int64_t readResult = 0;
        int64_t duration = 0;
        for (;;) {
            setSpinnerLocation(offset);
            int64_t t0 = 0;
            int64_t t1 = 0;
            {
                std::lock_guard<std::mutex> lock(controller_.scanLock());
                t0 = disk.clock->monotonicMicros();
                readResult = device.readAt(offset, buffer, disk.scanReadSize);
                t1 = disk.clock->monotonicMicros();
            }
            duration = t1 - t0;
            // A clock stepped back during a good read: measure it again.
            if (readResult == -1 || duration >= 0) {
                break;
            }
        }
        if (readResult < 0 && controller_.unitGone()) {
            continue; // no surface fault: the stop above saves the test
        }
        if (!takeRead(index, wording, offset, readResult, duration)) {
            if (!readError(index, wording)) {
                return false;
            }
            break;
        }
    }
    endSection(index, wording);
    return true;
}

bool SurfaceScan::takeRead(int index, Wording wording, int64_t offset, int64_t readResult,
                           int64_t duration) {
    DiskContext& disk = *controller_.disk();
    ScanSection& s = disk.sections[static_cast<size_t>(index)];
    disk.lastReadResult = readResult;
    // A failed read is not repeated; a backward step there just counts as
    // no time.
    duration = std::max<int64_t>(duration, 0);
    controller_.readSink().readTimed(offset, std::max<int64_t>(readResult, 0), duration,
                                     readResult <= 0);

    int64_t slotPosition = s.start + disk.readCount * disk.scanReadSize;
    if (section_.firstRead) {
        section_.minimum = duration;
        section_.maximum = duration;
        s.maxTimePosition = slotPosition;
        section_.firstRead = false;
    } else {
        if (duration < section_.minimum) {
            section_.minimum = duration;
        }
        if (duration > section_.maximum) {
            section_.maximum = duration;
            s.maxTimePosition = slotPosition;
        }
    }
    section_.sum += duration;
    auto slot = static_cast<size_t>(disk.readCount);
    if (slot >= times_.size()) {
        times_.resize(std::max(slot + 1, times_.size() * 2));
    }
    times_[slot] = duration;

    // A read that brings no data at all lies beyond the end of the unit (a
    // recorded layout larger than the unit): it cannot advance, so the
    // section ends there as a failure.
    if (readResult <= 0) {
        return false;
    }
    if (duration > kIrregularMicros) {
        double seconds = convertLongLongTimeToDecimal(duration);
        pending_.push_back(formatText("      Irregularity at byte %lld, response time %f",
                                      static_cast<long long>(offset), seconds));
        disk.totalIrregularities += 1;
        disk.surfaceIrregularities += 1;
        s.irregularityCount += 1;
        s.clean = 0;
        controller_.updateGUI();
        if (normal_ && wording == Wording::Full) {
            controller_.keepDiagRecord(
                controller_.writeSurfaceIrregularityToFile(offset, seconds, index),
                &recordWriteFailed_);
        }
    }
    disk.position += readResult;
    disk.readCount += 1;
    return true;
}

bool SurfaceScan::scanSectionQueued(int index, Wording wording) {
    DiskContext& disk = *controller_.disk();
    ScanSection& s = disk.sections[static_cast<size_t>(index)];
    const int depth = queue_->depth();
    // Reads done ahead of their turn wait in their buffers while the device
    // is kept busy with depth reads: the window is wider than the depth.
    const size_t window = queueSlots_;

    // The reads in flight, oldest first; each is taken in order of its
    // offset, whatever the device finished first, so that every count, time
    // and log line is the one the one-at-a-time scan would give.
    struct Slot {
        int64_t offset = 0;
        int64_t submitted = 0;
        int64_t completed = 0;
        int64_t result = 0;
        int error = 0;
        bool done = false;
        size_t buffer = 0;
    };
    std::deque<Slot> flight;
    // Free buffers, the last freed on top: while reads finish in order only
    // about depth of them take turns, and the device writes into memory it
    // wrote to a moment ago rather than across the whole window.
    std::vector<size_t> freeBuffers;
    for (size_t i = window; i > 0; --i) {
        freeBuffers.push_back(i - 1);
    }
    // Tags count the section's reads from 0; the oldest in flight is firstTag.
    uint64_t firstTag = 0;
    int64_t nextOffset = s.start + disk.position;

    auto slotFor = [&](uint64_t tag) -> Slot* {
        uint64_t i = tag - firstTag;
        return i < flight.size() ? &flight[static_cast<size_t>(i)] : nullptr;
    };
    // Waits for the next completion of any read in flight and stamps it.
    // One reading of the clock per completion, as it is handed out: a stamp
    // shared by several would give those handed out before a slow one its
    // time.
    auto reapOne = [&]() -> bool {
        ReadQueue::Completion c;
        if (!queue_->next(&c)) {
            return false;
        }
        int64_t now = disk.clock->monotonicMicros();
        if (Slot* slot = slotFor(c.tag)) {
            slot->completed = now;
            slot->result = c.result;
            slot->error = c.error;
            slot->done = true;
        }
        return true;
    };
    // Every read still in flight is waited for and dropped: nothing may be
    // left reading into the buffers when the scan moves on or asks.
    auto drain = [&] {
        while (queue_->inFlight() > 0 && reapOne()) {
        }
        for (const Slot& slot : flight) {
            freeBuffers.push_back(slot.buffer);
        }
        firstTag += flight.size();
        flight.clear();
    };
    // Fills the free places at the device; the reads go to the kernel
    // together when the scan next waits (and so share one submission time).
    auto submitMore = [&] {
        int64_t now = -1;
        while (queue_->inFlight() < depth && flight.size() < window && nextOffset < s.end &&
               !controller_.pauseFlag() && !controller_.stopFlag()) {
            if (now < 0) {
                now = disk.clock->monotonicMicros();
            }
            uint64_t tag = firstTag + flight.size();
            Slot slot;
            slot.buffer = freeBuffers.back();
            freeBuffers.pop_back();
            void* buffer = queueMemory_.data() + slot.buffer * queueStride_;
            slot.offset = nextOffset;
            slot.submitted = now;
            if (!queue_->submit(tag, nextOffset, buffer, disk.scanReadSize)) {
                // Not taken by the queue: the read fails where the one-at-a-
                // time scan's would, in its turn.
                slot.result = -1;
                slot.error = errno;
                slot.done = true;
                slot.completed = slot.submitted;
            }
            flight.push_back(slot);
            nextOffset += disk.scanReadSize;
        }
    };

    // Every read in flight completes (its result kept for its turn).
    auto settle = [&] {
        for (const Slot& slot : flight) {
            while (!slot.done && reapOne()) {
            }
        }
    };

    while (s.start + disk.position < s.end) {
        // A pause or a stop takes effect after the read just taken, as it
        // does one read at a time; no read is left in flight meanwhile.
        if (controller_.pauseFlag() || controller_.stopFlag()) {
            settle();
            waitWhilePaused();
            if (controller_.stopFlag()) {
                std::string stamp;
                if (askToStop(wording, &stamp)) {
                    terminate(stamp, wording);
                    return false;
                }
            }
        }
        submitMore();
        if (flight.empty()) {
            continue; // paused or stopped again meanwhile
        }
        if (refreshCounter_++ % kRefreshEvery == 0) {
            refreshProgress(s.start + disk.position);
        }
        Slot& head = flight.front();
        setSpinnerLocation(head.offset);
        while (!head.done) {
            if (!reapOne()) {
                head.result = -1;
                head.error = errno;
                head.done = true;
                head.completed = disk.clock->monotonicMicros();
            }
            // A read ahead of its turn finished: its place at the device is
            // taken by the next one (deque growth keeps head in place).
            submitMore();
        }
        Slot taken = head;
        flight.pop_front();
        ++firstTag;
        freeBuffers.push_back(taken.buffer);
        if (taken.result < 0 && controller_.unitGone()) {
            // No surface fault: the stop at the top saves the test.
            drain();
            nextOffset = s.start + disk.position;
            continue;
        }
        errno = taken.error;
        if (!takeRead(index, wording, taken.offset, taken.result,
                      taken.completed - taken.submitted)) {
            drain();
            errno = taken.error;
            if (!readError(index, wording)) {
                return false;
            }
            break;
        }
        if (taken.result != disk.scanReadSize) {
            // A short read: the next read starts where this one ended, as
            // one block at a time would read it.
            drain();
            nextOffset = s.start + disk.position;
        }
    }
    drain();
    endSection(index, wording);
    return true;
}

void SurfaceScan::endSection(int index, Wording wording) {
    closeSection(index, wording);
    if (int doubtful = controller_.readSink().sectionEnds()) {
        log("   DOUBTFUL: %d slow read(s) of this section were timed while other I/O used the "
            "unit.\n\n",
            doubtful);
    }
}

bool SurfaceScan::readError(int index, Wording wording) {
    DiskContext& disk = *controller_.disk();
    ScanSection& s = disk.sections[static_cast<size_t>(index)];
    bool limited = wording == Wording::Limited;
    bool writeRecords = normal_ && !limited;

    section_.lastReadGood = false;
    s.endPosition = s.start + disk.position;
    s.endReadIndex = static_cast<int>(disk.readCount);
    s.passed = 0;
    log("   SCAN FAILED - Start Byte: %lld End Byte: %lld Index: %d\n",
        static_cast<long long>(s.start), static_cast<long long>(s.end), index);
    log(limited ? "   BAD DATA DETECTED BETWEEN %lld and %lld BYTES.\n"
                : "   BAD DATA DETECTED BETWEEN %lld AND %lld BYTES.\n",
        static_cast<long long>(s.endPosition),
        // The failed read covered at most what was left of its section.
        static_cast<long long>(std::min(s.endPosition + disk.scanReadSize, s.end + 1)));
    controller_.updateErrorCount();
    if (writeRecords) {
        controller_.keepDiagRecord(controller_.writeSurfaceErrorToDiagFile(s.endPosition, index),
                                   &recordWriteFailed_);
    }

    bool repair = host_.scanOptions().attemptToRepairBadSectors;
    if (host_.scanOptions().probeInto && !repair) {
        disk.surfaceErrors += 1;
        s.errorCount += 1;
        disk.totalErrors += 1;
        section_.errorCounted = true;
        controller_.updateGUI();
        if (limited) {
            controller_.updateErrorCount();
        }
        if (!probeSection(index, wording)) {
            return false;
        }
    }
    if (repair && !normal_ && repair_) {
        // The repair counts what it cannot mend.
        section_.errorCounted = true;
        repair_(index, logFile_.c_str());
    }
    // Past the section end: the section closes after this step.
    disk.position = s.end - s.start + 1;
    return true;
}

bool SurfaceScan::probeSection(int index, Wording wording) {
    DiskContext& disk = *controller_.disk();
    ScanSection& s = disk.sections[static_cast<size_t>(index)];
    RawDevice& device = *disk.device;
    bool limited = wording == Wording::Limited;

    log(limited ? "\n***** PROBING SCAN SECTION *****\n"
                : "\n   ***** PROBING SCAN SECTION *****\n");
    // The failed read that started the sweep is its first sample, and a
    // failed one: the rate can then never exceed 100%.
    int samples = 1;
    int failures = 1;
    while (s.start + disk.position < s.end) {
        if (controller_.stopFlag()) {
            std::string stamp;
            if (askToStop(wording, &stamp)) {
                terminate(stamp, wording);
                return false;
            }
        }
        disk.position += kProbeStride;
        int64_t at = s.start + disk.position;
        controller_.setCurrentTestRange(
            formatText("   Probing disk at byte %.3f GB", static_cast<double>(at) / 1e9));
        controller_.setSurfacePercentDone(fractionOf(at, disk.deviceSize));
        controller_.updateGUI();

        log(limited ? "Probing sweep section at byte: %lld\n"
                    : "   Probing sweep section at byte: %lld\n",
            static_cast<long long>(at));
        setSpinnerLocation(at);
        int64_t result = -1;
        {
            std::lock_guard<std::mutex> lock(controller_.scanLock());
            result = device.readAt(at, disk.scanBuffer.data(), disk.scanReadSize);
        }
        disk.lastReadResult = result;
        if (result == -1 && controller_.unitGone()) {
            disk.position -= kProbeStride;
            continue;
        }
        controller_.readSink().probed(at, result == -1);
        if (result == -1) {
            disk.surfaceErrors += 1;
            s.errorCount += 1;
            disk.totalErrors += 1;
            controller_.updateErrorCount();
            failures += 1;
            log("        SCAN FAILED AT: %lld\n", static_cast<long long>(at));
            controller_.updateGUI();
            if (normal_ && !limited) {
                controller_.keepDiagRecord(controller_.writeSurfaceErrorToDiagFile(at, index),
                                           &recordWriteFailed_);
            }
        }
        samples += 1;
    }
    log("\n   FAILURE EVALUATION\n");
    log("   Evaluation Start: %lld\n", static_cast<long long>(s.endPosition));
    log("   Evaluation End: %lld\n", static_cast<long long>(s.end));
    log("   Number of samples: %d\n", samples);
    log("   Number of failures: %d\n", failures);
    log("   Failure rate in this sweep section: %f%%\n", failures * 100.0 / samples);
    log("\n   ***** PROBING COMPLETE *****\n\n");
    return true;
}

void SurfaceScan::logPending(const char* heading) {
    if (!pending_.empty()) {
        log("%s", heading);
        for (const std::string& text : pending_) {
            log("%s\n", text.c_str());
        }
    }
    log("\n");
    pending_.clear();
}

void SurfaceScan::closeSection(int index, Wording wording) {
    DiskContext& disk = *controller_.disk();
    ScanSection& s = disk.sections[static_cast<size_t>(index)];
    bool limited = wording == Wording::Limited;
    bool writeRecords = normal_ && !limited;
    auto start = static_cast<long long>(s.start);
    auto end = static_cast<long long>(s.end);

    if (section_.lastReadGood) {
        s.endPosition = s.start + disk.position;
        s.endReadIndex = static_cast<int>(disk.readCount);
        if (s.clean == 0) {
            log(limited ? "\n   Scan passed(I) - Start Byte: %lld End Byte: %lld Index: %d\n"
                        : "   Scan Passed(I) - Start Byte: %lld End Byte: %lld Index: %d\n",
                start, end, index);
            logPending("   PASSING SCAN HAS IRREGULARITIES:\n");
        } else {
            log("   Scan passed - Start Byte: %lld End Byte: %lld Index: %d\n\n", start, end,
                index);
        }
        processStatData(disk, index, times_, disk.readCount, section_.minimum, section_.maximum,
                        section_.sum);
        if (writeRecords &&
            !appendTo(dataFile_, "I:%d MN:%f MX:%f MXP:%lld A:%f S:%f T:%f O:%d E:%d OC:%d EC:%d\n",
                      index, s.minTime, s.maxTime, static_cast<long long>(s.maxTimePosition),
                      s.avgTime, s.stdDev, s.totalTime, s.clean, s.passed, s.irregularityCount,
                      s.errorCount)) {
            recordWriteFailed_ = dataFile_;
        }
        return;
    }

    if (s.clean == 0) {
        logPending("   FAILED SCAN ALSO HAS IRREGULARITIES:\n");
    } else {
        log("Scan FAILED - Start Byte: %lld End Byte: %lld Index: %d\n", start, end, index);
    }
    processStatData(disk, index, times_, disk.readCount, section_.minimum, section_.maximum,
                    section_.sum);
    // Counted here unless the probe sweep or the repair has counted it.
    if (!section_.errorCounted) {
        disk.surfaceErrors += 1;
        s.errorCount += 1;
        disk.totalErrors += 1;
    }
    if (writeRecords &&
        !appendTo(dataFile_, "I:%d MN:%f MX:%f MXP:%lld A:N/A S:N/A T:%f O:%d E:%d OC:%d EC:%d\n",
                  index, s.minTime, s.maxTime, static_cast<long long>(s.maxTimePosition),
                  s.totalTime, s.clean, s.passed, s.irregularityCount, s.errorCount)) {
        recordWriteFailed_ = dataFile_;
    }
    controller_.updateGUI();
    if (limited) {
        controller_.updateErrorCount();
    }
}

int SurfaceScan::logSectionVerdicts(int first, int last) {
    DiskContext& disk = *controller_.disk();
    first = std::max(first, 0);
    last = std::min(last, sectionCount() - 1);
    auto line = [&](const ScanSection& s) {
        log("   Start: %-14lld   End: %-14lld   Index: %d\n", static_cast<long long>(s.start),
            static_cast<long long>(s.end), s.index);
    };
    int failed = 0;
    log("\nThe following subsections PASSED surface scanning tests:\n\n");
    for (int i = first; i <= last; ++i) {
        if (disk.sections[static_cast<size_t>(i)].passed == 1) {
            line(disk.sections[static_cast<size_t>(i)]);
        }
    }
    log("\nThe following scan sections ***FAILED*** surface scanning tests:\n\n");
    for (int i = first; i <= last; ++i) {
        if (disk.sections[static_cast<size_t>(i)].passed == 0) {
            line(disk.sections[static_cast<size_t>(i)]);
            ++failed;
        }
    }
    if (failed == 0) {
        log("   THERE WERE NO FAILURES DETECTED IN THIS TEST.\n");
    } else {
        log("\nTHERE WERE A TOTAL OF %d SCAN SECTIONS EVALUATED, AND %d HAD FAILURES.\n\n",
            std::max(last - first + 1, 0), failed);
    }
    return failed;
}

bool SurfaceScan::finishScan() {
    DiskContext& disk = *controller_.disk();
    controller_.setSurfacePercentDone(1.0);
    stopSpinner();
    controller_.updateGUI();

    logSectionVerdicts(0, sectionCount() - 1);
    processSummaryData(disk);
    disk.surfaceLinearRPI = disk.surfaceSummary[2];
    disk.surfaceRatioRPI = std::log10(disk.surfaceSummary[7]);
    if (normal_ && !(appendTo(dataFile_, "\nRPISSLIN: %f\n", disk.surfaceLinearRPI) &&
                     appendTo(dataFile_, "RPISSRAT: %f\n\n", disk.surfaceRatioRPI))) {
        recordWriteFailed_ = dataFile_;
    }
    log("\n\nSurface Scan Relative Performance Indices\n\n");
    log("   Surface Scan Linear RPI: %f\n", disk.surfaceLinearRPI);
    log("   Surface Scan Ratio RPI: %f\n", disk.surfaceRatioRPI);
    std::string stamp = getTimeStamp(host_.env());
    log("\nEND OF SURFACE SCAN TEST: %s\n\n", stamp.c_str());
    log("%s\n", std::string(79, '-').c_str());
    if (normal_ && recordWriteFailed_.empty() &&
        !(appendTo(dataFile_, "Surface Scan Complete\n\n") && appendEndOfFileTo(dataFile_))) {
        recordWriteFailed_ = dataFile_;
    }
    endRun();
    return recordWriteFailed_.empty();
}

void SurfaceScan::terminate(const std::string& stamp, Wording wording) {
    stopSpinner();
    log(wording == Wording::Limited ? "\nLimited Surface Scan Terminated by User at: %s\n\n"
                                    : "\nSurface Scan Terminated by User at: %s\n\n",
        stamp.c_str());
    endRun();
    host_.resetButtons();
}

SurfaceScan::StopDecision SurfaceScan::runStopProtocol(const std::string& dataFile,
                                                       const char* dataFileLine,
                                                       bool enableSystemItems, std::string* stamp) {
    if (logFile_.empty()) {
        logFile_ = Logger::charLogFileNameAndPath();
    }
    return stopProtocol(host_.scanOptions().normalScan, dataFile, dataFileLine, enableSystemItems,
                        stamp);
}

SurfaceScan::StopDecision SurfaceScan::stopProtocol(bool normal, const std::string& dataFile,
                                                    const char* dataFileLine,
                                                    bool enableSystemItems, std::string* stamp) {
    auto call = [](const std::function<void(const std::string&)>& hook, const std::string& prefix) {
        if (hook) {
            hook(prefix);
        }
    };
    for (;;) {
        std::string now = getTimeStamp(host_.env());
        if (stamp != nullptr) {
            *stamp = now;
        }
        // A unit that went away is saved as stopped without asking: nothing
        // else can be done with it now, and the next start resumes it.
        const bool gone = controller_.unitGone();
        if (gone) {
            log(normal ? "\n%s: the test is saved as stopped and resumes at the next normal "
                         "test.\n"
                       : "\n%s: the test ends here.\n",
                ScanController::kUnitGoneText);
        }
        int answer = gone ? 1
                          : MessageCenter::generateAlertDialogWithNumber(
                                normal ? kStopQuestionNormal : kStopQuestionCursory);
        if (answer == 0) {
            if (normal) {
                host_.resumeTest(true);
            } else {
                host_.resumeTest(false);
            }
            controller_.setStopFlag(false);
            return StopDecision::Resume;
        }
        if (!normal) {
            return StopDecision::Terminate;
        }
        std::string prefix = controller_.filePrefix();
        if (answer == 1) {
            // Save: the file stays incomplete so that a later normal scan
            // offers to resume it. The backups go only once the file has
            // its last lines: a file that could not take them is undone
            // with the rest of the test, as any other write that failed.
            if (appendTo(dataFile, "%s", dataFileLine != nullptr ? dataFileLine : "") &&
                appendEndOfFileTo(dataFile)) {
                call(store_.deleteCurrentBackupFilesWithFilePrefix, prefix);
            } else {
                recordWriteFailed_ = dataFile;
            }
        } else if (answer == -1) {
            int second = MessageCenter::generateAlertDialogWithNumber(kDontSaveQuestion);
            if (second == 1) {
                continue; // "Go Back": ask the stop question again.
            }
            if (second == -1) {
                call(store_.restorePreviousTestFilesWithFilePrefix, prefix);
            } else if (second == 0) {
                call(store_.deleteAllFilesWithFilePrefix, prefix);
            }
        }
        // However a normal scan ends here, the system services it turned off
        // must come back on: the sequence that ran it ends at once.
        if (enableSystemItems) {
            host_.enableSystemItemsFromScanController();
        }
        return StopDecision::Terminate;
    }
}

void processStatData(DiskContext& disk, int index, const std::vector<int64_t>& times, int64_t n,
                     int64_t minimum, int64_t maximum, int64_t sum) {
    ScanSection& s = disk.sections[static_cast<size_t>(index)];
    s.minTime = static_cast<double>(minimum) / 1e6;
    s.maxTime = static_cast<double>(maximum) / 1e6;
    s.totalTime = static_cast<double>(sum) / 1e6;
    n = std::min<int64_t>(n, static_cast<int64_t>(times.size()));
    if (n <= 0) {
        // No good read (a section whose first read failed, or one too short
        // to read): no mean to speak of.
        s.avgTime = 0;
        s.stdDev = 0;
        return;
    }
    s.avgTime = s.totalTime / static_cast<double>(n);
    double squares = 0;
    for (int64_t i = 0; i < n; ++i) {
        double d = static_cast<double>(times[static_cast<size_t>(i)]) / 1e6 - s.avgTime;
        squares += d * d / static_cast<double>(n);
    }
    s.stdDev = std::sqrt(squares);
}

void processSummaryData(DiskContext& disk) {
    double sumMin = 0;
    double sumMax = 0;
    double sumTotal = 0;
    double sumAvg = 0;
    double sumStd = 0;
    double smallest = 10000.0;
    double largest = 0;
    size_t n = std::min(static_cast<size_t>(std::max(disk.sectionCount, 0)), disk.sections.size());
    for (size_t i = 0; i < n; ++i) {
        const ScanSection& s = disk.sections[i];
        sumMin += s.minTime;
        sumMax += s.maxTime;
        sumTotal += s.totalTime;
        sumAvg += s.avgTime;
        sumStd += s.stdDev;
        if (s.minTime < smallest) {
            smallest = s.minTime;
        }
        if (s.maxTime > largest) {
            largest = s.maxTime;
        }
    }
    auto& out = disk.surfaceSummary;
    double count = n > 0 ? static_cast<double>(n) : 1.0;
    out[0] = sumMin / count;
    out[1] = sumMax / count;
    out[2] = sumTotal / count;
    out[3] = sumAvg / count;
    out[4] = sumStd / count;
    out[5] = smallest;
    out[6] = largest;
    // Readings below the clock's resolution count as one tick, so that a
    // very fast unit gives a finite ratio rather than a division by zero.
    out[7] =
        n > 0 ? std::max(largest, kClockResolution) / std::max(smallest, kClockResolution) : 1.0;
}

} // namespace tolvarin
