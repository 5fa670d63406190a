#include "platform/Env.h"

#include <cstdio>
#include <unistd.h>

namespace tolvarin {

int64_t Env::wallMicros() const {
    return Clock::system().wallMicros();
}

int64_t Env::monotonicMicros() const {
    return Clock::system().monotonicMicros();
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
