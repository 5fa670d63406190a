#include "base/Clock.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

namespace tolvarin {

namespace {

class SystemClock : public Clock {
  public:
    int64_t wallMicros() const override {
        using namespace std::chrono;
        return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    }
    int64_t monotonicMicros() const override {
        using namespace std::chrono;
        return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
    }
    void sleepMicros(int64_t micros) const override {
        if (micros > 0) {
            std::this_thread::sleep_for(std::chrono::microseconds(micros));
        }
    }
};

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

} // namespace

void Clock::waitFor(int64_t micros, std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                    const std::function<bool()>& done) const {
    cv.wait_for(lock, std::chrono::microseconds(std::max<int64_t>(micros, 0)), done);
}

const Clock& Clock::system() {
    static const SystemClock clock;
    return clock;
}

int64_t getTimeInLongLong(const Clock& clock) {
    return clock.wallMicros();
}

time_t secondsOf(int64_t micros) {
    // Floor, so that a moment just before the epoch is not rounded up.
    int64_t seconds = micros / 1000000;
    if (micros % 1000000 < 0) {
        --seconds;
    }
    return static_cast<time_t>(seconds);
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

std::string getTimeStamp(const Clock& clock) {
    time_t now = secondsOf(clock.wallMicros());
    return getTime(now) + ", " + getDate(now);
}

char* getTimeStamp(char* buffer, const Clock& clock) {
    if (buffer == nullptr) {
        return nullptr;
    }
    // Years past 9999 would not fit; the stamp is cut, never overrun.
    std::snprintf(buffer, kTimeStampBufferSize, "%s", getTimeStamp(clock).c_str());
    return buffer;
}

} // namespace tolvarin
