#pragma once

#include "platform/RawDevice.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace tolvarin {

class FakeClock;

// A device for unit tests: an in-memory image of any size (stored sparsely,
// so a simulated 500 GB disk costs only the pages written) with injectable
// faults: ranges whose reads fail with EIO, seeks that fail, reads that take
// time on a FakeClock, short reads, a clock stepped back during a read, and
// a log of every write for repair tests. Ranges are half-open byte ranges
// [start, end); a read or write fails when its span overlaps a failing range.
//
// Several handles (sharedHandle) may look at one image, each with its own
// position: a test keeps one while the engine owns another.
class SimulatedDevice : public RawDevice {
  public:
    // How often a fault fires: kAlways, or that many times and then never
    // again (an intermittent problem).
    static constexpr int kAlways = -1;
    // A descriptor number tests can put in DiskContext::fd for this device.
    static constexpr int kDummyFd = 1000;

    explicit SimulatedDevice(int64_t size, uint8_t fill = 0);

    // Another handle on the same image and faults, positioned at 0.
    std::unique_ptr<SimulatedDevice> sharedHandle() const;

    // --- image ---
    int64_t size() const;
    void setContents(int64_t offset, const std::vector<uint8_t>& bytes);
    std::vector<uint8_t> contents(int64_t offset, int64_t length) const;
    // What reportedSize() answers (default: the image size; -1: unknown).
    void setReportedSize(int64_t bytes);
    void setLogicalBlockSize(int64_t bytes);
    void setReadOnly(bool readOnly);

    // --- faults ---
    void failReads(int64_t start, int64_t end, int times = kAlways);
    void failSeeks(int64_t start, int64_t end, int times = kAlways);
    void failWrites(int64_t start, int64_t end, int times = kAlways);
    // Reads overlapping the range advance the clock by micros (summed over
    // all matching ranges).
    void slowReads(int64_t start, int64_t end, int64_t micros);
    // Every read (every seek) advances the clock by micros.
    void setReadCost(int64_t micros);
    void setSeekCost(int64_t micros);
    // A read starting exactly at offset returns at most bytes.
    void shortReadAt(int64_t offset, int64_t bytes);
    // The first read overlapping offset steps the clock back by micros after
    // the read (the reading taken after it is earlier than the one before).
    void stepClockBackAt(int64_t offset, int64_t micros);
    // The clock the time faults move; none: time faults do nothing.
    void setClock(FakeClock* clock);

    // --- what happened ---
    struct WriteRecord {
        int64_t offset;
        std::vector<uint8_t> data;
    };
    std::vector<WriteRecord> writeLog() const;
    struct ReadRecord {
        int64_t offset;
        int64_t length;
        int64_t result;
    };
    // Read records are kept only while recording is on (scans read a lot).
    void setRecordReads(bool on);
    std::vector<ReadRecord> readLog() const;
    int64_t readCount() const;
    int64_t seekCount() const;
    int64_t position() const { return position_; }

    // --- RawDevice ---
    int64_t seek(int64_t offset) override;
    int64_t read(void* buffer, int64_t length) override;
    int64_t write(const void* buffer, int64_t length) override;
    int64_t reportedSize() const override;
    int64_t logicalBlockSize() const override;

  private:
    struct Fault {
        int64_t start;
        int64_t end;
        int remaining;  // kAlways or a count
        int64_t amount; // micros or bytes, where the kind needs one
    };
    struct State {
        mutable std::mutex mutex;
        int64_t size = 0;
        uint8_t fill = 0;
        int64_t reportedSize = 0;
        int64_t blockSize = 512;
        bool readOnly = false;
        std::map<int64_t, std::vector<uint8_t>> pages;
        std::vector<Fault> readFaults;
        std::vector<Fault> seekFaults;
        std::vector<Fault> writeFaults;
        std::vector<Fault> slowRanges;
        std::vector<Fault> shortReads;
        std::vector<Fault> stepBacks;
        int64_t readCost = 0;
        int64_t seekCost = 0;
        FakeClock* clock = nullptr;
        std::vector<WriteRecord> writes;
        bool recordReads = false;
        std::vector<ReadRecord> reads;
        int64_t readCount = 0;
        int64_t seekCount = 0;

        void copyOut(int64_t offset, int64_t length, uint8_t* out) const;
        void copyIn(int64_t offset, int64_t length, const uint8_t* in);
    };
    static constexpr int64_t kPageSize = 65536;
    static bool fires(std::vector<Fault>& faults, int64_t start, int64_t end);

    explicit SimulatedDevice(std::shared_ptr<State> state) : state_(std::move(state)) {}

    std::shared_ptr<State> state_;
    int64_t position_ = 0;
};

} // namespace tolvarin
