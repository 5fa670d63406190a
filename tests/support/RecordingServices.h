#pragma once

#include "platform/SystemServices.h"

#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace tolvarin {

// System services for tests: each switch is noted ("indexing OFF",
// "driveSleep ON /dev/sdz"); every service is present unless the test says
// otherwise.
class RecordingServices : public SystemServices {
  public:
    bool present(Service service, const std::string& /*device*/) override {
        std::lock_guard<std::mutex> lock(mutex_);
        return missing_.count(service) == 0;
    }
    bool turnOff(Service service, const std::string& device) override {
        note(service, "OFF", device);
        return true;
    }
    bool turnOn(Service service, const std::string& device) override {
        note(service, "ON", device);
        return true;
    }

    void setMissing(Service service) {
        std::lock_guard<std::mutex> lock(mutex_);
        missing_.insert(service);
    }
    std::vector<std::string> switched() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return switched_;
    }

  private:
    void note(Service service, const char* word, const std::string& device) {
        static const char* const names[] = {"indexing", "backups", "driveSleep"};
        std::string line = std::string(names[static_cast<int>(service)]) + " " + word;
        if (service == Service::driveSleep) {
            line += " " + device;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        switched_.push_back(line);
    }

    mutable std::mutex mutex_;
    std::set<Service> missing_;
    std::vector<std::string> switched_;
};

} // namespace tolvarin
