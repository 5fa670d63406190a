#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

namespace tolvarin {

// The scan engine's clock: microsecond wall-clock readings as signed 64-bit
// integers, their conversion to seconds, and the text stamps of logs and data
// files. The time source and the sleep used by pause loops are replaceable so
// that tests can run timed scans on a fake clock without waiting.

// Current time in microseconds since the epoch, from the installed source.
int64_t getTimeInLongLong();
// Microseconds to seconds.
double convertLongLongTimeToDecimal(int64_t micros);
// end - start in seconds, each converted on its own as the timing code always did.
double convertTimeDeltaToDecimal(int64_t start, int64_t end);

// "hh:mm:ss" of a moment in local time.
std::string getTime(time_t moment);
// "Sun. Dec.  6, 2026": the ctime layout, blank-padded day kept.
std::string getDate(time_t moment);

// Size a caller's buffer must have for getTimeStamp: 28 characters and the
// terminator.
constexpr std::size_t kTimeStampBufferSize = 29;
// Writes getTime(now) + ", " + getDate(now) into buffer (at least
// kTimeStampBufferSize bytes) and answers buffer.
char* getTimeStamp(char* buffer);
// The same stamp as a string.
std::string getTimeStamp();

// The time source: a function answering microseconds since the epoch. The
// default is the system wall clock. Safe to swap while other threads read.
using TimeSource = std::function<int64_t()>;
void setTimeSource(TimeSource source);
void resetTimeSource();

// The sleep of pause loops, in microseconds. The default really sleeps; a
// fake clock advances its time instead.
using SleepFunction = std::function<void(int64_t micros)>;
void clockSleepMicroseconds(int64_t micros);
void setSleepFunction(SleepFunction sleeper);
void resetSleepFunction();

} // namespace tolvarin
