#include "unitprobe/StringProcessor.h"

#include <cstring>

namespace tolvarin {

std::string StringProcessor::trim(const std::string& text) const {
    static const char* const blanks = " \t";
    auto first = text.find_first_not_of(blanks);
    if (first == std::string::npos) {
        return "";
    }
    auto last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

std::string StringProcessor::replaceSubstringIn(const std::string& text, const std::string& target,
                                                const std::string& replacement) const {
    if (target.empty()) {
        return text;
    }
    auto at = text.find(target);
    if (at == std::string::npos) {
        return text;
    }
    std::string result = text;
    result.replace(at, target.size(), replacement);
    return result;
}

std::unique_ptr<char[]> StringProcessor::nsStringToC(const std::string& text) const {
    auto copy = std::make_unique<char[]>(text.size() + 1);
    std::memcpy(copy.get(), text.data(), text.size());
    copy[text.size()] = '\0';
    return copy;
}

std::string StringProcessor::cToNSString(const char* text) const {
    return text == nullptr ? std::string() : std::string(text);
}

} // namespace tolvarin
