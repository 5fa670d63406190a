#include "base/TestMeasurements.h"

namespace tolvarin {

std::vector<SmartChange> smartChangesBetween(const SmartReading& before,
                                             const SmartReading& after) {
    std::vector<SmartChange> changes;
    if (!before.available || !after.available) {
        return changes;
    }
    for (const char* name : kSmartAttributeNames) {
        auto b = before.values.find(name);
        auto a = after.values.find(name);
        if (b != before.values.end() && a != after.values.end() && b->second != a->second) {
            changes.push_back({name, b->second, a->second});
        }
    }
    return changes;
}

bool UnitDescription::seekTimesMeaningful() const {
    return !imageFile && transport != "loop" && rotational.value_or(true) && !nvme;
}

std::string UnitDescription::summary() const {
    std::string text = imageFile ? "image file" : transport;
    if (usbBridge && transport != "usb") {
        text += ", USB bridge";
    }
    if (rotational) {
        text += *rotational ? ", rotational" : ", solid state";
    }
    return text;
}

} // namespace tolvarin
