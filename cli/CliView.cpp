#include "cli/CliView.h"

#include "app/GUIController.h"
#include "base/Clock.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <ostream>

namespace tolvarin {

namespace {

// Erases the line the cursor is on.
const char* const kEraseLine = "\r\033[K";

std::string percent(double fraction) {
    char text[8];
    std::snprintf(text, sizeof(text), "%3d%%",
                  static_cast<int>(std::floor(std::clamp(fraction, 0.0, 1.0) * 100.0)));
    return text;
}

std::string orZero(const std::string& text) {
    return text.empty() ? "0" : text;
}

} // namespace

CliView::CliView(std::ostream& out, bool terminal, std::optional<std::string> logFile, int width)
    : out_(out), terminal_(terminal), logFile_(std::move(logFile)), width_(std::max(width, 20)) {}

void CliView::setController(const GUIController* controller) {
    std::lock_guard<std::mutex> lock(mutex_);
    controller_ = controller;
}

int CliView::terminalWidth() {
    const char* columns = std::getenv("COLUMNS");
    if (columns != nullptr) {
        char* end = nullptr;
        long value = std::strtol(columns, &end, 10);
        if (end != columns && *end == '\0' && value >= 20 && value <= 1000) {
            return static_cast<int>(value);
        }
    }
    return 80;
}

std::string CliView::bar(double fraction, int width) {
    if (!std::isfinite(fraction)) {
        fraction = 0;
    }
    int filled = static_cast<int>(std::floor(std::clamp(fraction, 0.0, 1.0) * width));
    return "[" + std::string(static_cast<size_t>(filled), '#') +
           std::string(static_cast<size_t>(width - filled), '.') + "]";
}

std::string CliView::statusLine(const Progress& p) {
    std::string type = p.typeOfTest.empty() ? "Preparing" : p.typeOfTest;
    std::string line = std::string(p.normal ? "Normal" : "Cursory") + " " + type;
    std::string range = p.range;
    if (range.find_first_not_of(' ') != std::string::npos) {
        line += " | " + range;
    }
    line += " | surface " + bar(p.surface) + percent(p.surface);
    line += " | seek " + bar(p.seek) + percent(p.seek);
    line += " | errors " + orZero(p.errors) + " | irregularities " + orZero(p.irregularities);
    if (p.stalled) {
        line += " | waiting on the unit";
    }
    return line;
}

std::string CliView::compactStatusLine(const Progress& p, int width) {
    std::string line = p.stalled ? "(waiting on the unit) " : "";
    line += (p.typeOfTest.empty() ? std::string("Preparing") : p.typeOfTest) + ": surface " +
            bar(p.surface, 10) + percent(p.surface) + " seek " + bar(p.seek, 10) + percent(p.seek) +
            " errors " + orZero(p.errors) + " irreg. " + orZero(p.irregularities);
    std::string range = p.range;
    if (range.find_first_not_of(' ') != std::string::npos &&
        line.size() + 3 + range.size() < static_cast<size_t>(width)) {
        line += " | " + range;
    }
    if (static_cast<int>(line.size()) > width - 1) {
        line.resize(static_cast<size_t>(std::max(width - 1, 0)));
    }
    return line;
}

std::string CliView::diagnosticsStatusLine(const DiagnosticsPaneValues& pane, bool stalled) {
    std::string line = "Diagnostics " + pane.currentDiagnosticsTest;
    line += " | step " + bar(pane.diagnosticsCurrentProgress / 100.0, 10) +
            percent(pane.diagnosticsCurrentProgress / 100.0);
    line += " | overall " + bar(pane.diagnosticsOverallProgress / 100.0, 10) +
            percent(pane.diagnosticsOverallProgress / 100.0);
    line += " | weak " + pane.diagnosticsWeakBlockCount + " bad " + pane.diagnosticsBadBlockCount +
            " faults " + pane.diagnosticsProbableSystemFaults + " memory " +
            pane.diagnosticsMemoryErrors + " interface " + pane.diagnosticsInterfaceErrors +
            " seek " + pane.diagnosticsSeekErrors;
    if (stalled) {
        line += " | waiting on the unit";
    }
    return line;
}

CliView::Progress CliView::progressNow() const {
    Progress p;
    p.stalled = stalled_;
    if (controller_ == nullptr) {
        return p;
    }
    p.normal = controller_->normalScan();
    ScanProgress now = controller_->progress().progress();
    p.typeOfTest = now.typeOfTest;
    p.range = now.currentTestRange;
    p.surface = now.surfacePercentage;
    p.seek = now.seekPercentage;
    p.errors = std::to_string(now.totalErrors);
    p.irregularities = std::to_string(now.totalIrregularities);
    return p;
}

void CliView::clearLine() {
    if (terminal_ && lineShown_) {
        out_ << kEraseLine;
        out_.flush();
        lineShown_ = false;
    }
}

void CliView::draw(bool force) {
    if (suspended_ > 0 || controller_ == nullptr) {
        return;
    }
    // Redraws are paced on the hub's steady clock.
    int64_t now = controller_->env().monotonicMicros();
    int64_t every = terminal_ ? kTerminalRedrawMicros : kPlainLineMicros;
    // A clock set back must not silence the line for good.
    if (!force && drawnOnce_ && now >= lastDraw_ && now - lastDraw_ < every) {
        return;
    }
    Progress progress = progressNow();
    std::string line;
    if (diagnostics_) {
        line = diagnosticsStatusLine(controller_->diagnostics().pane(), stalled_);
        if (terminal_) {
            if (static_cast<int>(line.size()) > width_ - 1) {
                line.resize(static_cast<size_t>(width_ - 1));
            }
            out_ << kEraseLine << line;
            lineShown_ = true;
        } else {
            if (line == lastLine_ && !force) {
                return;
            }
            out_ << line << "\n";
        }
    } else if (terminal_) {
        if (width_ < kWideTerminal) {
            line = compactStatusLine(progress, width_);
        } else {
            line = statusLine(progress);
            if (static_cast<int>(line.size()) > width_ - 1) {
                line.resize(static_cast<size_t>(width_ - 1));
            }
        }
        out_ << kEraseLine << line;
        lineShown_ = true;
    } else {
        line = statusLine(progress);
        if (line == lastLine_ && !force) {
            return;
        }
        out_ << line << "\n";
    }
    out_.flush();
    lastLine_ = line;
    lastDraw_ = now;
    drawnOnce_ = true;
}

void CliView::suspend() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++suspended_;
    clearLine();
}

void CliView::resume() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (suspended_ > 0) {
        --suspended_;
    }
    if (suspended_ == 0 && terminal_ && controller_ != nullptr && controller_->underTest()) {
        draw(true);
    }
}

void CliView::setButtonEnabled(GUIButton /*button*/, bool /*enabled*/) {}

void CliView::testStatsChanged() {
    std::lock_guard<std::mutex> lock(mutex_);
    // Results cleared on a selection or before the first scan begins are
    // not worth a line.
    if (controller_ == nullptr || !controller_->underTest() ||
        controller_->progress().progress().typeOfTest.empty()) {
        return;
    }
    draw(false);
}

void CliView::diagnosticsStatsChanged() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (controller_ == nullptr || !controller_->diagnostics().threadRunning()) {
        return;
    }
    diagnostics_ = true;
    draw(false);
}

void CliView::diagnosticsEnded() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (controller_ == nullptr || !diagnostics_) {
        return;
    }
    draw(true);
    if (terminal_ && lineShown_) {
        out_ << "\n";
        out_.flush();
        lineShown_ = false;
    }
}

void CliView::setSpinnerAnimating(GUISpinner /*spinner*/, bool animating) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stalled_ == animating) {
        return;
    }
    stalled_ = animating;
    // The plain log of a run without a terminal only notes a stall.
    if (terminal_) {
        draw(true);
    } else if (animating && suspended_ == 0) {
        out_ << "The unit has not answered for a while...\n";
        out_.flush();
    }
}

std::optional<std::string> CliView::askLogFileName(const std::string& directory,
                                                   const std::string& proposedName) {
    std::string chosen;
    if (logFile_) {
        std::error_code error;
        std::filesystem::path absolute = std::filesystem::absolute(*logFile_, error);
        chosen = error ? *logFile_ : absolute.lexically_normal().string();
    } else {
        chosen = directory + "/" + proposedName;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    clearLine();
    out_ << "Log file: " << chosen << "\n";
    out_.flush();
    return chosen;
}

void CliView::startPullDownSheetWithMessage(const std::string& message) {
    std::lock_guard<std::mutex> lock(mutex_);
    clearLine();
    out_ << message << "...\n";
    out_.flush();
}

void CliView::endPullDownSheet() {}

void CliView::testEnded() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (controller_ == nullptr) {
        return;
    }
    // The last state of the test, then the line is left standing.
    draw(true);
    if (terminal_ && lineShown_) {
        out_ << "\n";
        out_.flush();
        lineShown_ = false;
    }
}

} // namespace tolvarin
