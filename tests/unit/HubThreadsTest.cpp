// The hub under an event loop of its own, as a desktop face runs it: the
// loop's thread built the hub and is its main thread, the scan thread hands
// it work (the services at the end, every question) and waits. Stops,
// quits and the hub's destruction at random moments of a running test must
// end cleanly, never with the main thread waiting for a scan thread that
// waits for it.

#include "app/GUIController.h"
#include "logging/Logger.h"
#include "logging/MessageCenter.h"
#include "platform/SystemServices.h"
#include "tests/support/FakeClock.h"
#include "tests/support/FakeEnv.h"
#include "tests/support/RecordingView.h"
#include "tests/support/SimulatedDevice.h"
#include "tests/support/TempDir.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <mutex>
#include <random>
#include <thread>

namespace tolvarin {

namespace {

constexpr int64_t MiB = 1048576;

// The face: wakes its loop when the hub has work for the main thread.
class LoopView : public RecordingView {
  public:
    void wakeMainThread() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            woken_ = true;
        }
        wake_.notify_all();
    }
    // One turn of the loop: waits a little for a wake, then does the work.
    void turn(GUIController& hub) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait_for(lock, std::chrono::microseconds(200), [this] { return woken_; });
            woken_ = false;
        }
        hub.runMainThreadWork();
    }

  private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool woken_ = false;
};

// A dialog answerer: every question is shown and answered on the main
// thread while the asking thread waits, as the desktop face does.
class MainThreadAnswerer : public AlertAnswerer {
  public:
    explicit MainThreadAnswerer(GUIController& hub) : hub_(hub) {}
    int answer(const Alert& /*alert*/) override {
        int chosen = 0;
        // The default button: OK, Continue, and Stop for the stop question.
        hub_.performOnMainThreadAndWait([&] { chosen = MessageCenter::kDefaultAnswer; });
        return chosen;
    }

  private:
    GUIController& hub_;
};

// Services that count how many are off, shared beyond the hub's life.
class CountingServices : public SystemServices {
  public:
    explicit CountingServices(std::shared_ptr<std::atomic<int>> off) : off_(std::move(off)) {}
    bool present(Service, const std::string&) override { return true; }
    bool turnOff(Service, const std::string&) override {
        off_->fetch_add(1);
        return true;
    }
    bool turnOn(Service, const std::string&) override {
        off_->fetch_sub(1);
        return true;
    }

  private:
    std::shared_ptr<std::atomic<int>> off_;
};

// Ends the whole test binary if a round hangs: a deadlock must fail the
// suite, not stall it.
class Watchdog {
  public:
    explicit Watchdog(std::chrono::seconds limit)
        : thread_([this, limit] {
              std::unique_lock<std::mutex> lock(mutex_);
              if (!done_.wait_for(lock, limit, [this] { return finished_; })) {
                  std::fprintf(stderr, "a round of the thread test hung\n");
                  std::abort();
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            finished_ = true;
        }
        done_.notify_all();
        thread_.join();
    }

  private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    std::thread thread_;
};

enum class Ending { stop, quit, destroy };

class HubThreadsTest : public ::testing::TestWithParam<Ending> {
  protected:
    HubThreadsTest() : home("TOLVARIN_HOME", dir.path()) {
        MessageCenter::resetForTests();
        Logger::resetForTests();
        // Watchers must not move the clock the scans time with.
        clock.setSleep([](int64_t) { std::this_thread::yield(); });
    }
    ~HubThreadsTest() override {
        MessageCenter::resetForTests();
        Logger::resetForTests();
    }

    // One test on a fresh hub, ended the given way once the scan has done
    // `after` reads; answers whether the services were back on at the end.
    // A round that hangs ends the test binary.
    bool round(Ending ending, int after) {
        Watchdog watchdog(std::chrono::seconds(60));
        LoopView view;
        view.setLogFileAnswer(dir.path() + "/Log.txt");
        auto off = std::make_shared<std::atomic<int>>(0);
        auto services = std::make_unique<CountingServices>(off);
        Preferences p(dir.path() + "/Tolvarin.conf");
        p.setIntegerForKey(1, Preferences::indexingControl);
        auto hub = std::make_unique<GUIController>(view, p, env, std::move(services));
        auto answerer = std::make_shared<MainThreadAnswerer>(*hub);
        hub->setAnswerer(answerer);
        auto device = std::make_shared<SimulatedDevice>(48 * MiB);
        device->setClock(&clock);
        hub->setDeviceOpener([device](const std::string&, bool) { return device->sharedHandle(); });
        hub->awakeFromNib();
        Media unit;
        unit.setIsPrimaryDisk(true);
        unit.setPrimaryDiskID(std::string("sdz"));
        unit.setPrimaryDiskSize(std::string("50.3 MB"));
        unit.setSMARTStatus(std::string("Not Supported"));
        hub->setCurrentMediaArray({unit});
        hub->selectUnit(unit);
        hub->cursoryOptionsButtonSelected();
        EXPECT_TRUE(hub->confirmCursoryOptions(GUIController::CursoryChoice{}));

        // The start asks message 0 from the main thread itself.
        if (!hub->cursoryStartButtonSelected()) {
            ADD_FAILURE() << hub->startProblem();
            return false;
        }
        bool ended = false;
        while (hub->testRunning()) {
            view.turn(*hub);
            if (!ended && device->readCount() >= after) {
                ended = true;
                if (ending == Ending::stop) {
                    hub->cursoryStopButtonSelected();
                } else {
                    if (ending == Ending::quit) {
                        hub->cursoryStopButtonSelected();
                    }
                    hub.reset();
                    break;
                }
            }
        }
        if (hub) {
            // The stop's question was answered on this loop; collect the thread.
            hub->waitForTestEnd();
            EXPECT_FALSE(hub->testRunning());
            hub.reset();
        }
        return off->load() == 0;
    }

    TempDir dir;
    ScopedEnv home;
    FakeClock clock;
    FakeEnv env{clock};
};

} // namespace

TEST_P(HubThreadsTest, EndingATestAtRandomMomentsNeverHangs) {
    std::mt19937 random(20261208);
    // A whole test reads the 48 MiB in 192 reads, then seeks.
    std::uniform_int_distribution<int> moment(0, 260);
    for (int i = 0; i < 40; ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(round(GetParam(), moment(random))) << "a service was left off";
    }
}

INSTANTIATE_TEST_SUITE_P(StopQuitDestroy, HubThreadsTest,
                         ::testing::Values(Ending::stop, Ending::quit, Ending::destroy),
                         [](const auto& info) {
                             return std::string(info.param == Ending::stop   ? "Stop"
                                                : info.param == Ending::quit ? "Quit"
                                                                             : "Destroy");
                         });

} // namespace tolvarin
