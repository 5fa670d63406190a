#pragma once

#include "base/Media.h"

#include <string>
#include <vector>

namespace tolvarin {

// tolvarin-cli list: loads the Unitprobe module as the application does and
// prints the drive table on standard output. Answers the exit status: 0 with
// a table, 3 when no disk could be listed (the reason goes to standard
// error). A missing module ends the program as at the application's start-up.
int runListCommand();

// The drive table: one row per media record, whole disks first-level and
// their volumes indented under them, with identifier, size, interface, SMART
// status and name (the row title of the drive table).
std::string formatDriveTable(const std::vector<Media>& media);

} // namespace tolvarin
