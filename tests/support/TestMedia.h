#pragma once

#include "base/Media.h"

#include <string>

namespace tolvarin {

// Media records as the drive list holds them, with the fields the catalogue
// reads: a whole disk, and a volume on one.
Media testDisk(const std::string& id, const std::string& size, const std::string& interface,
               const std::string& uuid = "");
Media testVolume(const Media& on, const std::string& id, const std::string& size,
                 const std::string& uuid);

} // namespace tolvarin
