#include "app/UserWording.h"

#include <utility>

namespace tolvarin {

namespace UserWording {

std::string sheetMessage(const std::string& designed) {
    static const std::pair<const char*, const char*> words[] = {
        {"Unloading the MDS Process", "Pausing the desktop file indexer"},
        {"Re-loading the MDS Process", "Resuming the desktop file indexer"},
        {"Disabling Time Machine Backups", "Pausing scheduled backups"},
        {"Re-enabling Time Machine Backups", "Resuming scheduled backups"},
        {"Disabling Power Management Drive Sleep", "Keeping the drive from going to sleep"},
        {"Re-enabling Power Management Drive Sleep", "Letting the drive go to sleep again"},
    };
    for (const auto& [from, to] : words) {
        if (designed == from) {
            return to;
        }
    }
    return designed;
}

} // namespace UserWording

} // namespace tolvarin
