#pragma once

#include "base/Media.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace tolvarin {

// tolvarin-cli list: loads the Unitprobe module as the application does and
// prints the drive table on standard output. Answers the exit status: 0 with
// a table, 3 when no disk could be listed (the reason goes to standard
// error). A missing module ends the program as at the application's start-up.
// With json, the same rows as driveListJson instead of the table.
int runListCommand(bool json = false);

// The drive table: one row per media record, whole disks first-level and
// their volumes indented under them, with identifier, size, interface, SMART
// status and name (the row title of the drive table).
std::string formatDriveTable(const std::vector<Media>& media);

// The drive table for scripts: {"command": "list", "units": [...]}, one
// object per row with kind ("disk" or "volume"), disk (the whole disk's
// identifier) and the table's columns, null where the table shows "-".
nlohmann::json driveListJson(const std::vector<Media>& media);

} // namespace tolvarin
