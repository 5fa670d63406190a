#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace tolvarin {

// Work a worker thread hands to the main thread and waits for. The main
// thread runs it when the face's event loop calls runPending(), and also
// while it waits for a worker itself (serviceUntil), so that a main thread
// waiting for the scan thread never deadlocks with a scan thread waiting for
// the main thread.
class MainThreadQueue {
  public:
    // wake: tells the face that work is waiting (from any thread).
    explicit MainThreadQueue(std::function<void()> wake);

    // The thread that created the queue is the main thread.
    bool onMainThread() const { return std::this_thread::get_id() == mainThread_; }
    // Runs work on the main thread and waits for it; at once when called
    // there.
    void performAndWait(const std::function<void()>& work);
    // On the main thread: runs the waiting work.
    void runPending();
    // On the main thread: waits until done() holds, running waiting work
    // meanwhile. done() is looked at again after notify().
    void serviceUntil(const std::function<bool()>& done);
    // Something serviceUntil waits for may have happened.
    void notify();

  private:
    struct Item {
        std::function<void()> work;
        bool done = false;
    };

    std::function<void()> wake_;
    const std::thread::id mainThread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::shared_ptr<Item>> pending_;
};

} // namespace tolvarin
