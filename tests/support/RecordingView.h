#pragma once

#include "app/GUIView.h"

#include <array>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tolvarin {

// A GUIView for hub tests: remembers every button state it was given, the
// spinner animations, the sheets shown, the log file questions and the
// progress redraws. The log file answer is set by the test (nullopt:
// cancel). Safe to call from scan and watcher threads.
class RecordingView : public GUIView {
  public:
    void setLogFileAnswer(std::optional<std::string> path);
    // Called (outside the record lock, on the caller's thread) after each
    // progress redraw: lets a test press a button at a chosen moment.
    void setOnStatsChanged(std::function<void()> hook);

    std::array<bool, kGUIButtonCount> buttons() const;
    bool animating(GUISpinner spinner) const;
    int animationStarts(GUISpinner spinner) const;
    std::vector<std::string> sheets() const;
    int logFileQuestions() const;
    std::string lastProposedLogName() const;
    int statsRedraws() const;
    int testsEnded() const;
    std::vector<std::pair<std::string, std::string>> unitInfo() const;

    void setButtonEnabled(GUIButton button, bool enabled) override;
    void testStatsChanged() override;
    void setSpinnerAnimating(GUISpinner spinner, bool animating) override;
    std::optional<std::string> askLogFileName(const std::string& directory,
                                              const std::string& proposedName) override;
    void startPullDownSheetWithMessage(const std::string& message) override;
    void endPullDownSheet() override;
    void showUnitInfo(const std::vector<std::pair<std::string, std::string>>& info) override;
    void testEnded() override;

  private:
    mutable std::mutex mutex_;
    std::optional<std::string> logFileAnswer_;
    std::function<void()> onStats_;
    std::array<bool, kGUIButtonCount> buttons_{};
    std::map<GUISpinner, bool> animating_;
    std::map<GUISpinner, int> animationStarts_;
    std::vector<std::string> sheets_;
    int openSheets_ = 0;
    int logFileQuestions_ = 0;
    std::string lastProposedLogName_;
    int statsRedraws_ = 0;
    int testsEnded_ = 0;
    std::vector<std::pair<std::string, std::string>> unitInfo_;
};

} // namespace tolvarin
