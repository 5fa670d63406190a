#include "app/UnitHistory.h"

namespace tolvarin {

UnitHistory UnitHistory::of(const std::string& dataDirectory,
                            const std::vector<std::string>& target) {
    UnitHistory history;
    history.filePrefix = MeasurementArchive::findPrefix(dataDirectory, target);
    if (history.filePrefix.empty()) {
        return history;
    }
    MeasurementArchive archive(dataDirectory, history.filePrefix);
    history.folder = archive.folder();
    history.entries = archive.entries();
    return history;
}

} // namespace tolvarin
