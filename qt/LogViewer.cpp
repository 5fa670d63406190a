#include "qt/LogViewer.h"

#include "qt/MainThread.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

namespace tolvarin {

LogViewerFeed::LogViewerFeed(LogViewer* window) : window_(window) {}

void LogViewerFeed::updateLogViewer(const std::string& text) {
    buffer_.add(text);
    // One redraw in flight at a time: pieces written meanwhile are shown by it.
    if (redrawPosted_.exchange(true)) {
        return;
    }
    std::lock_guard<std::mutex> lock(windowMutex_);
    if (window_ == nullptr) {
        return;
    }
    LogViewer* window = window_;
    MainThread::post(window, [this, window] {
        redrawPosted_.store(false);
        window->redraw();
    });
}

void LogViewerFeed::detach() {
    std::lock_guard<std::mutex> lock(windowMutex_);
    window_ = nullptr;
}

LogViewer::LogViewer(QWidget* parent)
    : QWidget(parent, Qt::Window), feed_(std::make_shared<LogViewerFeed>(this)),
      text_(new QPlainTextEdit(this)) {
    setWindowTitle(QStringLiteral("Tolvarin Log Viewer"));
    setObjectName(QStringLiteral("logViewer"));
    text_->setObjectName(QStringLiteral("logText"));
    text_->setReadOnly(true);
    text_->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setStyleHint(QFont::TypeWriter);
    font.setPointSize(12);
    font.setBold(true);
    text_->setFont(font);

    auto* clear = new QPushButton(QStringLiteral("Clear"), this);
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    clear->setObjectName(QStringLiteral("logClearButton"));
    close->setObjectName(QStringLiteral("logCloseButton"));
    connect(clear, &QPushButton::clicked, this, &LogViewer::clearButtonPressed);
    connect(close, &QPushButton::clicked, this, &LogViewer::closeButtonPressed);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(clear);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text_);
    layout->addLayout(buttons);
    resize(760, 520);
}

LogViewer::~LogViewer() {
    feed_->detach();
    if (Logger::logViewerController() == feed_) {
        Logger::setViewWindowActive(false);
        Logger::setLogViewerController(nullptr);
    }
}

void LogViewer::showViewer() {
    feed_->setActive(true);
    Logger::setLogViewerController(feed_);
    Logger::setViewWindowActive(true);
    redraw();
    show();
    raise();
    activateWindow();
}

void LogViewer::redraw() {
    text_->setPlainText(QString::fromStdString(feed_->buffer().text()));
    QScrollBar* bar = text_->verticalScrollBar();
    bar->setValue(bar->maximum());
}

QString LogViewer::shownText() const {
    return text_->toPlainText();
}

void LogViewer::clearButtonPressed() {
    feed_->buffer().clear();
    redraw();
}

void LogViewer::closeButtonPressed() {
    feed_->setActive(false);
    Logger::setViewWindowActive(false);
    hide();
}

} // namespace tolvarin
