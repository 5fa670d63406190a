#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvarin {

class Quarrykit;

// The record of a normal test under way on a unit. A normal test rewrites the
// unit's files in many steps (scan files, folds into the averages, copies);
// only some of the states between those steps can be told apart afterwards.
// So the test's start copies the unit's files into the backup folder and then
// writes this record, and the test's end removes it: a record found when the
// next test starts belongs to a test that ended without anybody deciding
// about its files (the process was killed, the machine lost power), and that
// test is undone from its backup. A test stopped with "Save" removes the
// record too, so that the next one offers to resume it.
//
// The record is a hidden file in the backup folder, ".PREFIX.run", listing
// the backed-up names; hidden names never appear in the file utility's
// listings, so the backup and catalogue code never sees it. Removing it is
// the moment a test's files become the unit's files; the backup copies go
// only after that, so an interruption at any point leaves either a whole
// backup with its record or no record at all.
class RunJournal {
  public:
    // kit is not owned and must outlive the object.
    RunJournal(Quarrykit& kit, std::string tolvarinDir, std::string filePrefix);

    std::string backupDirectory() const;
    std::string recordPath() const;
    // The record while a roll-back is under way (".PREFIX.undo").
    std::string undoPath() const;

    // A record of a test that did not end is present.
    bool underWay() const;

    // Copies the unit's files into the backup folder and writes the record.
    // Answers false (no record written: an interruption then leaves the files
    // as the test left them) when a copy or the record could not be written.
    bool begin();
    // The test ended with its files kept: the record goes, then the backups.
    bool commit();
    // The unit's files go back to what begin() copied: every backed-up file
    // is put back, every other file of the unit is deleted, then the record
    // and the backups go. Without a record, or with a backup copy missing,
    // nothing is touched (answer false) and the record, if any, is dropped:
    // the integrity check then deals with the files as they are.
    bool rollBack();
    // The record and the backups go without putting anything back (the
    // unit's files are being deleted).
    void discard();
    // After a roll-back that did not finish: which of the unit's files stand
    // how (put back, as before the test, changed or made by the test,
    // missing, not a file) and what the next start does about it, in words
    // for the user. Empty after a finished roll-back.
    const std::string& rollBackProblem() const { return rollBackProblem_; }

    // The text of a record for these names, and the names a record text
    // holds (nullopt when it is no record: the first line is wrong, or a
    // name is not one of this unit's files).
    static std::string recordText(const std::vector<std::string>& names);
    std::optional<std::vector<std::string>> namesIn(std::string_view text) const;

  private:
    bool removeRecord();
    // Sets rollBackProblem_ from the files as they stand now; kept: whether
    // the record (and the whole backup) stays for the next start.
    bool unfinished(const std::vector<std::string>& backedUp, bool kept);

    Quarrykit& kit_;
    std::string tolvarinDir_;
    std::string filePrefix_;
    std::string rollBackProblem_;
};

} // namespace tolvarin
