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

void FakeScanHost::setDeviceBeingTestedString(const std::string& text) {
    record("setDeviceBeingTestedString", text);
}
void FakeScanHost::setTypeOfTestString(const std::string& text) {
    record("setTypeOfTestString", text);
}
void FakeScanHost::setCurrentTestRangeString(const std::string& text) {
    record("setCurrentTestRangeString", text);
}
void FakeScanHost::setTotalSurfaceScanErrorsString(const std::string& text) {
    record("setTotalSurfaceScanErrorsString", text);
}
void FakeScanHost::setTotalSurfaceScanIrregularitiesString(const std::string& text) {
    record("setTotalSurfaceScanIrregularitiesString", text);
}
void FakeScanHost::setTotalSeekScanErrorString(const std::string& text) {
    record("setTotalSeekScanErrorString", text);
}
void FakeScanHost::setTotalSeekScanIrregularitiesString(const std::string& text) {
    record("setTotalSeekScanIrregularitiesString", text);
}
void FakeScanHost::setTotalErrorsString(const std::string& text) {
    record("setTotalErrorsString", text);
}
void FakeScanHost::setTotalIrregularitiesString(const std::string& text) {
    record("setTotalIrregularitiesString", text);
}
void FakeScanHost::setSurfacePercentage(double fraction) {
    record("setSurfacePercentage", "", fraction);
}
void FakeScanHost::setSeekPercentage(double fraction) {
    record("setSeekPercentage", "", fraction);
}
void FakeScanHost::resetButtons() {
    record("resetButtons");
}

void FakeScanHost::startNormalSurfaceScanSpinnerThread() {
    record("startNormalSurfaceScanSpinnerThread");
}
void FakeScanHost::stopNormalSurfaceScanSpinnerThread() {
    record("stopNormalSurfaceScanSpinnerThread");
}
void FakeScanHost::setNormalSurfaceScanSpinnerLocation(int64_t location) {
    record("setNormalSurfaceScanSpinnerLocation", "", static_cast<double>(location));
}
void FakeScanHost::startCursorySurfaceScanSpinnerThread() {
    record("startCursorySurfaceScanSpinnerThread");
}
void FakeScanHost::stopCursorySurfaceScanSpinnerThread() {
    record("stopCursorySurfaceScanSpinnerThread");
}
void FakeScanHost::setCursorySurfaceScanSpinnerLocation(int64_t location) {
    record("setCursorySurfaceScanSpinnerLocation", "", static_cast<double>(location));
}
void FakeScanHost::resumeFormalTest() {
    record("resumeFormalTest");
}
void FakeScanHost::resumeCursoryTest() {
    record("resumeCursoryTest");
}
void FakeScanHost::enableSystemItemsFromScanController() {
    record("enableSystemItemsFromScanController");
}

void FakeScanHost::setUnderTest(bool value) {
    record("setUnderTest", "", value ? 1 : 0);
}
void FakeScanHost::startNormalSeekScanSpinnerThread() {
    record("startNormalSeekScanSpinnerThread");
}
void FakeScanHost::stopNormalSeekScanSpinnerThread() {
    record("stopNormalSeekScanSpinnerThread");
}
void FakeScanHost::setNormalSeekScanSpinnerLocation(int64_t location) {
    record("setNormalSeekScanSpinnerLocation", "", static_cast<double>(location));
}
void FakeScanHost::startCursorySeekScanSpinnerThread() {
    record("startCursorySeekScanSpinnerThread");
}
void FakeScanHost::stopCursorySeekScanSpinnerThread() {
    record("stopCursorySeekScanSpinnerThread");
}
void FakeScanHost::setCursorySeekScanSpinnerLocation(int64_t location) {
    record("setCursorySeekScanSpinnerLocation", "", static_cast<double>(location));
}

} // namespace tolvarin
