#include "base/Utils.h"
#include "base/TextFormat.h"
#include "tests/support/FakeClock.h"
#include "tests/support/TempDir.h"

#include <cstdio>
#include <ctime>
#include <gtest/gtest.h>
#include <memory>
#include <random>

namespace tolvarin {

namespace {

// Local time follows TZ; glibc reads it again only on tzset().
class ScopedTimeZone {
  public:
    explicit ScopedTimeZone(const std::string& zone)
        : env_(std::make_unique<ScopedEnv>("TZ", zone)) {
        ::tzset();
    }
    ~ScopedTimeZone() {
        env_.reset();
        ::tzset();
    }

  private:
    std::unique_ptr<ScopedEnv> env_;
};

} // namespace

TEST(UtilsTimeStamp, FileStampIsMonthDayYearTimeInLocalTime) {
    FakeClock clock; // 2026-12-06 18:35:54 UTC
    {
        ScopedTimeZone utc("UTC");
        testing::internal::CaptureStdout();
        EXPECT_EQ(Utils::createTimeStamp(clock), "12-06-2026-18-35-54");
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "The local time is 2026-12-06 18:35:54 +0000\n");
    }
    {
        // Two hours east of UTC, and every field below ten keeps its zero.
        ScopedTimeZone east("UTC-2");
        clock.setSeconds(1798765445); // 2027-01-01 01:04:05 UTC
        testing::internal::CaptureStdout();
        EXPECT_EQ(Utils::createTimeStamp(clock), "01-01-2027-03-04-05");
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "The local time is 2027-01-01 03:04:05 +0200\n");
    }
}

TEST(UtilsTimeStamp, PrintableStampIsTimeCommaDate) {
    FakeClock clock;
    ScopedTimeZone utc("UTC");
    EXPECT_EQ(Utils::createPrintableTimeStamp(clock), "18:35:54, Sun. Dec.  6, 2026");
    clock.advance(3600LL * 1000000);
    EXPECT_EQ(Utils::createPrintableTimeStamp(clock), "19:35:54, Sun. Dec.  6, 2026");
    EXPECT_EQ(Utils::createDateDescription(clock), "2026-12-06 19:35:54 +0000");
}

TEST(UtilsStrings, ReplacesEveryOccurrence) {
    EXPECT_EQ(Utils::modifyString("disk0s2", "disk0", ""), "s2");
    EXPECT_EQ(Utils::modifyString("no target here", "disk0", "x"), "no target here");
    EXPECT_EQ(Utils::modifyString("a-b-c-", "-", "--"), "a--b--c--");
    // The replacement is not searched again, so a replacement holding the
    // target cannot loop.
    EXPECT_EQ(Utils::modifyString("aa", "a", "aa"), "aaaa");
    EXPECT_EQ(Utils::modifyString("aaa", "aa", "b"), "ba");
    EXPECT_EQ(Utils::modifyString("text", "", "x"), "text");
    EXPECT_EQ(Utils::modifyString("", "a", "b"), "");
}

TEST(UtilsStrings, DeletesEveryOccurrence) {
    EXPECT_EQ(Utils::deleteSubstringFromString("UUID: 1234 UUID: 5678", "UUID: "), "1234 5678");
    EXPECT_EQ(Utils::deleteSubstringFromString("abc", "x"), "abc");
    EXPECT_EQ(Utils::deleteSubstringFromString("xxx", "x"), "");
    EXPECT_EQ(Utils::deleteSubstringFromString("abc", ""), "abc");
}

TEST(UtilsPrint, FormattedSubstitutesObjectPlaceholders) {
    testing::internal::CaptureStdout();
    Utils::printFormatted("User ID: %@", "501");
    Utils::printFormatted("User ID: %@");
    Utils::printFormatted("%@ of %@ at 100%% (%@)", std::string("3"), "5");
    Utils::printFormatted("%@%@%@%@%@", "a", "b", "c", "d", "e");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "User ID: 501\n"
                                                      "User ID: %@\n"
                                                      "3 of 5 at 100% (%@)\n"
                                                      "abcde\n");
    // Without arguments the text is the format itself, percent signs and all.
    EXPECT_EQ(Utils::formatted("100%% %@", {}), "100%% %@");
    EXPECT_EQ(Utils::formatted("trailing %", {"x"}), "trailing %");
}

} // namespace tolvarin

// The progress line's positions are made without printf; they must read
// exactly as "%.3f" of bytes / 1e9 would, rounding edges and exact halves
// (where printf rounds the division's binary value) included.
TEST(UtilsPrint, GigabytesReadAsPrintfWould) {
    auto printed = [](int64_t bytes) {
        char text[64];
        std::snprintf(text, sizeof text, "%.3f", static_cast<double>(bytes) / 1e9);
        return std::string(text);
    };
    std::vector<int64_t> cases = {
        0,         1,          499999,         500000,          500001,
        1499999,   1500000,    2500000,        999999999,       999500000,
        999499999, 1000000000, 1310720,        262144,          62500000,
        -1,        -500000,    20000000000000, 999999999999999, 1000000000000000,
        INT64_MAX};
    std::mt19937_64 random(7);
    for (int i = 0; i < 200000; ++i) {
        int64_t bytes = static_cast<int64_t>(random() % 1000000000000000ULL);
        cases.push_back(bytes);
        cases.push_back(bytes / 1000000 * 1000000 + 500000); // an exact half
        cases.push_back(static_cast<int64_t>(random() % 80000000) * 262144);
    }
    for (int64_t bytes : cases) {
        ASSERT_EQ(tolvarin::gigabytesText(bytes), printed(bytes)) << bytes;
    }
    // Texts longer than a line are made whole.
    std::string longText = tolvarin::formatText("%s-%d", std::string(600, 'x').c_str(), 7);
    EXPECT_EQ(longText.size(), 602u);
    EXPECT_EQ(longText.substr(598), "xx-7");
}
