#pragma once

#include "platform/Env.h"
#include "tests/support/FakeClock.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace tolvarin {

// Surroundings for tests: the fake clock, an exit that is recorded and
// returns, and a viewer start that is recorded instead of run. Tools run
// for real unless a test installs a runner.
class FakeEnv : public Env {
  public:
    explicit FakeEnv(FakeClock& clock) : clock_(clock) {}

    int64_t wallMicros() const override { return clock_.wallMicros(); }
    int64_t monotonicMicros() const override { return clock_.monotonicMicros(); }
    void sleepMicros(int64_t micros) const override { clock_.sleepMicros(micros); }
    void waitFor(int64_t micros, std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                 const std::function<bool()>& done) const override {
        clock_.waitFor(micros, cv, lock, done);
    }

    using Runner =
        std::function<ProcessResult(const std::string&, const std::vector<std::string>&)>;
    void setRunner(Runner runner);
    ProcessResult runProcess(const std::string& program,
                             const std::vector<std::string>& args) override;

    // Every program start asked for (program and arguments as one line).
    bool launchDetached(const std::string& program, const std::vector<std::string>& args,
                        std::string* error) override;
    std::vector<std::string> launches() const;
    void setLaunchSucceeds(bool value);

    void exitProcess(int status) override;
    std::vector<int> exits() const;

    FakeClock& clock() { return clock_; }

  private:
    FakeClock& clock_;
    mutable std::mutex mutex_;
    Runner runner_;
    std::vector<std::string> launches_;
    bool launchSucceeds_ = true;
    std::vector<int> exits_;
};

} // namespace tolvarin
