#include "tests/gui/support/GuiTestSupport.h"

#include "base/Clock.h"
#include "logging/MessageCenter.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QVariant>
#include <QWidget>

#include <chrono>
#include <fstream>
#include <map>
#include <mutex>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace tolvarin {

DialogDriver::DialogDriver() {
    timer_.setInterval(2);
    connect(&timer_, &QTimer::timeout, this, &DialogDriver::poll);
    timer_.start();
}

void DialogDriver::push(int number, int answer) {
    queued_[number].push_back(answer);
}

int DialogDriver::count(int number) const {
    int n = 0;
    for (int asked : asked_) {
        n += asked == number ? 1 : 0;
    }
    return n;
}

int DialogDriver::numberForHeading(const QString& heading) {
    for (int n : MessageCenter::messageNumbers()) {
        std::optional<Alert> alert = MessageCenter::alertForNumber(n);
        if (alert && QString::fromStdString(alert->title) == heading) {
            return n;
        }
    }
    return -1;
}

void DialogDriver::poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible() || modal == answering_) {
        return;
    }
    answering_ = nullptr;
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        const int number = numberForHeading(box->text());
        if (number < 0) {
            otherHeadings_ << box->text();
        }
        if (!prefix_.isEmpty() && number >= 0 && photographed_.insert(number).second) {
            saveScreenshot(box, prefix_ + QStringLiteral("message-%1").arg(number));
        }
        int answer = fallback_;
        auto queued = queued_.find(number);
        if (queued != queued_.end() && !queued->second.empty()) {
            answer = queued->second.front();
            queued->second.pop_front();
        }
        asked_.push_back(number);
        QAbstractButton* chosen = box->defaultButton();
        for (QAbstractButton* button : box->buttons()) {
            if (button->property("answer").isValid() &&
                button->property("answer").toInt() == answer) {
                chosen = button;
            }
        }
        if (chosen == nullptr && !box->buttons().isEmpty()) {
            chosen = box->buttons().constFirst();
        }
        // Later, from the box's own loop: what the click starts (another
        // box, the rest of a test) must not run inside this poll.
        QMetaObject::invokeMethod(chosen, "click", Qt::QueuedConnection);
        answering_ = box;
        return;
    }
    if (auto* panel = qobject_cast<QFileDialog*>(modal)) {
        ++logPanels_;
        if (!prefix_.isEmpty() && logPanels_ == 1) {
            saveScreenshot(panel, prefix_ + QStringLiteral("save-log-panel"));
        }
        auto* name = panel->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        lastProposed_ = name != nullptr ? name->text() : QString();
        if (logFile_ && !logFile_->isEmpty()) {
            panel->selectFile(*logFile_);
        }
        QMetaObject::invokeMethod(panel, logFile_ ? "accept" : "reject", Qt::QueuedConnection);
        answering_ = panel;
        return;
    }
    if (onOtherModal) {
        onOtherModal(modal);
    }
}

void saveScreenshot(QWidget* widget, const QString& name) {
    // Layouts settle on posted events; the picture shows the settled window.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    QDir().mkpath(QStringLiteral(TOLVARIN_SCREENSHOT_DIR));
    widget->grab().save(QStringLiteral(TOLVARIN_SCREENSHOT_DIR "/") + name +
                        QStringLiteral(".png"));
}

struct QuickWaits::Counts {
    std::mutex mutex;
    std::map<int64_t, int> byLength;
};

QuickWaits::QuickWaits() : counts_(std::make_shared<Counts>()) {}

void QuickWaits::sleepMicros(int64_t micros) const {
    {
        std::lock_guard<std::mutex> lock(counts_->mutex);
        ++counts_->byLength[micros];
    }
    if (micros > 0) {
        std::this_thread::sleep_for(std::chrono::microseconds(micros / 20));
    }
}

void QuickWaits::exitProcess(int status) {
    if (onExit) {
        onExit(status);
    } else {
        QTest::qFail(qPrintable(QString("the program ended with %1").arg(status)), __FILE__,
                     __LINE__);
    }
}

int QuickWaits::sleepsOf(int64_t micros) const {
    std::lock_guard<std::mutex> lock(counts_->mutex);
    auto found = counts_->byLength.find(micros);
    return found == counts_->byLength.end() ? 0 : found->second;
}

void writePreferences(const std::string& home, int errorLimit, int probe, int indexing, int backups,
                      int driveSleep) {
    std::string dir = home + "/.config/Tolvarin";
    QDir().mkpath(QString::fromStdString(dir));
    std::ofstream out(dir + "/Tolvarin.conf");
    out << "[General]\nerrorLimitKey=" << errorLimit << "\nprobeKey=" << probe
        << "\nindexingControl=" << indexing << "\ndisableTimeMachine=" << backups
        << "\ndisablePowerManagement=" << driveSleep << "\n";
}

ImageUnits::ImageUnits(const std::string& root)
    : root_(root.empty() ? dir_.path() : root), home_(root_ + "/home"), devices_(root_ + "/dev") {
    if (!root.empty()) {
        QDir(QString::fromStdString(root_)).removeRecursively();
    }
    QDir().mkpath(QString::fromStdString(home_));
    QDir().mkpath(QString::fromStdString(devices_));
    writePreferences(home_, 10, 0, 0, 0, 0);
    homeEnv_ = std::make_unique<ScopedEnv>("TOLVARIN_HOME", home_);
    devEnv_ = std::make_unique<ScopedEnv>("TOLVARIN_DEV_DIR", devices_);
    toolEnv_ = std::make_unique<ScopedEnv>(
        "TOLVARIN_DISKTOOL", std::string(TOLVARIN_TEST_DATA "/../../scripts/image-disktool.sh"));
}

std::string ImageUnits::addImage(const std::string& name, int64_t bytes) {
    std::string path = devices_ + "/" + name;
    ::unlink(path.c_str());
    std::ofstream(path).close();
    if (::truncate(path.c_str(), bytes) != 0) {
        throw std::runtime_error("cannot size " + path);
    }
    return path;
}

} // namespace tolvarin
