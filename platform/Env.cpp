#include "platform/Env.h"

#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace tolvarin {

int64_t Env::wallMicros() const {
    return Clock::system().wallMicros();
}

int64_t Env::monotonicMicros() const {
    // The steady clock read directly: the surface scan reads it twice for
    // every block, and the way through the system clock object costs more
    // than the reading (same clock, same values).
    struct timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

void Env::sleepMicros(int64_t micros) const {
    Clock::system().sleepMicros(micros);
}

ProcessResult Env::runProcess(const std::string& program, const std::vector<std::string>& args) {
    return ProcessRunner::run(program, args);
}

bool Env::launchDetached(const std::string& program, const std::vector<std::string>& args,
                         std::string* error) {
    return ProcessRunner::launchDetached(program, args, error);
}

void Env::exitProcess(int status) {
    std::fflush(nullptr);
    ::_exit(status);
}

Env& Env::standard() {
    static Env env;
    return env;
}

} // namespace tolvarin
