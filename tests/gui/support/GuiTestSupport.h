#pragma once

#include "platform/Env.h"
#include "tests/support/TempDir.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

class QWidget;

namespace tolvarin {

// Answers the modal dialogs of the window as a person would, from the main
// thread's event loop: a numbered message box gets the answer queued for its
// number (else the fallback, the default button unless set), the log file
// panel is accepted with the name it proposes (or the path set, or
// cancelled). Other modal windows are handed to onOtherModal. Each message
// is photographed the first time it appears when a screenshot prefix is set.
class DialogDriver : public QObject {
    Q_OBJECT
  public:
    DialogDriver();

    void push(int number, int answer);
    void setFallback(int answer) { fallback_ = answer; }
    // nullopt: cancel the panel; empty: accept what it proposes.
    void setLogFileAnswer(std::optional<QString> path) { logFile_ = std::move(path); }
    void setScreenshotPrefix(const QString& prefix) { prefix_ = prefix; }
    std::function<void(QWidget*)> onOtherModal;

    // Message numbers in the order they were answered; boxes not in the
    // catalogue count as -1 (their headings are in otherHeadings).
    const std::vector<int>& asked() const { return asked_; }
    int count(int number) const;
    const QStringList& otherHeadings() const { return otherHeadings_; }
    int logPanels() const { return logPanels_; }
    QString lastProposedLog() const { return lastProposed_; }

    // The message number whose title is heading; -1 if none.
    static int numberForHeading(const QString& heading);

  private slots:
    void poll();

  private:
    QTimer timer_;
    std::map<int, std::deque<int>> queued_;
    int fallback_ = 1;
    std::optional<QString> logFile_ = QString();
    QString prefix_;
    std::set<int> photographed_;
    std::vector<int> asked_;
    QStringList otherHeadings_;
    int logPanels_ = 0;
    // The dialog an answer is on its way to.
    QPointer<QWidget> answering_;
    QString lastProposed_;
};

// Saves a picture of widget as TOLVARIN_SCREENSHOT_DIR/name.png.
void saveScreenshot(QWidget* widget, const QString& name);

// Surroundings for a window under test: the engine's waits (pause loops,
// spinner watchers, service pauses) take a twentieth of their time, the
// clock itself is the real one, and the end of the program is recorded (by
// default a failure of the test) instead of ending the test process.
class QuickWaits : public Env {
  public:
    QuickWaits();
    QuickWaits(const QuickWaits&) = delete;
    QuickWaits& operator=(const QuickWaits&) = delete;

    void sleepMicros(int64_t micros) const override;
    void exitProcess(int status) override;

    // How many waits of this length began so far.
    int sleepsOf(int64_t micros) const;
    // Called instead of ending the process; unset, the test fails.
    std::function<void(int)> onExit;

  private:
    struct Counts;
    std::shared_ptr<Counts> counts_;
};

// A home folder with preferences that switch no service, and a device folder
// with image units listed by the image disk tool (scripts/image-disktool.sh).
class ImageUnits {
  public:
    // In a fresh temporary folder, or in root (emptied first).
    explicit ImageUnits(const std::string& root = "");
    // A sparse image named name in the device folder.
    std::string addImage(const std::string& name, int64_t bytes);
    const std::string& home() const { return home_; }
    const std::string& devices() const { return devices_; }
    const std::string& root() const { return root_; }

  private:
    TempDir dir_;
    std::string root_;
    std::string home_;
    std::string devices_;
    std::unique_ptr<ScopedEnv> homeEnv_;
    std::unique_ptr<ScopedEnv> devEnv_;
    std::unique_ptr<ScopedEnv> toolEnv_;
};

// Writes the preferences file of home with these values.
void writePreferences(const std::string& home, int errorLimit, int probe, int indexing, int backups,
                      int driveSleep);

} // namespace tolvarin
