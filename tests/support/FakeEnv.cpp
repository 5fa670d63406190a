#include "tests/support/FakeEnv.h"

namespace tolvarin {

void FakeEnv::setRunner(Runner runner) {
    std::lock_guard<std::mutex> lock(mutex_);
    runner_ = std::move(runner);
}

ProcessResult FakeEnv::runProcess(const std::string& program,
                                  const std::vector<std::string>& args) {
    Runner runner;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        runner = runner_;
    }
    return runner ? runner(program, args) : Env::runProcess(program, args);
}

bool FakeEnv::launchDetached(const std::string& program, const std::vector<std::string>& args,
                             std::string* error) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string line = program;
    for (const std::string& a : args) {
        line += " " + a;
    }
    launches_.push_back(line);
    if (!launchSucceeds_ && error != nullptr) {
        *error = "no viewer";
    }
    return launchSucceeds_;
}

std::vector<std::string> FakeEnv::launches() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return launches_;
}

void FakeEnv::setLaunchSucceeds(bool value) {
    std::lock_guard<std::mutex> lock(mutex_);
    launchSucceeds_ = value;
}

void FakeEnv::exitProcess(int status) {
    std::lock_guard<std::mutex> lock(mutex_);
    exits_.push_back(status);
}

std::vector<int> FakeEnv::exits() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return exits_;
}

} // namespace tolvarin
