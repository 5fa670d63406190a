#pragma once

#include "base/Media.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tolvarin {

// Finds the unit a face was given by name: an identifier of the drive list
// (sda, sda2, loop0) or the path of a block device or an image file. A unit
// is a block device or a regular file; anything else is refused.
class UnitLookup {
  public:
    enum class Problem {
        none,
        badInput,  // unknown, missing, not a unit, empty
        cannotUse, // there, but it cannot be looked at (permissions, ...)
    };
    struct Found {
        std::optional<Media> media; // nullopt: problem and error say why
        std::vector<Media> mediaArray;
        std::string error;
        Problem problem = Problem::none;
    };
    // The drive list; empty when none could be listed.
    using MediaLister = std::function<std::vector<Media>()>;

    // A name without "/" is looked up in the list (the lister runs only
    // then); a path is looked at itself, and a record is made up when the
    // drive list has none for it.
    static Found resolve(const std::string& unit, const MediaLister& lister);
    // The record of an image file or device that the drive list lacks.
    static Media mediaForPath(const std::string& path, int64_t size, bool imageFile);
};

} // namespace tolvarin
