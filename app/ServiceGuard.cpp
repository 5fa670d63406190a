#include "app/ServiceGuard.h"

#include "base/Clock.h"
#include "platform/System.h"

namespace tolvarin {

void ServiceGuard::step(Service service, bool off, const char* notice) {
    if (!off && turnedOff_.count(service) == 0) {
        return;
    }
    if (off && !services_.present(service, device_)) {
        if (saidMissing_.insert(service).second) {
            System::consoleLog(SystemServices::nameOf(service) +
                               " is not present on this system; it is not switched.");
        }
        return;
    }
    view_.startPullDownSheetWithMessage(notice);
    bool done = off ? services_.turnOff(service, device_) : services_.turnOn(service, device_);
    if (!done) {
        System::consoleLog(SystemServices::nameOf(service) + " could not be turned " +
                           (off ? "off." : "back on."));
    }
    if (off) {
        turnedOff_.insert(service);
    } else {
        turnedOff_.erase(service);
    }
    clock_.sleepMicros(kServiceSettleMicros);
    view_.endPullDownSheet();
}

void ServiceGuard::disableSystemItems(const std::string& device) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!systemItemsLoaded_.load()) {
        return;
    }
    device_ = device;
    if (unloadMDS()) {
        step(Service::indexing, true, "Unloading the MDS Process");
    }
    if (disableTM()) {
        step(Service::backups, true, "Disabling Time Machine Backups");
    }
    if (disableDriveSleep()) {
        step(Service::driveSleep, true, "Disabling Power Management Drive Sleep");
    }
    systemItemsLoaded_.store(false);
}

void ServiceGuard::enableSystemItems() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (systemItemsLoaded_.load()) {
        return;
    }
    step(Service::indexing, false, "Re-loading the MDS Process");
    step(Service::backups, false, "Re-enabling Time Machine Backups");
    step(Service::driveSleep, false, "Re-enabling Power Management Drive Sleep");
    systemItemsLoaded_.store(true);
}

} // namespace tolvarin
