#include "tests/support/RecordingView.h"

namespace tolvarin {

void RecordingView::setLogFileAnswer(std::optional<std::string> path) {
    std::lock_guard<std::mutex> lock(mutex_);
    logFileAnswer_ = std::move(path);
}

std::array<bool, kGUIButtonCount> RecordingView::buttons() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return buttons_;
}

bool RecordingView::animating(GUISpinner spinner) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = animating_.find(spinner);
    return found != animating_.end() && found->second;
}

int RecordingView::animationStarts(GUISpinner spinner) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = animationStarts_.find(spinner);
    return found == animationStarts_.end() ? 0 : found->second;
}

std::vector<std::string> RecordingView::sheets() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sheets_;
}

int RecordingView::logFileQuestions() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return logFileQuestions_;
}

std::string RecordingView::lastProposedLogName() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastProposedLogName_;
}

int RecordingView::statsRedraws() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return statsRedraws_;
}

int RecordingView::testsEnded() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return testsEnded_;
}

std::vector<std::pair<std::string, std::string>> RecordingView::unitInfo() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return unitInfo_;
}

void RecordingView::setButtonEnabled(GUIButton button, bool enabled) {
    std::lock_guard<std::mutex> lock(mutex_);
    buttons_[static_cast<size_t>(button)] = enabled;
}

void RecordingView::setOnStatsChanged(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    onStats_ = std::move(hook);
}

void RecordingView::testStatsChanged() {
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++statsRedraws_;
        hook = onStats_;
    }
    if (hook) {
        hook();
    }
}

void RecordingView::setSpinnerAnimating(GUISpinner spinner, bool animating) {
    std::lock_guard<std::mutex> lock(mutex_);
    animating_[spinner] = animating;
    if (animating) {
        ++animationStarts_[spinner];
    }
}

std::optional<std::string> RecordingView::askLogFileName(const std::string& /*directory*/,
                                                         const std::string& proposedName) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++logFileQuestions_;
    lastProposedLogName_ = proposedName;
    return logFileAnswer_;
}

void RecordingView::startPullDownSheetWithMessage(const std::string& message) {
    std::lock_guard<std::mutex> lock(mutex_);
    sheets_.push_back(message);
    ++openSheets_;
}

void RecordingView::endPullDownSheet() {
    std::lock_guard<std::mutex> lock(mutex_);
    --openSheets_;
}

void RecordingView::showUnitInfo(const std::vector<std::pair<std::string, std::string>>& info) {
    std::lock_guard<std::mutex> lock(mutex_);
    unitInfo_ = info;
}

void RecordingView::testEnded() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++testsEnded_;
}

} // namespace tolvarin
