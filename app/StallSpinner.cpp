#include "app/StallSpinner.h"

#include "base/Clock.h"
#include "platform/System.h"

#include <system_error>
#include <utility>

namespace tolvarin {

StallSpinner::StallSpinner(const Clock& clock, std::function<bool()> underTest,
                           std::function<void(bool)> animate)
    : clock_(clock), underTest_(std::move(underTest)), animate_(std::move(animate)) {}

StallSpinner::~StallSpinner() {
    stop();
}

void StallSpinner::start() {
    std::lock_guard<std::mutex> lock(threadMutex_);
    if (active_.load()) {
        return;
    }
    // A watcher stopped earlier has ended; collect it before starting anew.
    if (thread_.joinable()) {
        thread_.join();
    }
    active_.store(true);
    try {
        thread_ = std::thread([this] { watch(); });
    } catch (const std::system_error& e) {
        active_.store(false);
        System::consoleLog(std::string("Stall spinner not started: ") + e.what());
    }
}

void StallSpinner::stop() {
    std::thread watcher;
    {
        std::lock_guard<std::mutex> lock(threadMutex_);
        {
            std::lock_guard<std::mutex> wakeLock(wakeMutex_);
            active_.store(false);
        }
        wake_.notify_all();
        watcher = std::move(thread_);
    }
    // The watcher wakes from its sleep at once; joining replaces the fixed
    // wait a detached watcher needed.
    if (watcher.joinable() && watcher.get_id() != std::this_thread::get_id()) {
        watcher.join();
    }
    setAnimating(false);
}

void StallSpinner::setAnimating(bool value) {
    if (animating_.exchange(value) != value && animate_) {
        animate_(value);
    }
}

void StallSpinner::pause(int64_t micros) {
    std::unique_lock<std::mutex> lock(wakeMutex_);
    clock_.waitFor(micros, wake_, lock, [this] { return !active_.load(); });
}

void StallSpinner::watch() {
    int64_t seen = location_.load();
    while (active_.load()) {
        if (!underTest_ || !underTest_()) {
            pause(kIdleMicros);
            continue;
        }
        pause(kStallMicros);
        if (!active_.load()) {
            break;
        }
        int64_t now = location_.load();
        if (now != seen) {
            seen = now;
            continue;
        }
        setAnimating(true);
        while (active_.load() && location_.load() == seen) {
            pause(kPollMicros);
        }
        seen = location_.load();
        setAnimating(false);
    }
}

} // namespace tolvarin
