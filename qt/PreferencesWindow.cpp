#include "qt/PreferencesWindow.h"

#include "app/GUIController.h"
#include "app/Preferences.h"
#include "platform/System.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <map>

namespace tolvarin {

namespace {
constexpr int kLowestLimit = 1;
constexpr int kHighestLimit = 100;
} // namespace

ErrorLimitBox::ErrorLimitBox(QWidget* parent) : QSpinBox(parent) {
    // Wider than the allowed range, so that a typed 0 or 250 arrives and
    // can be corrected with a word instead of being swallowed.
    setRange(0, 9999);
    setKeyboardTracking(false);
}

void ErrorLimitBox::stepBy(int steps) {
    setValue(std::clamp(value() + steps, kLowestLimit, kHighestLimit));
}

PreferencesWindow::PreferencesWindow(GUIController& hub, QWidget* parent)
    : QDialog(parent), hub_(hub), errorLimit_(new ErrorLimitBox(this)),
      probe_(new QCheckBox(QStringLiteral("Probe into a failing scan section"), this)),
      indexing_(new QCheckBox(QStringLiteral("Pause the desktop file indexer"), this)),
      backups_(new QCheckBox(QStringLiteral("Pause scheduled backups"), this)),
      driveSleep_(new QCheckBox(QStringLiteral("Keep the drive from going to sleep"), this)) {
    setWindowTitle(QStringLiteral("Tolvarin Preferences"));
    setObjectName(QStringLiteral("preferences"));
    errorLimit_->setObjectName(QStringLiteral("errorTextField"));
    probe_->setObjectName(QStringLiteral("probeIntoSweepButton"));
    indexing_->setObjectName(QStringLiteral("enableIndexingControlCheckbox"));
    backups_->setObjectName(QStringLiteral("disableTimeMachineCheckbox"));
    driveSleep_->setObjectName(QStringLiteral("disablePowerManagementCheckbox"));

    auto* scans = new QGroupBox(QStringLiteral("Scans"), this);
    auto* scanForm = new QFormLayout(scans);
    scanForm->addRow(QStringLiteral("Errors allowed before asking (1 to 100):"), errorLimit_);
    scanForm->addRow(probe_);

    auto* services = new QGroupBox(QStringLiteral("During a test"), this);
    auto* serviceLayout = new QVBoxLayout(services);
    serviceLayout->addWidget(indexing_);
    serviceLayout->addWidget(backups_);
    serviceLayout->addWidget(driveSleep_);
    auto* note = new QLabel(
        QStringLiteral("Each service is turned back on when the test ends. A service this "
                       "system does not run is left alone."),
        services);
    note->setWordWrap(true);
    serviceLayout->addWidget(note);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(scans);
    layout->addWidget(services);
    layout->addWidget(buttons);

    connect(errorLimit_, &QSpinBox::valueChanged, this, [this] { errorLimitEdited(); });
    for (QCheckBox* box : {probe_, indexing_, backups_, driveSleep_}) {
        connect(box, &QCheckBox::toggled, this, [this] { updateDefaults(); });
    }
    load();
}

void PreferencesWindow::load() {
    Preferences preferences;
    std::string error;
    if (!preferences.load(&error)) {
        System::consoleLog("Preferences not read, defaults shown: " + error);
    }
    loading_ = true;
    errorLimit_->setValue(preferences.integerForKey(Preferences::errorLimitKey));
    probe_->setChecked(preferences.integerForKey(Preferences::probeKey) == 1);
    indexing_->setChecked(preferences.integerForKey(Preferences::indexingControl) != 0);
    backups_->setChecked(preferences.integerForKey(Preferences::disableTimeMachine) != 0);
    driveSleep_->setChecked(preferences.integerForKey(Preferences::disablePowerManagement) != 0);
    loading_ = false;
}

void PreferencesWindow::errorLimitEdited() {
    if (loading_) {
        return;
    }
    int value = errorLimit_->value();
    if (value < kLowestLimit || value > kHighestLimit) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Tolvarin"),
                        QStringLiteral("Tolvarin Error Limits Must Be Between 1 and 100"),
                        QMessageBox::Ok, this);
        box.setInformativeText(QStringLiteral("If you selected a number outside these "
                                              "ranges,\n Tolvarin will reset it to the "
                                              "nearest allowable value."));
        box.exec();
        loading_ = true;
        errorLimit_->setValue(std::clamp(value, kLowestLimit, kHighestLimit));
        loading_ = false;
    }
    updateDefaults();
}

void PreferencesWindow::updateDefaults() {
    if (loading_) {
        return;
    }
    Preferences preferences;
    preferences.load();
    preferences.setIntegerForKey(probe_->isChecked() ? 1 : 0, Preferences::probeKey);
    preferences.setIntegerForKey(errorLimit_->value(), Preferences::errorLimitKey);
    preferences.setIntegerForKey(indexing_->isChecked() ? 1 : 0, Preferences::indexingControl);
    preferences.setIntegerForKey(backups_->isChecked() ? 1 : 0, Preferences::disableTimeMachine);
    preferences.setIntegerForKey(driveSleep_->isChecked() ? 1 : 0,
                                 Preferences::disablePowerManagement);
    std::string error;
    if (preferences.synchronize(&error)) {
        System::consoleLog("Tolvarin:  Preferences update succeeded.");
    } else {
        System::consoleLog("Tolvarin:   ERROR - Preferences update failed: " + error);
    }
    // The hub hears the values whether or not they could be stored.
    std::map<std::string, int> values = preferences.dictionary();
    hub_.progress().note().postNotificationName("UpdatePreferences", &values);
}

} // namespace tolvarin
