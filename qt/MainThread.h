#pragma once

#include <functional>

class QObject;

namespace tolvarin {

// The hop from a worker thread (the scan thread, a spinner watcher, the
// logger's callers) to the application's main thread, where every widget
// lives.
namespace MainThread {

// Whether the caller is the main thread (true when there is no application).
bool isCurrent();
// Runs work on the main thread and returns when it is done: directly when
// already there, else queued to the main thread while the caller waits. The
// main thread must never wait for the caller meanwhile.
void runAndWait(const std::function<void()>& work);
// While a hub lives, the waits go through it (its own queue of main-thread
// work, which it also serves while it waits for the scan thread itself);
// nullptr goes back to Qt's queue.
using Waiter = std::function<void(const std::function<void()>&)>;
void setWaiter(Waiter waiter);
// Queues work to run later on context's thread; dropped if context is gone.
void post(QObject* context, std::function<void()> work);

} // namespace MainThread

} // namespace tolvarin
