// The Pictures module: the drawing code of the pictures behind the
// PictureRenderer interface, for programs without a window (the terminal
// face, the report). It exports the factory of its principal class.
//
// Text needs a QGuiApplication. In a program that has none the module makes
// its own, on a thread of its own that then does all the drawing, with the
// offscreen platform (nothing is ever shown, and a display the process may
// not use, root's under sudo for one, must not stop it). In a program that
// has one (the desktop face) pictures are drawn on the caller's thread: a
// QImage may be painted on any thread.

#include "platform/ModuleLoader.h"
#include "qt/pictures/PictureDrawing.h"
#include "report/PictureRenderer.h"

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QLibraryInfo>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

namespace tolvarin {

namespace {

using Job = std::function<std::string(std::string* error)>;

// The thread that owns the module's own QGuiApplication and draws.
class DrawingThread {
  public:
    DrawingThread() : thread_([this] { run(); }) {}
    ~DrawingThread() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    DrawingThread(const DrawingThread&) = delete;
    DrawingThread& operator=(const DrawingThread&) = delete;

    std::string perform(const Job& job, std::string* error) {
        auto request = std::make_shared<Request>();
        request->job = job;
        std::future<Outcome> done = request->outcome.get_future();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            queue_.push_back(request);
        }
        wake_.notify_all();
        Outcome outcome = done.get();
        if (outcome.png.empty() && error != nullptr) {
            *error = outcome.why;
        }
        return outcome.png;
    }

  private:
    struct Outcome {
        std::string png;
        std::string why;
    };
    struct Request {
        Job job;
        std::promise<Outcome> outcome;
    };

    void run() {
        // Nothing is shown: the offscreen platform unless the caller chose one.
        if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        }
        std::unique_ptr<QGuiApplication> app;
        std::string problem = platformProblem();
        if (problem.empty()) {
            // Qt's notes about its surroundings (no runtime directory for
            // root, say) are no business of a terminal's user.
            qInstallMessageHandler(quietMessages);
            static int argc = 1;
            static char name[] = "tolvarin-pictures";
            static char* argv[] = {name, nullptr};
            app = std::make_unique<QGuiApplication>(argc, argv);
        }
        for (;;) {
            std::shared_ptr<Request> request;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
                if (queue_.empty()) {
                    break;
                }
                request = std::move(queue_.front());
                queue_.pop_front();
            }
            Outcome outcome;
            if (app) {
                outcome.png = request->job(&outcome.why);
            } else {
                outcome.why = problem;
            }
            request->outcome.set_value(std::move(outcome));
        }
        // This runs as the program exits, when Qt's own statics may be gone
        // already: the application's destructor would reach into them. The
        // process is ending; the application ends with it.
        (void)app.release();
    }

    static void quietMessages(QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type == QtCriticalMsg || type == QtFatalMsg) {
            std::fprintf(stderr, "tolvarin-pictures: %s\n", text.toLocal8Bit().constData());
        }
    }

    // Why the chosen platform cannot start, or empty. A QGuiApplication
    // without its platform plugin ends the process, so this is asked first.
    static std::string platformProblem() {
        const char* chosen = std::getenv("QT_QPA_PLATFORM");
        QString platform = QString::fromLocal8Bit(chosen != nullptr ? chosen : "offscreen");
        platform = platform.section(QLatin1Char(':'), 0, 0);
        QDir plugins(QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms"));
        QStringList found = plugins.entryList({QStringLiteral("libq%1.so").arg(platform)});
        if (found.isEmpty()) {
            return "the Qt platform plugin \"" + platform.toStdString() + "\" is missing in " +
                   plugins.path().toStdString();
        }
        return {};
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::shared_ptr<Request>> queue_;
    bool stopping_ = false;
    std::thread thread_;
};

class QtPictureRenderer : public PictureRenderer {
  public:
    std::string surfaceMap(const SurfaceMapPicture& picture, int width, int height,
                           std::string* error) override {
        return draw(width, height, error, [&](QPainter& p, const QRect& r) {
            PictureDrawing::drawSurfaceMap(p, r, picture);
        });
    }
    std::string latencyHistogram(const HistogramPicture& picture, int width, int height,
                                 std::string* error) override {
        return draw(width, height, error, [&](QPainter& p, const QRect& r) {
            PictureDrawing::drawLatencyHistogram(p, r, picture);
        });
    }
    std::string baselineChange(const BaselineChangePicture& picture, int width, int height,
                               std::string* error) override {
        return draw(width, height, error, [&](QPainter& p, const QRect& r) {
            PictureDrawing::drawBaselineChange(p, r, picture);
        });
    }
    std::string indexTrend(const TrendPicture& picture, int width, int height,
                           std::string* error) override {
        return draw(width, height, error, [&](QPainter& p, const QRect& r) {
            PictureDrawing::drawIndexTrend(p, r, picture);
        });
    }

  private:
    static constexpr int kLargest = 8000;

    std::string draw(int width, int height, std::string* error,
                     const std::function<void(QPainter&, const QRect&)>& paint) {
        if (width < 16 || height < 16 || width > kLargest || height > kLargest) {
            if (error != nullptr) {
                *error = "a picture size out of range";
            }
            return {};
        }
        Job job = [&](std::string* why) -> std::string {
            try {
                QByteArray png = PictureDrawing::renderPng(width, height, paint);
                if (png.isEmpty()) {
                    *why = "the picture could not be encoded as PNG";
                    return {};
                }
                return std::string(png.constData(), static_cast<size_t>(png.size()));
            } catch (const std::exception& e) {
                *why = std::string("drawing failed: ") + e.what();
                return {};
            }
        };
        if (QCoreApplication::instance() != nullptr && !ownThread()) {
            // The program has its own application (the desktop face).
            std::string why;
            std::string png = job(&why);
            if (png.empty() && error != nullptr) {
                *error = why;
            }
            return png;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (!thread_) {
            thread_ = std::make_unique<DrawingThread>();
        }
        return thread_->perform(job, error);
    }

    bool ownThread() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return thread_ != nullptr;
    }

    mutable std::mutex mutex_;
    std::unique_ptr<DrawingThread> thread_;
};

} // namespace

TOLVARIN_MODULE_FACTORY(PictureRenderer, PictureRenderer, new QtPictureRenderer())

} // namespace tolvarin
