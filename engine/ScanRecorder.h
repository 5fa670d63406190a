#pragma once

#include "base/LatencyHistogram.h"
#include "base/PictureData.h"
#include "base/SurfaceMap.h"
#include "base/TestMeasurements.h"
#include "engine/SurfaceReadSink.h"
#include "platform/DeviceActivity.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tolvarin {

class Env;
struct DiskContext;

// The surface map as a scan draws it, for a face to show while the scan
// runs. The scan thread publishes into it without ever waiting (a publish
// the reader holds up is left for the next one); a reader copies it out.
class LiveSurfaceMap {
  public:
    // The map as last published, with the reading position as it is now.
    SurfaceMapPicture snapshot() const;
    // Whether a surface scan has published a layout since the last clear.
    bool active() const;
    // How many publishes so far: a face redraws when it changed.
    uint64_t generation() const { return generation_.load(std::memory_order_relaxed); }

    // --- the scan thread ---
    void start(const SurfaceMap& map, const std::string& title);
    void clear();
    // Copies the stretches first..last; false when a reader held the map
    // (nothing copied: the caller keeps them dirty).
    bool tryPublish(const std::vector<Stretch>& stretches, int first, int last);
    void setPosition(int64_t offset) { position_.store(offset, std::memory_order_relaxed); }
    // A test that read to its end: no stretch is framed any more (a stopped
    // test keeps the frame where it will resume).
    void readingDone() {
        position_.store(-1, std::memory_order_relaxed);
        generation_.fetch_add(1, std::memory_order_relaxed);
    }

  private:
    mutable std::mutex mutex_;
    SurfaceMapPicture picture_;
    bool active_ = false;
    std::atomic<int64_t> position_{-1};
    std::atomic<uint64_t> generation_{0};
};

// What a test measures beyond the designed files, recorded at the reads
// the scans already time: the latency histograms of the surface reads and
// of the seek round trips, the surface map (per stretch: rate, fastest,
// median and slowest read, latency class), the reads taken while other I/O
// hit the unit (doubtful), the unit's S.M.A.R.T. attributes before and after
// the test, and how the unit is attached. The scan controller holds one; the
// scans call it on the scan thread. Idle (every call returns at once) until
// a test begins, and after setEnabled(false).
class ScanRecorder final : public SurfaceReadSink {
  public:
    // A read at least this slow is followed by a look at the unit's I/O
    // counters at once; faster ones are looked at every kSampleEvery reads.
    static constexpr int64_t kSampleAfterMicros = 5000;
    static constexpr int kSampleEvery = 16;
    // A read at least this slow taken during other I/O is listed as doubtful.
    static constexpr int64_t kDoubtfulMicros = 50000;
    // The live map is published at least every this many reads.
    static constexpr int kPublishEvery = 64;

    struct TestStart {
        std::string kind; // normal, cursory, limited
        std::string device;
        std::string filePrefix; // empty: the unit has no stored files
        std::string dataDirectory;
        bool readSmart = false; // the unit reports S.M.A.R.T.
        // What smartctl is asked about; by default the whole disk of a
        // block device (nothing for an image file).
        std::string smartDevice;
        std::string startStamp;
    };
    struct TestEnd {
        std::string outcome; // completed, stopped, saved
        bool keep = false;   // write the measurements next to the unit's files
        bool initialScan = false;
        int surfaceErrors = 0;
        int surfaceIrregularities = 0;
        int seekErrors = 0;
        int seekIrregularities = 0;
        int totalErrors = 0;
        int totalIrregularities = 0;
        std::array<std::optional<double>, 4> indices;
        std::string endStamp;
    };

    explicit ScanRecorder(Env& env);
    ScanRecorder(const ScanRecorder&) = delete;
    ScanRecorder& operator=(const ScanRecorder&) = delete;

    // Off: nothing is recorded (the benchmark's reference run).
    void setEnabled(bool on) { enabled_ = on; }
    bool enabled() const { return enabled_; }
    // How the unit's I/O counters are opened (tests hand in made-up ones).
    using ActivityOpener =
        std::function<std::unique_ptr<DeviceActivity>(const std::string& device, std::string* why)>;
    void setActivityOpener(ActivityOpener opener) { activityOpener_ = std::move(opener); }

    // --- the test ---------------------------------------------------------
    // A test begins: what it is, the unit's attachment and S.M.A.R.T.
    // attributes. Drops what an earlier test left.
    void beginTest(const TestStart& start);
    bool testUnderWay() const { return underWay_; }
    // The test ends: the attributes again, the counts, indices and verdict,
    // for a complete normal test the change against the unit's baseline,
    // and (keep) the record written next to the unit's files. A second call
    // answers the record of the first.
    std::shared_ptr<const TestMeasurements> finishTest(const TestEnd& end);
    // The last finished record (null before the first).
    std::shared_ptr<const TestMeasurements> finished() const { return finished_; }

    // --- the surface scan (scan thread) -----------------------------------
    // The map's layout from the section table (kept when this test already
    // made one of the same layout) and the watch on the unit's I/O.
    void surfaceBegins(const DiskContext& disk) override;
    // A section is about to be read: a fresh look at the unit's counters,
    // so that what happened between sections (a repair, a pause) counts
    // for nobody.
    void sectionBegins() override;
    void readTimed(int64_t offset, int64_t length, int64_t micros, bool failed) override {
        if (!surfaceOn_) {
            return;
        }
        if (offset < currentStart_ || offset >= currentEnd_) {
            if (!locate(offset)) {
                return;
            }
        }
        record(offset, micros, length, !failed);
    }
    void probed(int64_t offset, bool failed) override;
    // Slow reads of the section taken during other I/O since the last call.
    int sectionEnds() override;
    // The scan is over (ended or stopped): the live map gets its last state.
    void surfaceEnds() override;

    // --- the seek scan ------------------------------------------------------
    // The durations of one pair's timed cycles, each tripsPerCycle round
    // trips.
    void seekCycles(const std::vector<int64_t>& cycleMicros, int tripsPerCycle);

    // --- for the faces -------------------------------------------------------
    const std::shared_ptr<LiveSurfaceMap>& liveMap() const { return live_; }
    // Bytes held by the map, its sketches and the histograms.
    size_t memoryBytes() const;

  private:
    using Sketch = std::array<uint32_t, LatencyHistogram::kBuckets>;

    bool locate(int64_t offset);
    void record(int64_t offset, int64_t micros, int64_t bytes, bool ok);
    void closeWindow(int64_t offset, int64_t micros, bool judge);
    void publish();
    SmartReading readSmart();
    void finishMap();

    Env& env_;
    bool enabled_ = true;
    ActivityOpener activityOpener_;
    bool underWay_ = false;
    TestStart start_;
    std::unique_ptr<TestMeasurements> m_;
    std::shared_ptr<const TestMeasurements> finished_;
    std::string smartDevice_;

    // Surface state, scan thread only.
    bool surfaceOn_ = false;
    std::vector<Sketch> sketches_;
    int current_ = -1;
    int64_t currentStart_ = 0;
    int64_t currentEnd_ = 0;
    // The current stretch and its sketch, found once per stretch rather than
    // through the map at every read (set with current_; the tables keep
    // their size for the whole surface scan).
    Stretch* currentStretch_ = nullptr;
    Sketch* currentSketch_ = nullptr;
    int dirtyFirst_ = -1;
    int dirtyLast_ = -1;
    int sincePublish_ = 0;
    int sectionDoubtful_ = 0;

    // The watch on other I/O.
    std::unique_ptr<DeviceActivity> activity_;
    IoCounters last_;
    bool haveLast_ = false;
    int windowReads_ = 0;
    int64_t windowSectors_ = 0;

    std::shared_ptr<LiveSurfaceMap> live_ = std::make_shared<LiveSurfaceMap>();
};

} // namespace tolvarin
