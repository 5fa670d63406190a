#pragma once

#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>

namespace tolvarin {

// The clock of the program: wall-clock readings (microseconds since the
// epoch, for time stamps only), readings of a clock that never steps back
// (for every duration: a wall clock stepped by NTP or by hand must not make
// a read look negative or an hour long), and the sleep of pause loops. It is
// an object handed to whoever measures time, so that tests hand in a fake
// one and a 0.7 s read costs no wall time.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual int64_t wallMicros() const = 0;
    virtual int64_t monotonicMicros() const = 0;
    virtual void sleepMicros(int64_t micros) const = 0;
    // Waits up to micros, or until cv is notified and done() holds; lock is
    // held on entry and on return. A watcher that must end at once when
    // told waits this way instead of sleeping. A fake clock sleeps its own
    // way instead.
    virtual void waitFor(int64_t micros, std::condition_variable& cv,
                         std::unique_lock<std::mutex>& lock,
                         const std::function<bool()>& done) const;

    // The process's own clock.
    static const Clock& system();
};

// Wall-clock time in microseconds since the epoch.
int64_t getTimeInLongLong(const Clock& clock);
// Microseconds to seconds.
double convertLongLongTimeToDecimal(int64_t micros);
// end - start in seconds, each converted on its own as the timing code always did.
double convertTimeDeltaToDecimal(int64_t start, int64_t end);

// "hh:mm:ss" of a moment in local time.
std::string getTime(time_t moment);
// "Sun. Dec.  6, 2026": the ctime layout, blank-padded day kept.
std::string getDate(time_t moment);
// The second a wall-clock reading falls in.
time_t secondsOf(int64_t wallMicros);

// Size a caller's buffer must have for getTimeStamp: 28 characters and the
// terminator.
constexpr std::size_t kTimeStampBufferSize = 29;
// Writes getTime(now) + ", " + getDate(now) into buffer (at least
// kTimeStampBufferSize bytes) and answers buffer.
char* getTimeStamp(char* buffer, const Clock& clock);
// The same stamp as a string.
std::string getTimeStamp(const Clock& clock);

} // namespace tolvarin
