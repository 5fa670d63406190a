#include "diagnostics/DiagnosticsHistory.h"
#include "platform/SafeFile.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace tolvarin {

namespace {

const char* const kStamp = "18:35:54, Sun. Dec.  6, 2026";

std::vector<std::string> reasons(const DiagnosticsHistory& h) {
    std::vector<std::string> out;
    for (const auto& r : h.refused()) {
        out.push_back(std::to_string(r.line) + ": " + r.reason);
    }
    return out;
}

} // namespace

TEST(DiagnosticsHistory, ScanSetsRunFromOneSurfaceStartToTheNextWithTheirRecords) {
    std::string text = std::string("SRTS:") + kStamp + "\n" +
                       "SSE:5000:0\n"
                       "SSI:1048576000:2.500000:1\n"
                       "SKTS:19:00:00, Sun. Dec.  6, 2026\n"
                       "SKE:5000:900000\n"
                       "SKI:104857600:2621440000\n"
                       "SRTS:later\n"
                       "SRTS:latest\n";
    DiagnosticsHistory h = DiagnosticsHistory::fromText(text);
    EXPECT_TRUE(h.refused().empty());
    ASSERT_EQ(h.scanSets().size(), 3u);
    // Two starts in a row make an empty set that still counts as the last.
    EXPECT_TRUE(h.scanSets()[1].empty());
    EXPECT_TRUE(h.scanSets()[2].empty());
    const auto& first = h.scanSets()[0];
    ASSERT_EQ(first.size(), 4u);
    EXPECT_EQ(first[0], DiagResults(kStamp, "Surface Scan", "Error", 5000, 5000, 999999.999999));
    EXPECT_EQ(first[1],
              DiagResults(kStamp, "Surface Scan", "Irregularity", 1048576000, 1048576000, 2.5));
    // Seek records carry the seek scan's stamp, in the surface scan's set.
    EXPECT_EQ(first[2], DiagResults("19:00:00, Sun. Dec.  6, 2026", "Seek Scan", "Error", 5000,
                                    900000, 999999.999999));
    EXPECT_EQ(first[3].stopRange(), 2621440000);
    EXPECT_DOUBLE_EQ(first[3].duration(), 0.7);
    EXPECT_EQ(h.recordCount(), 4u);
    EXPECT_FALSE(h.holdsNoFindings());

    EXPECT_TRUE(DiagnosticsHistory::fromText("").holdsNoFindings());
    EXPECT_TRUE(DiagnosticsHistory::fromText("SRTS:x\nSRTS:y\n").holdsNoFindings());
}

TEST(DiagnosticsHistory, DamagedRecordsAreRefusedWithTheirLineNeverGuessed) {
    std::string text = "SSE:1:0\n"                    // 1: before any scan set
                       "SRTS:a\n"                     // 2
                       "SSE:12x:0\n"                  // 3
                       "SSI:4096:nan:1\n"             // 4
                       "SSI:4096:-0.5:1\n"            // 5
                       "SSE:4096\n"                   // 6: a field short
                       "SKE:-5:10\n"                  // 7: no negative offsets
                       "SKI:10:20:30\n"               // 8: a field too many
                       "GARBAGE\n"                    // 9
                       "\n"                           // 10: blank, ignored
                       "SSE:99999999999999999999:0\n" // 11: past 64 bits
                       "SSI:8192:0.700000:3\n"        // 12: sound
                       + std::string(600, 'S') + "\n" // 13: too long for a record
                       + "SSE:1048576000:1";          // 14: cut short by a crash
    DiagnosticsHistory h = DiagnosticsHistory::fromText(text);
    ASSERT_EQ(h.scanSets().size(), 1u);
    ASSERT_EQ(h.scanSets()[0].size(), 1u);
    EXPECT_EQ(h.scanSets()[0][0].startRange(), 8192);
    EXPECT_EQ(reasons(h), (std::vector<std::string>{
                              "1: recorded before the first surface scan start",
                              "3: the offset is not a byte count",
                              "4: the read time is not a time in seconds",
                              "5: the read time is not a time in seconds",
                              "6: 1 fields where the record has 2",
                              "7: the offset is not a byte count",
                              "8: 3 fields where the record has 2",
                              "9: not a record",
                              "11: the offset is not a byte count",
                              "13: longer than a record can be",
                              "14: the record was cut short",
                          }));
    // The shown text is cut and free of control characters.
    EXPECT_EQ(h.refused()[9].text.size(), 83u);
    const char withNul[] = "SRTS:\nSSE:1\0:0\n";
    DiagnosticsHistory binary =
        DiagnosticsHistory::fromText(std::string(withNul, sizeof(withNul) - 1));
    ASSERT_EQ(binary.refused().size(), 1u);
    EXPECT_EQ(binary.refused()[0].text, "SSE:1?:0");
}

TEST(DiagnosticsHistory, FileIsReadWithoutFollowingALinkAndProblemsAreSaid) {
    TempDir dir;
    const std::string path = dir.path() + "/unit.dia";
    ASSERT_TRUE(SafeFile::replace(path, "SRTS:a\nSSE:512:0\n"));
    DiagnosticsHistory h = DiagnosticsHistory::loadDiagTestDataIntoArray(path);
    EXPECT_TRUE(h.problem().empty());
    EXPECT_EQ(h.recordCount(), 1u);

    const std::string link = dir.path() + "/link.dia";
    ASSERT_EQ(::symlink(path.c_str(), link.c_str()), 0);
    DiagnosticsHistory linked = DiagnosticsHistory::loadDiagTestDataIntoArray(link);
    EXPECT_NE(linked.problem().find("symbolic link"), std::string::npos) << linked.problem();
    EXPECT_TRUE(linked.scanSets().empty());

    DiagnosticsHistory missing = DiagnosticsHistory::loadDiagTestDataIntoArray(dir.path() + "/x");
    EXPECT_FALSE(missing.problem().empty());
    EXPECT_TRUE(missing.holdsNoFindings());
}

TEST(DiagnosticsHistory, ProcessAndDateHelpers) {
    DiagnosticsHistory::ScanSet set;
    EXPECT_EQ(DiagnosticsHistory::processDiagDataToArray(set, "SKE:5000:900000\n", "d"), "");
    EXPECT_EQ(DiagnosticsHistory::processDiagDataToArray(set, "XYZ:1:2\n", "d"), "not a record");
    ASSERT_EQ(set.size(), 1u);
    EXPECT_TRUE(set[0].isSeekScan());
    EXPECT_TRUE(set[0].isError());
    EXPECT_EQ(DiagnosticsHistory::extractDiagDateFromString("SRTS:10:00:00, Mon.\n"),
              "10:00:00, Mon.");
    EXPECT_EQ(DiagnosticsHistory::extractDiagDateFromString("SRTS:"), "");
}

} // namespace tolvarin
