#pragma once

#include "app/DiagnosticsControl.h"
#include "app/GUIView.h"

#include <cstdint>
#include <iosfwd>
#include <mutex>
#include <optional>
#include <string>

namespace tolvarin {

class GUIController;

// The terminal face of the hub. On a terminal it keeps one self-rewriting
// status line (test type, range, surface and seek bars, error and
// irregularity totals); otherwise it writes a plain line at most once a
// second. Everything goes to one stream (standard error), so standard output
// stays free for the --json summary. Callable from any thread.
class CliView : public GUIView {
  public:
    // What the status line shows.
    struct Progress {
        bool normal = false;
        std::string typeOfTest;
        std::string range;
        double surface = 0;
        double seek = 0;
        std::string errors;
        std::string irregularities;
        bool stalled = false;
    };

    // Redraws on a terminal at most this often, and plain lines at most once
    // a second (engine clock).
    static constexpr int64_t kTerminalRedrawMicros = 100000;
    static constexpr int64_t kPlainLineMicros = 1000000;
    static constexpr int kBarWidth = 20;

    // logFile: the --log choice; without it the logger's proposed name in
    // the proposed folder is taken. width: the terminal's columns (the line
    // is cut to fit so that it never wraps).
    CliView(std::ostream& out, bool terminal, std::optional<std::string> logFile = std::nullopt,
            int width = 80);

    // The hub whose fields the status line shows; set before a test starts.
    void setController(const GUIController* controller);

    // While a message is put to the user the status line steps aside.
    void suspend();
    void resume();

    // GUIView
    void setButtonEnabled(GUIButton button, bool enabled) override;
    void testStatsChanged() override;
    void setSpinnerAnimating(GUISpinner spinner, bool animating) override;
    std::optional<std::string> askLogFileName(const std::string& directory,
                                              const std::string& proposedName) override;
    void startPullDownSheetWithMessage(const std::string& message) override;
    void endPullDownSheet() override;
    void testEnded() override;
    void diagnosticsStatsChanged() override;
    void diagnosticsEnded() override;

    // Below this many columns the terminal gets the compact line.
    static constexpr int kWideTerminal = 110;

    // The status line for progress (not cut).
    static std::string statusLine(const Progress& progress);
    // The line for a narrow terminal: the stall first, then type, the two
    // bars and the totals; the range only where width leaves room. Cut to
    // width - 1 so that it never wraps.
    static std::string compactStatusLine(const Progress& progress, int width);
    // The status line of a diagnostics run: its step, the two bars and the
    // six counters (not cut).
    static std::string diagnosticsStatusLine(const DiagnosticsPaneValues& pane, bool stalled);
    // "[#####...............]" for a fraction (clamped to 0..1).
    static std::string bar(double fraction, int width = kBarWidth);
    // The columns of the terminal: COLUMNS when set and sensible, else 80.
    static int terminalWidth();

  private:
    Progress progressNow() const;
    void draw(bool force);
    void clearLine();

    std::ostream& out_;
    const bool terminal_;
    const std::optional<std::string> logFile_;
    const int width_;

    mutable std::mutex mutex_;
    const GUIController* controller_ = nullptr;
    int suspended_ = 0;
    bool lineShown_ = false;
    bool stalled_ = false;
    bool diagnostics_ = false; // the line shows a diagnostics run
    bool drawnOnce_ = false;
    int64_t lastDraw_ = 0;
    std::string lastLine_;
};

} // namespace tolvarin
