#include "engine/ScanRecorder.h"

#include "base/BaselineComparison.h"

#include "base/Clock.h"
#include "engine/DiskContext.h"
#include "platform/Env.h"
#include "platform/PosixRawDevice.h"
#include "platform/SystemTools.h"
#include "store/MeasurementFile.h"
#include "unitprobe/SmartAttributes.h"

#include <algorithm>

namespace tolvarin {

namespace {

constexpr int64_t kStatSector = 512; // the unit of the kernel's I/O counters

std::string verdictFor(int errors, int irregularities) {
    return errors > 0 ? "FAILED" : irregularities > 0 ? "PASSED WITH IRREGULARITIES" : "PASSED";
}

MapCell cellOf(const Stretch& s) {
    MapCell cell;
    cell.start = s.start;
    cell.end = s.end;
    cell.latency = s.latencyClass();
    cell.doubtful = s.slowestDoubtful;
    return cell;
}

} // namespace

// --- the live map --------------------------------------------------------------

SurfaceMapPicture LiveSurfaceMap::snapshot() const {
    SurfaceMapPicture copy;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        copy = picture_;
    }
    copy.position = position_.load(std::memory_order_relaxed);
    return copy;
}

bool LiveSurfaceMap::active() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return active_;
}

void LiveSurfaceMap::start(const SurfaceMap& map, const std::string& title) {
    SurfaceMapPicture fresh;
    fresh.title = title;
    fresh.unitSize = map.unitSize();
    fresh.cells.reserve(map.stretches().size());
    for (const Stretch& s : map.stretches()) {
        fresh.cells.push_back(cellOf(s));
    }
    std::lock_guard<std::mutex> lock(mutex_);
    picture_ = std::move(fresh);
    active_ = true;
    generation_.fetch_add(1, std::memory_order_relaxed);
}

void LiveSurfaceMap::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    picture_ = SurfaceMapPicture{};
    active_ = false;
    position_.store(-1, std::memory_order_relaxed);
    generation_.fetch_add(1, std::memory_order_relaxed);
}

bool LiveSurfaceMap::tryPublish(const std::vector<Stretch>& stretches, int first, int last) {
    std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
    if (!lock.owns_lock()) {
        return false;
    }
    first = std::max(first, 0);
    last = std::min(last, static_cast<int>(std::min(stretches.size(), picture_.cells.size())) - 1);
    for (int i = first; i <= last; ++i) {
        picture_.cells[static_cast<size_t>(i)] = cellOf(stretches[static_cast<size_t>(i)]);
    }
    generation_.fetch_add(1, std::memory_order_relaxed);
    return true;
}

// --- the recorder ----------------------------------------------------------------

ScanRecorder::ScanRecorder(Env& env) : env_(env) {
    activityOpener_ = [](const std::string& device, std::string* why) {
        return DeviceActivity::forDevice(device, why);
    };
}

SmartReading ScanRecorder::readSmart() {
    SmartReading reading;
    if (!start_.readSmart) {
        reading.problem = "the unit does not report S.M.A.R.T. status";
        return reading;
    }
    if (smartDevice_.empty()) {
        reading.problem = "the unit is no disk that smartctl can ask";
        return reading;
    }
    std::vector<std::string> args(std::begin(SmartAttributes::kSmartctlOptions),
                                  std::end(SmartAttributes::kSmartctlOptions));
    args.push_back(smartDevice_);
    ProcessResult result = env_.runProcess(SystemTools::find("smartctl"), args);
    if (!result.started) {
        reading.problem = "smartctl could not be run: " + result.error;
        return reading;
    }
    return SmartAttributes::fromSmartctlJson(result.output);
}

void ScanRecorder::beginTest(const TestStart& start) {
    surfaceOn_ = false;
    activity_.reset();
    live_->clear();
    finished_.reset();
    underWay_ = enabled_;
    if (!enabled_) {
        return;
    }
    start_ = start;
    m_ = std::make_unique<TestMeasurements>();
    m_->kind = start.kind;
    m_->device = start.device;
    m_->filePrefix = start.filePrefix;
    m_->startWallMicros = env_.wallMicros();
    m_->startStamp = start.startStamp.empty() ? getTimeStamp(env_) : start.startStamp;
    m_->unit = describeUnit(start.device);
    smartDevice_ = start.smartDevice.empty() ? wholeDiskPath(start.device) : start.smartDevice;
    m_->smartBefore = readSmart();
    sketches_.clear();
}

void ScanRecorder::surfaceBegins(const DiskContext& disk) {
    if (!underWay_ || !m_) {
        return;
    }
    SurfaceMap map = SurfaceMap::forSections(disk.sections, disk.sectionCount, disk.deviceSize,
                                             disk.scanReadSize);
    // A test that scans its surface again (a resumed scan of the same test)
    // goes on filling the map it has.
    if (!m_->surfaceScanned || !m_->map.sameLayout(map)) {
        m_->map = std::move(map);
        sketches_.assign(m_->map.stretches().size(), Sketch{});
    }
    m_->surfaceScanned = true;
    current_ = -1;
    currentStart_ = currentEnd_ = 0;
    dirtyFirst_ = dirtyLast_ = -1;
    sincePublish_ = 0;
    sectionDoubtful_ = 0;

    // Other I/O can be told apart only when every read of the scan reaches
    // the unit itself: a read through the page cache may bring fewer
    // sectors or, read ahead, more.
    activity_.reset();
    const auto* posix = dynamic_cast<const PosixRawDevice*>(disk.device.get());
    if (posix != nullptr && !posix->isDirect()) {
        m_->activityNote = "the unit is read through the page cache, so other I/O on it cannot be "
                           "told apart";
    } else if (activityOpener_) {
        std::string why;
        activity_ = activityOpener_(start_.device, &why);
        if (!activity_) {
            m_->activityNote = why;
        }
    }
    m_->activityWatched = activity_ != nullptr || m_->activityWatched;
    haveLast_ = false;
    windowReads_ = 0;
    windowSectors_ = 0;

    live_->start(m_->map, "Surface map");
    surfaceOn_ = !m_->map.stretches().empty();
}

void ScanRecorder::sectionBegins() {
    if (!surfaceOn_ || !activity_) {
        return;
    }
    haveLast_ = activity_->sample(&last_);
    windowReads_ = 0;
    windowSectors_ = 0;
}

bool ScanRecorder::locate(int64_t offset) {
    int index = m_->map.stretchAt(offset);
    if (index < 0) {
        return false;
    }
    if (current_ >= 0) {
        dirtyLast_ = std::max(dirtyLast_, current_);
        publish();
    }
    Stretch& s = m_->map.stretches()[static_cast<size_t>(index)];
    current_ = index;
    currentStart_ = s.start;
    currentEnd_ = s.end;
    currentStretch_ = &s;
    currentSketch_ = &sketches_[static_cast<size_t>(index)];
    return true;
}

void ScanRecorder::record(int64_t offset, int64_t micros, int64_t bytes, bool ok) {
    Stretch& s = *currentStretch_;
    if (ok) {
        int bucket = LatencyHistogram::bucketOf(micros);
        m_->surfaceReads.addToBucket(bucket);
        ++(*currentSketch_)[static_cast<size_t>(bucket)];
        if (s.reads == 0 || micros < s.minMicros) {
            s.minMicros = micros;
        }
        if (s.reads == 0 || micros > s.maxMicros) {
            s.maxMicros = micros;
            s.slowestAt = offset;
            s.slowestDoubtful = false;
        }
        ++s.reads;
        s.bytes += bytes;
        s.sumMicros += micros;
        ++s.classCounts[static_cast<size_t>(latencyClassOf(micros))];
    } else {
        ++s.failedReads;
        ++s.classCounts[static_cast<size_t>(LatencyClass::unreadable)];
    }
    m_->lastPosition = offset;
    live_->setPosition(offset);
    if (dirtyFirst_ < 0 || current_ < dirtyFirst_) {
        dirtyFirst_ = current_;
    }
    dirtyLast_ = std::max(dirtyLast_, current_);

    if (activity_) {
        ++windowReads_;
        windowSectors_ += (std::max<int64_t>(bytes, 0) + kStatSector - 1) / kStatSector;
        if (!ok) {
            // A failed read may have moved sectors it did not hand over:
            // its window says nothing either way.
            haveLast_ = activity_->sample(&last_);
            windowReads_ = 0;
            windowSectors_ = 0;
        } else if (micros >= kSampleAfterMicros || windowReads_ >= kSampleEvery) {
            closeWindow(offset, micros, true);
        }
    }
    if (++sincePublish_ >= kPublishEvery) {
        publish();
    }
}

void ScanRecorder::closeWindow(int64_t offset, int64_t micros, bool judge) {
    IoCounters now;
    if (!activity_->sample(&now)) {
        m_->activityNote = "the unit's I/O counters could no longer be read";
        activity_.reset();
        return;
    }
    if (judge && haveLast_) {
        int64_t read = now.readSectors - last_.readSectors;
        int64_t written = now.writeSectors - last_.writeSectors;
        int64_t others = std::max<int64_t>(read - windowSectors_, 0);
        int64_t inFlight = std::max(now.inFlight, last_.inFlight);
        if (others > 0 || written > 0 || inFlight > 0) {
            Stretch& s = m_->map.stretches()[static_cast<size_t>(current_)];
            m_->readsDuringOtherIO += static_cast<uint64_t>(windowReads_);
            s.doubtfulReads += static_cast<uint32_t>(windowReads_);
            if (micros >= kDoubtfulMicros) {
                ++m_->doubtfulCount;
                ++sectionDoubtful_;
                if (m_->doubtful.size() < TestMeasurements::kMaximumDoubtful) {
                    m_->doubtful.push_back(
                        {offset, micros, others, std::max<int64_t>(written, 0), inFlight});
                }
                if (s.slowestAt == offset) {
                    s.slowestDoubtful = true;
                }
            }
        }
    }
    last_ = now;
    haveLast_ = true;
    windowReads_ = 0;
    windowSectors_ = 0;
}

void ScanRecorder::probed(int64_t offset, bool failed) {
    if (!surfaceOn_) {
        return;
    }
    int index = m_->map.stretchAt(offset);
    if (index < 0) {
        return;
    }
    Stretch& s = m_->map.stretches()[static_cast<size_t>(index)];
    ++s.probes;
    if (failed) {
        ++s.failedProbes;
    }
    dirtyFirst_ = dirtyFirst_ < 0 ? index : std::min(dirtyFirst_, index);
    dirtyLast_ = std::max(dirtyLast_, index);
    live_->setPosition(offset);
}

int ScanRecorder::sectionEnds() {
    int n = sectionDoubtful_;
    sectionDoubtful_ = 0;
    return n;
}

void ScanRecorder::publish() {
    sincePublish_ = 0;
    if (dirtyFirst_ < 0) {
        return;
    }
    if (live_->tryPublish(m_->map.stretches(), dirtyFirst_, dirtyLast_)) {
        dirtyFirst_ = dirtyLast_ = -1;
    }
}

void ScanRecorder::surfaceEnds() {
    if (!surfaceOn_) {
        return;
    }
    finishMap();
    live_->tryPublish(m_->map.stretches(), 0, static_cast<int>(m_->map.stretches().size()) - 1);
    dirtyFirst_ = dirtyLast_ = -1;
    surfaceOn_ = false;
    activity_.reset();
}

void ScanRecorder::finishMap() {
    std::vector<Stretch>& stretches = m_->map.stretches();
    for (size_t i = 0; i < stretches.size() && i < sketches_.size(); ++i) {
        Stretch& s = stretches[i];
        if (s.reads > 0) {
            auto median = static_cast<int64_t>(histogramQuantile(sketches_[i], 0.5) + 0.5);
            s.medianMicros = std::clamp(median, s.minMicros, s.maxMicros);
        }
    }
}

void ScanRecorder::seekCycles(const std::vector<int64_t>& cycleMicros, int tripsPerCycle) {
    if (!underWay_ || !m_ || tripsPerCycle <= 0) {
        return;
    }
    m_->seekScanned = true;
    for (int64_t micros : cycleMicros) {
        m_->seekRoundTrips.add(micros / tripsPerCycle);
    }
}

std::shared_ptr<const TestMeasurements> ScanRecorder::finishTest(const TestEnd& end) {
    if (!underWay_ || !m_) {
        return finished_;
    }
    surfaceEnds();
    if (end.outcome == "completed") {
        live_->readingDone();
    }
    TestMeasurements& m = *m_;
    m.outcome = end.outcome;
    m.initialScan = end.initialScan;
    m.endWallMicros = env_.wallMicros();
    m.endStamp = end.endStamp.empty() ? getTimeStamp(env_) : end.endStamp;
    m.surfaceErrors = end.surfaceErrors;
    m.surfaceIrregularities = end.surfaceIrregularities;
    m.seekErrors = end.seekErrors;
    m.seekIrregularities = end.seekIrregularities;
    m.totalErrors = end.totalErrors;
    m.totalIrregularities = end.totalIrregularities;
    m.indices = end.indices;
    m.verdict = end.outcome == "completed" ? verdictFor(end.totalErrors, end.totalIrregularities)
                                           : std::string();
    m.smartAfter = readSmart();
    m.smartChanges = smartChangesBetween(m.smartBefore, m.smartAfter);

    MeasurementArchive archive(start_.dataDirectory, start_.filePrefix);
    // Stated also where there is nothing to compare, so that no reader takes
    // a ratio of 0 for the rule.
    m.baseline.threshold = BaselineComparison::kSlowedRatio;
    if (m.kind == "normal" && m.outcome == "completed" && m.surfaceScanned) {
        if (m.initialScan) {
            m.baseline.note = "this test is the unit's baseline";
        } else if (archive.usable()) {
            m.baseline = archive.changeAgainstBaseline(m);
        }
    }
    if (end.keep) {
        std::string why;
        std::string path = archive.write(m, &why);
        m.notes.push_back(path.empty() ? "The measurements were not kept: " + why
                                       : "The measurements are kept in " + path);
    }
    finished_ = std::make_shared<const TestMeasurements>(std::move(m));
    m_.reset();
    sketches_.clear();
    sketches_.shrink_to_fit();
    // Nothing more is recorded into the tables just dropped.
    surfaceOn_ = false;
    current_ = -1;
    currentStart_ = currentEnd_ = 0;
    currentStretch_ = nullptr;
    currentSketch_ = nullptr;
    underWay_ = false;
    return finished_;
}

size_t ScanRecorder::memoryBytes() const {
    size_t bytes = sizeof(*this) + sketches_.capacity() * sizeof(Sketch);
    if (m_) {
        bytes += sizeof(TestMeasurements) + m_->map.memoryBytes() +
                 m_->doubtful.capacity() * sizeof(DoubtfulReading);
    }
    // The live copy: one cell per stretch.
    bytes += live_->snapshot().cells.capacity() * sizeof(MapCell) + sizeof(LiveSurfaceMap);
    return bytes;
}

} // namespace tolvarin
