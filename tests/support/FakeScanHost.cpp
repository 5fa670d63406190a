#include "tests/support/FakeScanHost.h"

namespace tolvarin {

void FakeScanHost::setOnCall(std::function<void(const Call&)> hook) {
    std::lock_guard lock(mutex_);
    onCall_ = hook ? std::make_shared<std::function<void(const Call&)>>(std::move(hook)) : nullptr;
}

void FakeScanHost::record(const std::string& name, const std::string& text, double number) {
    Call call{name, text, number};
    std::shared_ptr<std::function<void(const Call&)>> hook;
    {
        std::lock_guard lock(mutex_);
        calls_.push_back(call);
        hook = onCall_;
    }
    if (hook) {
        (*hook)(call);
    }
}

std::vector<FakeScanHost::Call> FakeScanHost::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

std::vector<std::string> FakeScanHost::callNames() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> names;
    names.reserve(calls_.size());
    for (const auto& c : calls_) {
        names.push_back(c.name);
    }
    return names;
}

int FakeScanHost::count(const std::string& name) const {
    std::lock_guard lock(mutex_);
    int n = 0;
    for (const auto& c : calls_) {
        n += c.name == name ? 1 : 0;
    }
    return n;
}

std::string FakeScanHost::lastText(const std::string& name) const {
    std::lock_guard lock(mutex_);
    for (auto it = calls_.rbegin(); it != calls_.rend(); ++it) {
        if (it->name == name) {
            return it->text;
        }
    }
    return "";
}

double FakeScanHost::lastNumber(const std::string& name) const {
    std::lock_guard lock(mutex_);
    for (auto it = calls_.rbegin(); it != calls_.rend(); ++it) {
        if (it->name == name) {
            return it->number;
        }
    }
    return 0;
}

std::vector<double> FakeScanHost::numbers(const std::string& name) const {
    std::lock_guard lock(mutex_);
    std::vector<double> out;
    for (const auto& c : calls_) {
        if (c.name == name) {
            out.push_back(c.number);
        }
    }
    return out;
}

void FakeScanHost::clear() {
    std::lock_guard lock(mutex_);
    calls_.clear();
}

void FakeScanHost::showProgress(const ScanProgress& p) {
    record("setDeviceBeingTestedString", p.deviceBeingTested);
    record("setTypeOfTestString", p.typeOfTest);
    record("setCurrentTestRangeString", p.currentTestRange);
    record("setTotalSurfaceScanErrorsString", std::to_string(p.surfaceErrors));
    record("setTotalSurfaceScanIrregularitiesString", std::to_string(p.surfaceIrregularities));
    record("setTotalSeekScanErrorString", std::to_string(p.seekErrors));
    record("setTotalSeekScanIrregularitiesString", std::to_string(p.seekIrregularities));
    record("setTotalErrorsString", std::to_string(p.totalErrors));
    record("setTotalIrregularitiesString", std::to_string(p.totalIrregularities));
    record("setSurfacePercentage", "", p.surfacePercentage);
    record("setSeekPercentage", "", p.seekPercentage);
}

ScanOptions FakeScanHost::scanOptions() const {
    ScanOptions o;
    o.normalScan = normalScanValue.load();
    o.probeInto = probeIntoValue.load();
    o.attemptToRepairBadSectors = attemptToRepairBadSectorsValue.load();
    o.doSurfaceScan = doSurfaceScanValue.load();
    o.doSeekScan = doSeekScanValue.load();
    o.cursoryLimitedScanSelected = cursoryLimitedScanSelectedValue.load();
    o.limitedCursoryScanStartByte = limitedCursoryScanStartByteValue.load();
    o.limitedCursoryScanEndByte = limitedCursoryScanEndByteValue.load();
    o.queueDepth = queueDepthValue.load();
    return o;
}

void FakeScanHost::resetButtons() {
    record("resetButtons");
}

void FakeScanHost::resumeTest(bool normal) {
    record(normal ? "resumeFormalTest" : "resumeCursoryTest");
}

void FakeScanHost::spinner(SpinnerPane pane, SpinnerScan scan, SpinnerAction action,
                           int64_t location) {
    std::string paneName = pane == SpinnerPane::normal    ? "Normal"
                           : pane == SpinnerPane::cursory ? "Cursory"
                                                          : "Diagnostics";
    std::string scanName = scan == SpinnerScan::surface ? "SurfaceScanSpinner" : "SeekScanSpinner";
    switch (action) {
    case SpinnerAction::start:
        record("start" + paneName + scanName + "Thread");
        break;
    case SpinnerAction::stop:
        record("stop" + paneName + scanName + "Thread");
        break;
    case SpinnerAction::locate:
        record("set" + paneName + scanName + "Location", "", static_cast<double>(location));
        break;
    }
}

void FakeScanHost::enableSystemItemsFromScanController() {
    record("enableSystemItemsFromScanController");
}

void FakeScanHost::setUnderTest(bool value) {
    record("setUnderTest", "", value ? 1 : 0);
}

void FakeScanHost::endProgram(int status) {
    record("endProgram", "", status);
    env_.exitProcess(status);
}

} // namespace tolvarin
