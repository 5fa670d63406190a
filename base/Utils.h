#pragma once

#include "base/Clock.h"

#include <string>
#include <vector>

namespace tolvarin {

// Class-level helpers every subsystem uses: console printing, time stamps
// and substring replacement. No state.
class Utils {
  public:
    Utils() = delete;

    // text and a line end to standard output / standard error.
    static void print(const std::string& text);
    static void printErrMessage(const std::string& text);
    // Formats with up to five arguments in place of "%@" ("%%" is a
    // percent sign) and prints the result and a line end to standard output.
    // Without arguments the format text itself is printed.
    template <typename... Args>
    static void printFormatted(const std::string& format, const Args&... args) {
        static_assert(sizeof...(Args) <= 5, "printFormatted takes at most five arguments");
        print(formatted(format, {std::string(args)...}));
    }
    // The text printFormatted prints. Placeholders beyond the arguments stay
    // as they are.
    static std::string formatted(const std::string& format, const std::vector<std::string>& args);

    // Local time as month-day-year-hour-minute-second
    // ("12-06-2026-18-35-54"); also prints "The local time is ..." with the
    // standard date text to standard output.
    static std::string createTimeStamp(const Clock& clock);
    // getTimeStamp of the clock: "18:35:54, Sun. Dec.  6, 2026".
    static std::string createPrintableTimeStamp(const Clock& clock);
    // The standard text of the current date, "2026-12-06 18:35:54 +0100".
    static std::string createDateDescription(const Clock& clock);

    // Every occurrence of target replaced by replacement, left to right; the
    // text itself when target is empty or does not occur.
    static std::string modifyString(const std::string& text, const std::string& target,
                                    const std::string& replacement);
    // Every occurrence of target removed.
    static std::string deleteSubstringFromString(const std::string& text,
                                                 const std::string& target);
};

} // namespace tolvarin
