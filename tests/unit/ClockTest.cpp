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

TEST_F(ClockTest, TimeStampUsesTheInstalledClockAndFitsItsBuffer) {
    FakeClock clock;
    clock.set(static_cast<int64_t>(utc(2026, 12, 6, 18, 35, 54)) * 1000000 + 999999);

    char buffer[kTimeStampBufferSize + 4];
    std::memset(buffer, '#', sizeof(buffer));
    EXPECT_EQ(getTimeStamp(buffer), buffer);
    EXPECT_STREQ(buffer, "18:35:54, Sun. Dec.  6, 2026");
    EXPECT_EQ(std::strlen(buffer), kTimeStampBufferSize - 1);
    EXPECT_EQ(buffer[kTimeStampBufferSize], '#');
    EXPECT_EQ(getTimeStamp(), "18:35:54, Sun. Dec.  6, 2026");
    EXPECT_EQ(getTimeStamp(nullptr), nullptr);
}

TEST_F(ClockTest, FakeClockMovesOnlyWhenTold) {
    {
        FakeClock clock(5000000);
        EXPECT_EQ(getTimeInLongLong(), 5000000);
        clock.advance(700000);
        EXPECT_EQ(getTimeInLongLong(), 5700000);

        clock.stepBackOnce(200000);
        EXPECT_EQ(getTimeInLongLong(), 5500000);
        EXPECT_EQ(getTimeInLongLong(), 5500000); // only once

        clock.setAdvancePerReading(10);
        EXPECT_EQ(getTimeInLongLong(), 5500000);
        EXPECT_EQ(getTimeInLongLong(), 5500010);
        EXPECT_EQ(clock.readings(), 6);

        // A pause costs fake time, not wall time.
        clockSleepMicroseconds(500000);
        clockSleepMicroseconds(500000);
        EXPECT_EQ(clock.sleptMicros(), 1000000);
        EXPECT_EQ(clock.sleepCalls(), 2);
        EXPECT_EQ(clock.now(), 5500020 + 1000000);
    }
    // Gone: the wall clock is back.
    int64_t wall = System::wallClockMicros();
    EXPECT_LT(std::llabs(getTimeInLongLong() - wall), 60LL * 1000000);
}

TEST_F(ClockTest, TimeSourceCanBeSwappedWhileOtherThreadsRead) {
    setTimeSource([] { return int64_t{1}; });
    std::atomic<bool> done{false};
    std::atomic<int64_t> bad{0};
    std::thread reader([&] {
        while (!done.load()) {
            int64_t t = getTimeInLongLong();
            if (t != 1 && t != 2) {
                ++bad;
            }
        }
    });
    for (int i = 0; i < 2000; ++i) {
        int64_t value = i % 2 + 1;
        setTimeSource([value] { return value; });
    }
    done.store(true);
    reader.join();
    EXPECT_EQ(bad.load(), 0);

    setTimeSource(nullptr); // an empty source falls back to the wall clock
    EXPECT_GT(getTimeInLongLong(), 1'000'000'000'000'000LL);
    resetTimeSource();
}

} // namespace tolvarin
