#pragma once

#include "base/Media.h"
#include "unitprobe/MediaStructure.h"

#include <functional>
#include <string>
#include <vector>

namespace tolvarin {

// The hub's share of start-up for the drive list: loads the Unitprobe module
// from the resources folder, lets it enumerate the disks and copies its
// records into Media objects.
class DriveListLoader {
  public:
    // An empty list is asked for again, but not for ever: a machine whose
    // disk tool is broken would otherwise hang at start-up.
    static constexpr int kMaxLoadAttempts = 3;

    // onFatal, when given, hears why the program cannot go on (the module is
    // missing or makes no object); the caller ends it with status -1.
    explicit DriveListLoader(std::function<void(const std::string&)> onFatal = {});

    // The media list; empty when the module could not be used (onFatal has
    // been told) or no disk was found after
    // kMaxLoadAttempts enumerations. problem() says why.
    std::vector<Media> loadMediaList(const std::string& osString);

    const std::string& problem() const { return problem_; }
    int attempts() const { return attempts_; }

    // The application's copy of one record / of the whole result list.
    static Media mediaFromRecord(const MediaStructure& record);
    static std::vector<Media> mediaFromRecords(const std::vector<MediaStructure>& records);

  private:
    // One enumeration; false (after ending the program) when the module fails.
    bool enumerate(const std::string& osString, std::vector<Media>& media);
    void fail(const std::string& logLine, const std::string& reason);

    std::function<void(const std::string&)> onFatal_;
    std::string problem_;
    int attempts_ = 0;
};

} // namespace tolvarin
