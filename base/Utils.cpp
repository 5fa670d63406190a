#include "base/Utils.h"

#include <cstdio>
#include <ctime>

namespace tolvarin {

namespace {

struct tm localTime(time_t moment) {
    struct tm parts {};
    ::localtime_r(&moment, &parts);
    return parts;
}

std::string describeDate(time_t moment) {
    struct tm t = localTime(moment);
    char text[64];
    size_t n = std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S %z", &t);
    return std::string(text, n);
}

// One write per line, so that lines from several threads do not interleave.
void writeLine(std::FILE* stream, const std::string& text) {
    std::string line = text + "\n";
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fflush(stream);
}

} // namespace

void Utils::print(const std::string& text) {
    writeLine(stdout, text);
}

void Utils::printErrMessage(const std::string& text) {
    writeLine(stderr, text);
}

std::string Utils::formatted(const std::string& format, const std::vector<std::string>& args) {
    if (args.empty()) {
        return format;
    }
    std::string out;
    size_t next = 0;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size()) {
            if (format[i + 1] == '%') {
                out += '%';
                ++i;
                continue;
            }
            if (format[i + 1] == '@' && next < args.size()) {
                out += args[next++];
                ++i;
                continue;
            }
        }
        out += format[i];
    }
    return out;
}

std::string Utils::createTimeStamp(const Clock& clock) {
    time_t now = secondsOf(clock.wallMicros());
    struct tm t = localTime(now);
    char stamp[64];
    std::snprintf(stamp, sizeof(stamp), "%02d-%02d-%d-%02d-%02d-%02d", t.tm_mon + 1, t.tm_mday,
                  t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
    print("The local time is " + describeDate(now));
    return stamp;
}

std::string Utils::createPrintableTimeStamp(const Clock& clock) {
    return getTimeStamp(clock);
}

std::string Utils::createDateDescription(const Clock& clock) {
    return describeDate(secondsOf(clock.wallMicros()));
}

std::string Utils::modifyString(const std::string& text, const std::string& target,
                                const std::string& replacement) {
    if (target.empty()) {
        return text;
    }
    std::string out;
    size_t from = 0;
    for (size_t at = text.find(target); at != std::string::npos; at = text.find(target, from)) {
        out.append(text, from, at - from);
        out += replacement;
        from = at + target.size();
    }
    out.append(text, from, std::string::npos);
    return out;
}

std::string Utils::deleteSubstringFromString(const std::string& text, const std::string& target) {
    return modifyString(text, target, "");
}

} // namespace tolvarin
