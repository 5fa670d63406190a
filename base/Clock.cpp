#include "base/Clock.h"

#include "platform/System.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

namespace tolvarin {

namespace {

// Readers take a snapshot of the installed function, so a source swapped by
// another thread stays alive until every caller that picked it up is done.
template <typename F> class Replaceable {
  public:
    explicit Replaceable(F fallback) : fallback_(std::move(fallback)) { reset(); }
    std::shared_ptr<const F> get() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return current_;
    }
    void set(F f) {
        auto next = std::make_shared<const F>(f ? std::move(f) : fallback_);
        std::lock_guard<std::mutex> lock(mutex_);
        current_ = std::move(next);
    }
    void reset() { set(fallback_); }

  private:
    F fallback_;
    mutable std::mutex mutex_;
    std::shared_ptr<const F> current_;
};

Replaceable<TimeSource>& timeSource() {
    static Replaceable<TimeSource> source([] { return System::wallClockMicros(); });
    return source;
}

Replaceable<SleepFunction>& sleeper() {
    static Replaceable<SleepFunction> s([](int64_t micros) {
        if (micros > 0) {
            std::this_thread::sleep_for(std::chrono::microseconds(micros));
        }
    });
    return s;
}

// The C library's names, so the stamps read the same in every locale.
const char* const kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool localParts(time_t moment, struct tm& parts) {
    if (::localtime_r(&moment, &parts) == nullptr) {
        return false;
    }
    return parts.tm_wday >= 0 && parts.tm_wday < 7 && parts.tm_mon >= 0 && parts.tm_mon < 12;
}

time_t nowSeconds() {
    int64_t micros = getTimeInLongLong();
    // Floor, so that a moment just before the epoch is not rounded up.
    int64_t seconds = micros / 1000000;
    if (micros % 1000000 < 0) {
        --seconds;
    }
    return static_cast<time_t>(seconds);
}

} // namespace

int64_t getTimeInLongLong() {
    return (*timeSource().get())();
}

double convertLongLongTimeToDecimal(int64_t micros) {
    return static_cast<double>(micros) / 1e6;
}

double convertTimeDeltaToDecimal(int64_t start, int64_t end) {
    return static_cast<double>(end) / 1e6 - static_cast<double>(start) / 1e6;
}

std::string getTime(time_t moment) {
    struct tm parts {};
    if (!localParts(moment, parts)) {
        return "00:00:00";
    }
    char text[16];
    std::snprintf(text, sizeof(text), "%02d:%02d:%02d", parts.tm_hour, parts.tm_min, parts.tm_sec);
    return text;
}

std::string getDate(time_t moment) {
    struct tm parts {};
    if (!localParts(moment, parts)) {
        return "???. ???.  0, 0000";
    }
    // ctime pads the day with a blank ("Dec  6"); the date keeps it.
    char text[48];
    std::snprintf(text, sizeof(text), "%s. %s. %2d, %d", kWeekdays[parts.tm_wday],
                  kMonths[parts.tm_mon], parts.tm_mday, parts.tm_year + 1900);
    return text;
}

std::string getTimeStamp() {
    time_t now = nowSeconds();
    return getTime(now) + ", " + getDate(now);
}

char* getTimeStamp(char* buffer) {
    if (buffer == nullptr) {
        return nullptr;
    }
    // Years past 9999 would not fit; the stamp is cut, never overrun.
    std::snprintf(buffer, kTimeStampBufferSize, "%s", getTimeStamp().c_str());
    return buffer;
}

void setTimeSource(TimeSource source) {
    timeSource().set(std::move(source));
}

void resetTimeSource() {
    timeSource().reset();
}

void clockSleepMicroseconds(int64_t micros) {
    (*sleeper().get())(micros);
}

void setSleepFunction(SleepFunction s) {
    sleeper().set(std::move(s));
}

void resetSleepFunction() {
    sleeper().reset();
}

} // namespace tolvarin
