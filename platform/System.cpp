#include "platform/System.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <sys/time.h>
#include <sys/utsname.h>
#include <syslog.h>
#include <unistd.h>
#include <utility>

namespace tolvarin {

namespace System {

int64_t wallClockMicros() {
    struct timeval tv {};
    ::gettimeofday(&tv, nullptr);
    return static_cast<int64_t>(tv.tv_sec) * 1000000 + tv.tv_usec;
}

std::string kernelRelease() {
    struct utsname u {};
    if (::uname(&u) != 0) {
        return "";
    }
    return u.release;
}

std::string releaseName(const std::string& release) {
    // Kernel release prefixes of the desktop releases the program knows by
    // name, tested in this order.
    static const std::pair<const char*, const char*> names[] = {
        {"13.", "Mavericks"},    {"12.", "Mountain Lion"}, {"11.", "Lion"},
        {"10.", "Snow Leopard"}, {"9.", "Leopard"},        {"8.", "Tiger"},
        {"7.", "Panther"},       {"6.", "Jaguar"},         {"5.", "Puma"},
    };
    // A Linux release (6.1.0-18-amd64) carries a distribution suffix and
    // would otherwise read as one of the old names.
    if (release.find('-') != std::string::npos) {
        return "UNKNOWN";
    }
    for (const auto& [prefix, name] : names) {
        if (release.rfind(prefix, 0) == 0) {
            return name;
        }
    }
    return "UNKNOWN";
}

void consoleLog(const std::string& text) {
    ::syslog(LOG_INFO, "TOLVARIN - %s", text.c_str());
    if (std::getenv("TOLVARIN_CONSOLE") != nullptr) {
        std::fprintf(stderr, "TOLVARIN - %s\n", text.c_str());
    }
}

bool isPrivileged() {
    return ::geteuid() == 0;
}

} // namespace System

} // namespace tolvarin
