#include "qt/MainThread.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <atomic>
#include <exception>
#include <future>
#include <mutex>
#include <thread>

namespace tolvarin {

namespace {

// The thread the application object was made on. Kept as a plain id: asking
// Qt which thread a worker is would make Qt adopt (and keep) every worker
// thread that asks.
std::atomic<std::thread::id> gMainThread{};

std::mutex& waiterMutex() {
    static std::mutex m;
    return m;
}

MainThread::Waiter& waiterSlot() {
    static MainThread::Waiter waiter;
    return waiter;
}

void rememberMainThread() {
    gMainThread.store(std::this_thread::get_id());
}

} // namespace

} // namespace tolvarin

// Run by the application object's constructor, on the main thread.
static void rememberTolvarinMainThread() {
    tolvarin::rememberMainThread();
}
Q_COREAPP_STARTUP_FUNCTION(rememberTolvarinMainThread)

namespace tolvarin {

namespace MainThread {

bool isCurrent() {
    if (QCoreApplication::instance() == nullptr) {
        return true;
    }
    return std::this_thread::get_id() == gMainThread.load();
}

void setWaiter(Waiter waiter) {
    std::lock_guard<std::mutex> lock(waiterMutex());
    waiterSlot() = std::move(waiter);
}

void runAndWait(const std::function<void()>& work) {
    if (isCurrent()) {
        work();
        return;
    }
    Waiter waiter;
    {
        std::lock_guard<std::mutex> lock(waiterMutex());
        waiter = waiterSlot();
    }
    if (waiter) {
        waiter(work);
        return;
    }
    std::promise<void> done;
    std::future<void> finished = done.get_future();
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [&] {
            try {
                work();
                done.set_value();
            } catch (...) {
                done.set_exception(std::current_exception());
            }
        },
        Qt::QueuedConnection);
    finished.get();
}

void post(QObject* context, std::function<void()> work) {
    QMetaObject::invokeMethod(context, std::move(work), Qt::QueuedConnection);
}

} // namespace MainThread

} // namespace tolvarin
