#pragma once

#include "base/Media.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tolvarin {

// The drive table and the unit chosen in it: the media records, the
// selected record, its raw device path, its target drive description (the
// lines matched against the drive headers), its size and, once a normal
// test has matched it, its file prefix.
class UnitSelection {
  public:
    using Captions = std::vector<std::pair<std::string, std::string>>;

    void setCurrentMediaArray(std::vector<Media> media);
    std::vector<Media> currentMediaArray() const;

    // Makes media the selection; answers the six caption/value pairs that
    // describe it. A size text that cannot be read leaves a size of 0.
    Captions select(const Media& media);

    // The row title of a record: "Primary Drive ID" or the volume name.
    static std::string rowTitleFor(const Media& media);
    // The size a size text ("500.1 GB") gives with decimal multipliers, if
    // its unit is known.
    static std::optional<int64_t> sizeFromText(const std::string& sizeText);
    // Sets the target size from a size text; another text keeps the size.
    void setTargetSize(const std::string& sizeText);

    int64_t targetSize() const { return targetSize_.load(); }
    std::string rawTargetDevice() const;
    std::vector<std::string> targetDriveInfo() const;
    std::string selectedItem() const;
    Media data() const;
    std::string fileNamePrefix() const;
    void setFileNamePrefix(const std::string& prefix);

  private:
    mutable std::mutex mutex_;
    std::vector<Media> currentMediaArray_;
    Media data_;
    std::string selectedItem_;
    std::string rawTargetDevice_;
    std::vector<std::string> targetDriveInfo_;
    std::string fileNamePrefix_;
    std::atomic<int64_t> targetSize_{0};
};

} // namespace tolvarin
