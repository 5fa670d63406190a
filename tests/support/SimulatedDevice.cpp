#include "tests/support/SimulatedDevice.h"

#include "tests/support/FakeClock.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tolvarin {

namespace {

bool overlaps(int64_t aStart, int64_t aEnd, int64_t bStart, int64_t bEnd) {
    return aStart < bEnd && bStart < aEnd;
}

} // namespace

SimulatedDevice::SimulatedDevice(int64_t size, uint8_t fill) : state_(std::make_shared<State>()) {
    state_->size = std::max<int64_t>(0, size);
    state_->fill = fill;
    state_->reportedSize = state_->size;
}

std::unique_ptr<SimulatedDevice> SimulatedDevice::sharedHandle() const {
    return std::unique_ptr<SimulatedDevice>(new SimulatedDevice(state_));
}

// --- image -------------------------------------------------------------------

void SimulatedDevice::State::copyOut(int64_t offset, int64_t length, uint8_t* out) const {
    while (length > 0) {
        int64_t page = offset / kPageSize;
        int64_t within = offset % kPageSize;
        int64_t n = std::min(length, kPageSize - within);
        auto it = pages.find(page);
        if (it == pages.end()) {
            std::memset(out, fill, static_cast<std::size_t>(n));
        } else {
            std::memcpy(out, it->second.data() + within, static_cast<std::size_t>(n));
        }
        out += n;
        offset += n;
        length -= n;
    }
}

void SimulatedDevice::State::copyIn(int64_t offset, int64_t length, const uint8_t* in) {
    while (length > 0) {
        int64_t page = offset / kPageSize;
        int64_t within = offset % kPageSize;
        int64_t n = std::min(length, kPageSize - within);
        auto it = pages.find(page);
        if (it == pages.end()) {
            it = pages.emplace(page, std::vector<uint8_t>(kPageSize, fill)).first;
        }
        std::memcpy(it->second.data() + within, in, static_cast<std::size_t>(n));
        in += n;
        offset += n;
        length -= n;
    }
}

int64_t SimulatedDevice::size() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->size;
}

void SimulatedDevice::setContents(int64_t offset, const std::vector<uint8_t>& bytes) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (offset < 0 || offset >= state_->size) {
        return;
    }
    int64_t n = std::min<int64_t>(static_cast<int64_t>(bytes.size()), state_->size - offset);
    state_->copyIn(offset, n, bytes.data());
}

std::vector<uint8_t> SimulatedDevice::contents(int64_t offset, int64_t length) const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (offset < 0 || length <= 0 || offset >= state_->size) {
        return {};
    }
    int64_t n = std::min(length, state_->size - offset);
    std::vector<uint8_t> out(static_cast<std::size_t>(n));
    state_->copyOut(offset, n, out.data());
    return out;
}

void SimulatedDevice::setReportedSize(int64_t bytes) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->reportedSize = bytes;
}

void SimulatedDevice::setLogicalBlockSize(int64_t bytes) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->blockSize = bytes;
}

void SimulatedDevice::setReadOnly(bool readOnly) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->readOnly = readOnly;
}

// --- faults ------------------------------------------------------------------

void SimulatedDevice::failReads(int64_t start, int64_t end, int times) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->readFaults.push_back({start, end, times, 0});
}

void SimulatedDevice::failSeeks(int64_t start, int64_t end, int times) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->seekFaults.push_back({start, end, times, 0});
}

void SimulatedDevice::failWrites(int64_t start, int64_t end, int times) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->writeFaults.push_back({start, end, times, 0});
}

void SimulatedDevice::slowReads(int64_t start, int64_t end, int64_t micros) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->slowRanges.push_back({start, end, kAlways, micros});
}

void SimulatedDevice::setReadCost(int64_t micros) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->readCost = micros;
}

void SimulatedDevice::setSeekCost(int64_t micros) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->seekCost = micros;
}

void SimulatedDevice::shortReadAt(int64_t offset, int64_t bytes) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->shortReads.push_back({offset, offset + 1, kAlways, bytes});
}

void SimulatedDevice::stepClockBackAt(int64_t offset, int64_t micros) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->stepBacks.push_back({offset, offset + 1, 1, micros});
}

void SimulatedDevice::setClock(FakeClock* clock) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->clock = clock;
}

bool SimulatedDevice::fires(std::vector<Fault>& faults, int64_t start, int64_t end) {
    for (Fault& f : faults) {
        if (f.remaining != 0 && overlaps(start, end, f.start, f.end)) {
            if (f.remaining > 0) {
                --f.remaining;
            }
            return true;
        }
    }
    return false;
}

// --- what happened -----------------------------------------------------------

std::vector<SimulatedDevice::WriteRecord> SimulatedDevice::writeLog() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->writes;
}

void SimulatedDevice::setRecordReads(bool on) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->recordReads = on;
}

std::vector<SimulatedDevice::ReadRecord> SimulatedDevice::readLog() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->reads;
}

int64_t SimulatedDevice::readCount() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->readCount;
}

int64_t SimulatedDevice::seekCount() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->seekCount;
}

// --- RawDevice ---------------------------------------------------------------

int64_t SimulatedDevice::seek(int64_t offset) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    State& s = *state_;
    ++s.seekCount;
    if (s.clock != nullptr && s.seekCost != 0) {
        s.clock->advance(s.seekCost);
    }
    if (offset < 0) {
        errno = EINVAL;
        return -1;
    }
    if (fires(s.seekFaults, offset, offset + 1)) {
        errno = EIO;
        return -1;
    }
    position_ = offset;
    return offset;
}

int64_t SimulatedDevice::read(void* buffer, int64_t length) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    State& s = *state_;
    ++s.readCount;
    int64_t start = position_;
    int64_t end = start + std::max<int64_t>(length, 0);

    int64_t delay = s.readCost;
    for (const Fault& f : s.slowRanges) {
        if (overlaps(start, end, f.start, f.end)) {
            delay += f.amount;
        }
    }
    if (s.clock != nullptr && delay != 0) {
        s.clock->advance(delay);
    }

    int64_t result;
    if (length < 0 || buffer == nullptr) {
        errno = EINVAL;
        result = -1;
    } else if (fires(s.readFaults, start, end)) {
        errno = EIO;
        result = -1;
    } else if (start >= s.size || length == 0) {
        result = 0;
    } else {
        result = std::min(length, s.size - start);
        for (const Fault& f : s.shortReads) {
            if (f.start == start) {
                result = std::min(result, std::max<int64_t>(f.amount, 0));
            }
        }
        s.copyOut(start, result, static_cast<uint8_t*>(buffer));
        position_ += result;
    }

    for (Fault& f : s.stepBacks) {
        if (f.remaining != 0 && overlaps(start, std::max(end, start + 1), f.start, f.end)) {
            f.remaining = 0;
            if (s.clock != nullptr) {
                s.clock->stepWall(-f.amount);
            }
        }
    }
    if (s.recordReads) {
        s.reads.push_back({start, length, result});
    }
    return result;
}

int64_t SimulatedDevice::write(const void* buffer, int64_t length) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    State& s = *state_;
    int64_t start = position_;
    if (s.readOnly) {
        errno = EBADF;
        return -1;
    }
    if (length < 0 || buffer == nullptr) {
        errno = EINVAL;
        return -1;
    }
    if (length == 0) {
        return 0;
    }
    if (start >= s.size) {
        errno = ENOSPC;
        return -1;
    }
    if (fires(s.writeFaults, start, start + length)) {
        errno = EIO;
        return -1;
    }
    int64_t n = std::min(length, s.size - start);
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    s.copyIn(start, n, bytes);
    s.writes.push_back({start, std::vector<uint8_t>(bytes, bytes + n)});
    position_ += n;
    return n;
}

int64_t SimulatedDevice::reportedSize() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->reportedSize;
}

int64_t SimulatedDevice::logicalBlockSize() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->blockSize;
}

} // namespace tolvarin
