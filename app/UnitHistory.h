#pragma once

#include "store/MeasurementFile.h"

#include <string>
#include <vector>

namespace tolvarin {

// The history of a unit: every test whose measurements were kept beside
// the unit's files, oldest first, each with its date, kind, indices, counts,
// verdict and S.M.A.R.T. changes; a file that cannot be read stays in the
// list with the reason.
struct UnitHistory {
    std::string filePrefix; // empty: no stored unit matches
    std::string folder;
    std::vector<MeasurementArchive::Entry> entries;

    // Finds the unit's stored files by its target drive description (writing
    // nothing) and reads its measurement files.
    static UnitHistory of(const std::string& dataDirectory, const std::vector<std::string>& target);
};

} // namespace tolvarin
