#pragma once

#include "app/UnitHistory.h"
#include "base/TestMeasurements.h"
#include "base/TestResults.h"

#include <nlohmann/json.hpp>
#include <string>

namespace tolvarin {

// What --json says of a test's measurements and of a unit's history (the
// fields are described in the README, "--json: measurements").
namespace MeasurementJson {

// The "measurements" member of a test's summary: null when the test
// measured nothing (it never began).
nlohmann::json ofTest(const TestResults& results);
nlohmann::json ofMeasurements(const TestMeasurements& m);
// A latency histogram: its buckets and a few quantiles.
nlohmann::json ofHistogram(const LatencyHistogram& h);
// One test of a history (date, kind, indices, counts, verdict, changes).
nlohmann::json historyEntry(const MeasurementArchive::Entry& entry);
// The whole history of a unit.
nlohmann::json ofHistory(const std::string& unit, const UnitHistory& history);

} // namespace MeasurementJson

} // namespace tolvarin
