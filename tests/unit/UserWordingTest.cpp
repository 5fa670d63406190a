#include "app/UserWording.h"
#include "logging/MessageCenter.h"

#include <gtest/gtest.h>

namespace tolvarin {

// What a person reads names this system's programs, places and services,
// not those of the system the program was first designed for.
TEST(UserWordingTest, MessagesAndNoticesSpeakOfThisSystem) {
    const char* foreign[] = {"TextEdit", "OS X",   "Spotlight",    "mds server", "Time Machine",
                             "/Volumes", "manual", "Disk Utility", "Finder",     "Mac "};
    for (int n : MessageCenter::messageNumbers()) {
        Alert alert = *MessageCenter::alertForNumber(n);
        for (const char* word : foreign) {
            EXPECT_EQ(alert.text.find(word), std::string::npos) << n << " names " << word;
            EXPECT_EQ(alert.title.find(word), std::string::npos) << n << " names " << word;
        }
    }
    EXPECT_NE(MessageCenter::alertForNumber(8)->text.find("default document viewer"),
              std::string::npos);

    for (const char* designed :
         {"Unloading the MDS Process", "Re-loading the MDS Process",
          "Disabling Time Machine Backups", "Re-enabling Time Machine Backups",
          "Disabling Power Management Drive Sleep", "Re-enabling Power Management Drive Sleep"}) {
        std::string shown = UserWording::sheetMessage(designed);
        EXPECT_NE(shown, designed);
        EXPECT_EQ(shown.find("MDS"), std::string::npos);
        EXPECT_EQ(shown.find("Time Machine"), std::string::npos);
    }
    EXPECT_EQ(UserWording::sheetMessage("Resetting"), "Resetting");
}

} // namespace tolvarin
