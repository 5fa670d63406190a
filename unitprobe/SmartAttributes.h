#pragma once

#include "base/TestMeasurements.h"

#include <string>

namespace tolvarin {

// The attributes of a unit that tell of it getting worse, from what
// `smartctl --json -a DEVICE` printed: reallocated, pending and
// uncorrectable sectors, interface CRC errors (ATA), media errors (NVMe),
// grown defects (SCSI, as reallocated sectors) and the temperature.
namespace SmartAttributes {

// The smartctl options that print them.
inline constexpr const char* kSmartctlOptions[] = {"--json", "-a"};

// A reading from smartctl's JSON; not available (with the reason) when the
// text holds no attributes smartctl could read.
SmartReading fromSmartctlJson(const std::string& text);

} // namespace SmartAttributes

} // namespace tolvarin
