#include "base/TextFormat.h"

#include <charconv>
#include <cstdio>

namespace tolvarin {

std::string vformatText(const char* fmt, va_list args) {
    // Most texts fit a line: one pass into the stack, a second only for a
    // longer one.
    char line[256];
    va_list copy;
    va_copy(copy, args);
    int length = std::vsnprintf(line, sizeof line, fmt, copy);
    va_end(copy);
    if (length <= 0) {
        return "";
    }
    if (static_cast<size_t>(length) < sizeof line) {
        return std::string(line, static_cast<size_t>(length));
    }
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), fmt, args);
    text.resize(static_cast<size_t>(length));
    return text;
}

std::string formatText(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string text = vformatText(fmt, args);
    va_end(args);
    return text;
}

std::string gigabytesText(int64_t bytes) {
    // The thousandths are bytes / 1e6 rounded to nearest. The double that
    // printf would round lies within 2^-53 of the quotient, far closer than
    // any other byte count's distance from a rounding edge below 1e15 bytes;
    // only an exact half depends on which way the division rounded, and that
    // (like anything out of range) is left to printf.
    constexpr int64_t kExactBelow = 1000000000000000;
    if (bytes < 0 || bytes >= kExactBelow || bytes % 1000000 == 500000) {
        return formatText("%.3f", static_cast<double>(bytes) / 1e9);
    }
    int64_t thousandths = (bytes + 500000) / 1000000;
    char digits[24];
    // 24 digits hold any int64_t: to_chars cannot run out of room.
    std::string text(digits, std::to_chars(digits, digits + sizeof digits, thousandths / 1000).ptr);
    int64_t fraction = thousandths % 1000;
    text += '.';
    text += static_cast<char>('0' + fraction / 100);
    text += static_cast<char>('0' + fraction / 10 % 10);
    text += static_cast<char>('0' + fraction % 10);
    return text;
}

} // namespace tolvarin
