#include "base/TextFormat.h"

#include <cstdio>

namespace tolvarin {

std::string vformatText(const char* fmt, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int length = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    if (length <= 0) {
        return "";
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

} // namespace tolvarin
