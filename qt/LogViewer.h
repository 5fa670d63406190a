#pragma once

#include "logging/Logger.h"
#include "qt/LogViewerBuffer.h"

#include <QWidget>
#include <atomic>
#include <memory>
#include <mutex>

class QPlainTextEdit;
class QPushButton;

namespace tolvarin {

class LogViewer;

// What the logger writes to: the pieces go into the buffer on the writing
// thread, and the window is asked to redraw on the main thread. The writer
// never waits for the window, so a busy window cannot slow or stall a scan.
class LogViewerFeed : public LogViewerSink {
  public:
    explicit LogViewerFeed(LogViewer* window);

    bool logViewerIsActive() override { return active_.load(); }
    void updateLogViewer(const std::string& text) override;

    void setActive(bool active) { active_.store(active); }
    LogViewerBuffer& buffer() { return buffer_; }
    // The window is going away: nothing is posted to it any more.
    void detach();

  private:
    std::atomic<bool> active_{true};
    std::atomic<bool> redrawPosted_{false};
    LogViewerBuffer buffer_;
    std::mutex windowMutex_;
    LogViewer* window_;

    friend class LogViewer;
};

// The log viewer window: the last pieces of the log of the running test, in
// a bold monospace face, scrolled to the end, live while the test writes.
// Close stops the feed; the window's own close control only hides it and
// the feed goes on.
class LogViewer : public QWidget {
    Q_OBJECT
  public:
    explicit LogViewer(QWidget* parent = nullptr);
    ~LogViewer() override;

    // Shows the window, makes the feed active and hands it to the logger.
    void showViewer();
    std::shared_ptr<LogViewerFeed> feed() const { return feed_; }
    QString shownText() const;
    QPlainTextEdit* textView() const { return text_; }

  public slots:
    void clearButtonPressed();
    void closeButtonPressed();
    // Shows the buffer's text now.
    void redraw();

  private:
    std::shared_ptr<LogViewerFeed> feed_;
    QPlainTextEdit* text_;
};

} // namespace tolvarin
