#pragma once

#include "app/GUIView.h"
#include "app/SystemInfo.h"
#include "base/Media.h"
#include "platform/Env.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <array>
#include <atomic>
#include <memory>
#include <optional>
#include <vector>

class QLabel;
class QPushButton;
class QTabWidget;

namespace tolvarin {

class CursoryOptionsDialog;
class DiagnosticsPane;
class DiagnosticsOptionsDialog;
class DriveTable;
class GUIController;
class LogViewer;
class PreferencesWindow;
class ProgressSheet;
class QtAlertAnswerer;
class ScanPane;
class SystemInfoWindow;

// The main window: a view of the hub. The drive table, the six facts of the
// selected unit, the normal, cursory and diagnostics panes and their
// buttons; the menus open the log viewer, the preferences and the system
// information. Everything a test decides happens in the hub; the window
// shows what the hub holds and forwards the buttons.
//
// Threads: widgets are touched on the main thread only. Progress from the
// scan thread arrives as a queued redraw, at most one pending at a time and
// at most kMaxRedrawsPerSecond a second; spinners and buttons changed on
// other threads are queued too. The main thread never waits for the scan
// thread: quitting during a test stops it and lets the event loop run until
// the scan thread has ended.
class MainWindow : public QMainWindow, public GUIView {
    Q_OBJECT
  public:
    static constexpr int kMaxRedrawsPerSecond = 30;
    // How often a quit waiting for the end of a test looks again.
    static constexpr int kEndPollMillis = 20;

    // Tests hand in surroundings of their own (quick waits, recorded exits).
    explicit MainWindow(QWidget* parent = nullptr, Env& env = Env::standard());
    ~MainWindow() override;

    // The start-up sequence: the checks of the system programs and the
    // modules (an alert and System::terminate when one is missing; false
    // then), the system facts, the hub's start-up, and the drive table from
    // the disk tool.
    bool start();
    // The drive table from a media list (what start() does once the disk tool
    // has answered).
    void showMedia(const std::vector<Media>& media);

    GUIController& hub() { return *hub_; }
    QtAlertAnswerer& answerer() { return *answerer_; }
    DriveTable* driveTable() const { return table_; }
    ScanPane* normalPane() const { return normalPane_; }
    ScanPane* cursoryPane() const { return cursoryPane_; }
    DiagnosticsPane* diagnosticsPane() const { return diagnosticsPane_; }
    QTabWidget* panes() const { return tabs_; }
    // llabel1...llabel6 and label1...label6 (index 0 to 5).
    QLabel* infoCaption(int index) const { return captions_.at(static_cast<size_t>(index)); }
    QLabel* infoValue(int index) const { return values_.at(static_cast<size_t>(index)); }
    LogViewer* logViewer() const;
    PreferencesWindow* preferencesWindow() const;
    SystemInfoWindow* systemInfoWindow() const;
    CursoryOptionsDialog* cursoryOptionsDialog() const;
    DiagnosticsOptionsDialog* diagnosticsOptionsDialog() const;
    ProgressSheet* progressSheet() const { return sheet_; }
    const SystemInfo* systemInfo() const { return systemInfo_ ? &*systemInfo_ : nullptr; }
    // Whether the user chose to quit and the window waits for the test's end.
    bool quitting() const { return quitting_; }
    // Redraws of the progress fields so far.
    int redraws() const { return redraws_; }
    // What the status line says.
    QString statusText() const;

  public slots:
    void showLogViewer();
    void showPreferencePanel();
    void showSystemInformation();
    // resetTolvarinPreferences: message 19, then every chosen service off
    // and on again.
    void resetTolvarinPreferences();

  signals:
    // The window closed for good (the user quit and any test has ended).
    void quitFinished();

  public:
    // --- GUIView (any thread) ------------------------------------------------
    void setButtonEnabled(GUIButton button, bool enabled) override;
    void testStatsChanged() override;
    void setSpinnerAnimating(GUISpinner spinner, bool animating) override;
    std::optional<std::string> askLogFileName(const std::string& directory,
                                              const std::string& proposedName) override;
    void startPullDownSheetWithMessage(const std::string& message) override;
    void endPullDownSheet() override;
    void wakeMainThread() override;
    void showUnitInfo(const std::vector<std::pair<std::string, std::string>>& info) override;
    void showUnitUnderTest(const std::string& name, const std::string& identifier) override;
    void testEnded() override;
    void diagnosticsStatsChanged() override;
    void diagnosticsEnded() override;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    QWidget* buildInfoBox();
    void buildMenus();
    void connectButtons();
    // The ten buttons as the hub holds them (diagnostics stays off).
    void applyButtons();
    QPushButton* buttonFor(GUIButton button) const;
    void scheduleRedraw();
    // processTestStats
    void redrawNow();
    // The selected unit's index trend, read again from its stored tests.
    void refreshTrend();
    void refreshMap();
    void selectionChanged(int row);
    void startPressed(bool normal);
    void openCursoryOptions();
    void openDiagnosticsOptions();
    void startDiagnosticsPressed();
    // The test has ended: the window closes for good.
    void finishQuit();
    // Services back on, the other windows hidden, the close let through.
    void prepareToClose();
    void showEndOfTest();

    // The window's surroundings: clock, tools and the end of the program
    // (which flushes what was printed and ends at once).
    Env& env_;
    std::shared_ptr<QtAlertAnswerer> answerer_;
    std::unique_ptr<GUIController> hub_;
    std::optional<SystemInfo> systemInfo_;

    DriveTable* table_;
    QTabWidget* tabs_;
    ScanPane* normalPane_;
    ScanPane* cursoryPane_;
    DiagnosticsPane* diagnosticsPane_;
    std::array<QLabel*, 6> captions_{};
    std::array<QLabel*, 6> values_{};
    ProgressSheet* sheet_;
    QPointer<LogViewer> logViewer_;
    QPointer<PreferencesWindow> preferences_;
    QPointer<SystemInfoWindow> systemInfoWindow_;
    QPointer<CursoryOptionsDialog> optionsDialog_;
    QPointer<DiagnosticsOptionsDialog> diagnosticsDialog_;

    std::atomic<bool> redrawPosted_{false};
    QElapsedTimer sinceRedraw_;
    // The live map is redrawn when the scan published, at most this often.
    static constexpr int kMapRefreshMillis = 200;
    QElapsedTimer sinceMap_;
    QTimer mapTimer_;
    uint64_t mapGeneration_ = 0;
    QTimer redrawTimer_;
    int redraws_ = 0;

    // Inside a hub operation that shows boxes of its own (a start).
    int busy_ = 0;
    bool quitting_ = false;
    bool closeAllowed_ = false;
    QTimer endWatch_;
};

} // namespace tolvarin
