#include "base/Clock.h"
#include "platform/System.h"
#include "tests/support/FakeClock.h"
#include "tests/support/TempDir.h"

#include <atomic>
#include <cstring>
#include <ctime>
#include <gtest/gtest.h>
#include <thread>

namespace tolvarin {

namespace {

// Local time is part of every stamp; pin it so expectations hold anywhere.
class ClockTest : public ::testing::Test {
  protected:
    ClockTest() : tz_("TZ", "UTC") { ::tzset(); }
    ~ClockTest() override { ::tzset(); }

    ScopedEnv tz_;
};

time_t utc(int year, int month, int day, int hour, int minute, int second) {
    struct tm parts {};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    return ::timegm(&parts);
}

} // namespace

TEST_F(ClockTest, ConversionsToSeconds) {
    EXPECT_DOUBLE_EQ(convertLongLongTimeToDecimal(1500000), 1.5);
    EXPECT_DOUBLE_EQ(convertLongLongTimeToDecimal(-250000), -0.25);
    EXPECT_DOUBLE_EQ(convertTimeDeltaToDecimal(1000000, 1600000), 0.6);
    // A clock stepped back gives a negative duration, which the scans repeat.
    EXPECT_LT(convertTimeDeltaToDecimal(2000000, 1999999), 0.0);
}

TEST_F(ClockTest, DateAndTimeFollowTheCtimeLayout) {
    time_t sixth = utc(2026, 12, 6, 18, 35, 54);
    EXPECT_EQ(getTime(sixth), "18:35:54");
    EXPECT_EQ(getDate(sixth), "Sun. Dec.  6, 2026");
    EXPECT_EQ(getDate(utc(2010, 1, 16, 0, 0, 0)), "Sat. Jan. 16, 2010");

    // The same characters ctime gives, whatever the moment.
    for (time_t t : {utc(1999, 2, 28, 23, 59, 59), utc(2031, 7, 1, 9, 5, 3)}) {
        char ct[32];
        ASSERT_NE(::ctime_r(&t, ct), nullptr);
        EXPECT_EQ(getTime(t), std::string(ct + 11, 8));
        std::string expected = std::string(ct, 3) + ". " + std::string(ct + 4, 3) + ". " +
                               std::string(ct + 8, 2) + ", " + std::string(ct + 20, 4);
        EXPECT_EQ(getDate(t), expected);
    }
}

TEST_F(ClockTest, TimeStampUsesTheGivenClockAndFitsItsBuffer) {
    FakeClock clock;
    clock.set(static_cast<int64_t>(utc(2026, 12, 6, 18, 35, 54)) * 1000000 + 999999);

    char buffer[kTimeStampBufferSize + 4];
    std::memset(buffer, '#', sizeof(buffer));
    EXPECT_EQ(getTimeStamp(buffer, clock), buffer);
    EXPECT_STREQ(buffer, "18:35:54, Sun. Dec.  6, 2026");
    EXPECT_EQ(std::strlen(buffer), kTimeStampBufferSize - 1);
    EXPECT_EQ(buffer[kTimeStampBufferSize], '#');
    EXPECT_EQ(getTimeStamp(clock), "18:35:54, Sun. Dec.  6, 2026");
    EXPECT_EQ(getTimeStamp(nullptr, clock), nullptr);
}

TEST_F(ClockTest, FakeClockMovesOnlyWhenToldAndAWallStepLeavesDurationsAlone) {
    FakeClock clock(5000000);
    EXPECT_EQ(getTimeInLongLong(clock), 5000000);
    clock.advance(700000);
    EXPECT_EQ(getTimeInLongLong(clock), 5700000);

    // An hour back on the wall clock: stamps follow it, durations do not.
    clock.stepWall(-3600LL * 1000000);
    EXPECT_EQ(getTimeInLongLong(clock), 5700000 - 3600LL * 1000000);
    EXPECT_EQ(clock.monotonicMicros(), 5700000);

    clock.setAdvancePerReading(10);
    EXPECT_EQ(clock.monotonicMicros(), 5700000);
    EXPECT_EQ(clock.monotonicMicros(), 5700010);
    EXPECT_EQ(clock.readings(), 6);

    // A pause costs fake time, not wall time.
    clock.sleepMicros(500000);
    clock.sleepMicros(500000);
    EXPECT_EQ(clock.sleptMicros(), 1000000);
    EXPECT_EQ(clock.sleepCalls(), 2);
    EXPECT_EQ(clock.now(), 5700020 + 1000000);
}

TEST_F(ClockTest, TheSystemClockReadsTheWallClockAndNeverStepsBack) {
    const Clock& clock = Clock::system();
    int64_t wall = System::wallClockMicros();
    EXPECT_LT(std::llabs(getTimeInLongLong(clock) - wall), 60LL * 1000000);
    int64_t last = clock.monotonicMicros();
    for (int i = 0; i < 1000; ++i) {
        int64_t now = clock.monotonicMicros();
        EXPECT_GE(now, last);
        last = now;
    }
}

} // namespace tolvarin
