#pragma once

#include "unitprobe/CmdProcessor.h"
#include "unitprobe/MediaStructure.h"

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace tolvarin {

// Finds every disk and every usable volume by running the disk tool and
// parsing what it prints: the fixed-column listing, one information report
// per disk and volume and, on one release, the software-RAID listing. All the
// work happens in initWithOSString; afterwards the object only answers its
// getters. The operations the application calls across the module boundary
// are virtual.
class Unitprobe {
  public:
    Unitprobe() = default;
    virtual ~Unitprobe() = default;
    Unitprobe(const Unitprobe&) = delete;
    Unitprobe& operator=(const Unitprobe&) = delete;

    // Runs the whole enumeration. The argument (the application's own name
    // for the release) is not used: the release is determined here.
    virtual void initWithOSString(const std::string& osString);

    virtual const std::vector<MediaStructure>& mediaStructureArray() const;
    virtual void setMediaStructureArray(const std::vector<MediaStructure>& array);

    // Why the disk tool gave no usable listing (it could not be started,
    // printed nothing, or printed no disk), or "" when it listed disks.
    virtual std::string diskToolProblem() const;

    // The release name for the running kernel; prints it to standard error.
    std::string OSVersion() const;

    // The disk tool's listing / information report on device, split at "\n".
    std::vector<std::string> listMediaToVector();
    std::vector<std::string> listMediaDetailsToVector(const std::string& device);

    // Fills record from an information report.
    void setMediaStructureElements(const std::vector<std::string>& report, MediaStructure& record);
    // Software-RAID facts: set node, SMART text, protocol, internal text per set.
    void setRaidDetails();

    static bool testIfOptical(const std::vector<std::string>& report);
    static bool isFATVolume(const std::string& partitionType);
    // The text between the first and second ":" of a report line, trimmed.
    static std::string extractString(const std::string& line);
    // A listing header: an unindented line naming a device node.
    static bool isDeviceHeader(const std::string& line);
    // Text split at every "\n" (an empty text gives one empty line).
    static std::vector<std::string> splitLines(const std::string& text);
    // Characters [from, to) of line, trimmed; counted in characters, not
    // bytes, so that a name with accents does not shift the later columns.
    static std::string column(const std::string& line, size_t from, size_t to);

    const std::vector<std::string>& output() const { return output_; }
    void setOutput(const std::vector<std::string>& lines) { output_ = lines; }
    int mediaCount() const { return mediaCount_; }
    const std::string& osString() const { return osString_; }
    bool hasAppleRAID() const { return hasAppleRAID_; }
    const std::vector<std::string>& raidDetails() const { return raidDetails_; }
    const std::array<size_t, 6>& listIndex() const { return listIndex_; }
    const CmdProcessor* generalCP() const { return generalCP_.get(); }
    const CmdProcessor* detailCP() const { return detailCP_.get(); }
    // Declared for the record but never filled here; the application takes
    // these facts from its own system information.
    const std::string& cpuType() const { return cpuType_; }
    const std::string& userName() const { return userName_; }
    const std::string& fullUserName() const { return fullUserName_; }
    const std::string& userHomeDir() const { return userHomeDir_; }

  protected:
    // The kernel release; tests replace it to parse listings of other releases.
    virtual std::string kernelRelease() const;

  private:
    // Runs the disk tool with args through a fresh runner kept in runner.
    std::vector<std::string> runDiskTool(std::unique_ptr<CmdProcessor>& runner,
                                         const std::vector<std::string>& args);
    void setColumnLayout();
    void removeRaidMembers(std::vector<std::string>& lines,
                           const std::vector<std::string>& members) const;
    std::vector<std::vector<std::string>> groupListing(const std::vector<std::string>& lines);
    void buildRecords(const std::vector<std::vector<std::string>>& groups);
    void noteListingProblem(const std::vector<std::string>& lines);

    int mediaCount_ = 0;
    std::vector<std::string> output_;
    std::array<size_t, 6> listIndex_{0, 5, 32, 56, 68, 80};
    std::vector<MediaStructure> mediaStructureArray_;
    std::vector<std::string> raidDetails_;
    std::unique_ptr<CmdProcessor> generalCP_;
    std::unique_ptr<CmdProcessor> detailCP_;
    std::string cpuType_;
    std::string userName_;
    std::string fullUserName_;
    std::string userHomeDir_;
    std::string osString_;
    bool hasAppleRAID_ = false;
    std::string diskToolProblem_;
};

} // namespace tolvarin
