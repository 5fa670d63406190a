#pragma once

#include "app/GUIView.h"
#include "platform/SystemServices.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>

namespace tolvarin {

class Clock;

// Turns the system services that disturb timed reads off around a test and
// back on after it, as the preferences ask. Only services this system has
// are switched; one it lacks is said once in the system log and its step
// (the progress notice and the settling pause) is skipped entirely. Only
// what was turned off is turned back on. Safe from any thread: one switch
// sequence at a time.
class ServiceGuard {
  public:
    // The pause after each switch, for the service to settle.
    static constexpr int64_t kServiceSettleMicros = 1000000;

    ServiceGuard(GUIView& view, const Clock& clock, SystemServices& services)
        : view_(view), clock_(clock), services_(services) {}

    // The preferences: which services a test turns off.
    bool unloadMDS() const { return unloadMDS_.load(); }
    void setUnloadMDS(bool value) { unloadMDS_.store(value); }
    bool disableTM() const { return disableTM_.load(); }
    void setDisableTM(bool value) { disableTM_.store(value); }
    bool disableDriveSleep() const { return disableDriveSleep_.load(); }
    void setDisableDriveSleep(bool value) { disableDriveSleep_.store(value); }

    // Whether the services are as the system had them (none turned off).
    bool systemItemsLoaded() const { return systemItemsLoaded_.load(); }

    // Turns the chosen services off for a test of the unit at device (drive
    // sleep belongs to its whole disk); nothing when they already are.
    void disableSystemItems(const std::string& device);
    // Turns back on what was turned off; nothing when nothing was.
    void enableSystemItems();

  private:
    using Service = SystemServices::Service;
    void step(Service service, bool off, const char* notice);

    GUIView& view_;
    const Clock& clock_;
    SystemServices& services_;
    std::atomic<bool> unloadMDS_{true};
    std::atomic<bool> disableTM_{false};
    std::atomic<bool> disableDriveSleep_{false};
    std::atomic<bool> systemItemsLoaded_{true};

    std::mutex mutex_;
    std::set<Service> turnedOff_;
    std::set<Service> saidMissing_;
    // The device drive sleep was turned off for; it is turned back on for the
    // same one even if the selection changed meanwhile.
    std::string device_;
};

} // namespace tolvarin
