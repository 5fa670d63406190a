#include "qt/MainThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

namespace tolvarin {

namespace MainThread {

bool isCurrent() {
    QCoreApplication* app = QCoreApplication::instance();
    return app == nullptr || QThread::currentThread() == app->thread();
}

void runAndWait(const std::function<void()>& work) {
    if (isCurrent()) {
        work();
        return;
    }
    QMetaObject::invokeMethod(QCoreApplication::instance(), work, Qt::BlockingQueuedConnection);
}

void post(QObject* context, std::function<void()> work) {
    QMetaObject::invokeMethod(context, std::move(work), Qt::QueuedConnection);
}

} // namespace MainThread

} // namespace tolvarin
