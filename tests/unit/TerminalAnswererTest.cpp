#include "cli/TerminalAnswerer.h"
#include "platform/System.h"

#include <gtest/gtest.h>
#include <sstream>

namespace tolvarin {

namespace {

class TerminalAnswererTest : public ::testing::Test {
  protected:
    void TearDown() override { MessageCenter::resetForTests(); }

    TerminalAnswerer make(std::map<int, int> answers, bool yes, bool interactive,
                          const std::string& typed = "") {
        in.clear();
        in.str(typed);
        TerminalAnswerer answerer(std::move(answers), yes, in, out, err, interactive);
        answerer.setEndRun([this](int status) { exitStatus = status; });
        return answerer;
    }
    static Alert alert(int n) { return *MessageCenter::alertForNumber(n); }

    std::istringstream in;
    std::ostringstream out;
    std::ostringstream err;
    int exitStatus = -100;
};

} // namespace

TEST(TerminalAnswerParsing, AcceptsAMessageAndAButtonItHas) {
    EXPECT_EQ(TerminalAnswerer::parseAnswer("3=-1"), std::make_pair(3, -1));
    EXPECT_EQ(TerminalAnswerer::parseAnswer("25=0"), std::make_pair(25, 0));
    EXPECT_EQ(TerminalAnswerer::parseAnswer("1013=1"), std::make_pair(1013, 1));

    for (const char* bad : {"", "3", "=1", "3=", "3=2", "3=x", "x=1", "3=-1 ", " 3=1", "3==1",
                            "3=+1", "99=1", "-1=1", "1=0", "0=-1", "99999999999=1"}) {
        std::string error;
        EXPECT_FALSE(TerminalAnswerer::parseAnswer(bad, &error)) << bad;
        EXPECT_NE(error.find("--answer"), std::string::npos) << bad;
    }
}

TEST_F(TerminalAnswererTest, GivenAnswersComeFirstThenYes) {
    auto answerer = make({{3, -1}, {0, 0}}, true, false);
    EXPECT_EQ(answerer.answer(alert(3)), -1);
    EXPECT_EQ(answerer.answer(alert(0)), 0);
    EXPECT_EQ(answerer.answer(alert(9)), 1);
    EXPECT_EQ(exitStatus, -100);
    // Every message is printed with its title, text and buttons.
    EXPECT_NE(out.str().find("Stop Option Selected"), std::string::npos);
    EXPECT_NE(out.str().find("[1] Save  [0] Cancel  [-1] Don't Save"), std::string::npos);
    EXPECT_NE(out.str().find("Answered: Don't Save (--answer 3=-1)"), std::string::npos);
}

TEST_F(TerminalAnswererTest, AnAnswerNamingAMissingButtonIsNotTaken) {
    auto answerer = make({{0, -1}}, true, false);
    EXPECT_EQ(answerer.answer(alert(0)), 1);
    EXPECT_NE(err.str().find("names no button"), std::string::npos);
}

TEST_F(TerminalAnswererTest, WithoutATerminalAnOpenQuestionEndsTheRunWithStatus3) {
    auto answerer = make({{3, -1}}, false, false);
    int answer = answerer.answer(alert(0));
    EXPECT_EQ(exitStatus, 3);
    EXPECT_EQ(err.str(), "tolvarin-cli: message 0 \"You Are About to Launch a Scan\" needs an "
                         "answer (--answer 0=V)\n");
    // Had the process gone on, it would not have launched the scan.
    EXPECT_EQ(answer, 0);
}

TEST_F(TerminalAnswererTest, WithoutATerminalANoticeIsAcknowledged) {
    auto answerer = make({}, false, false);
    EXPECT_EQ(answerer.answer(alert(1)), 1);
    EXPECT_EQ(exitStatus, -100);
    EXPECT_NE(out.str().find("Test Completed."), std::string::npos);
}

TEST_F(TerminalAnswererTest, TheSmartTitleStaysOnOneLineInTheError) {
    auto answerer = make({}, false, true, "");
    // A terminal at end of input leaves a question open, but a notice is fine.
    EXPECT_EQ(answerer.answer(alert(5000)), 1);
    EXPECT_EQ(exitStatus, -100);
    answerer.answer(alert(2));
    EXPECT_EQ(exitStatus, 3);
    EXPECT_NE(err.str().find("message 2 \"Error Limit Exceeded\" needs an answer"),
              std::string::npos);

    Alert smart = alert(5000);
    smart.alternateButton = "Cancel";
    make({}, false, false).answer(smart);
    EXPECT_NE(err.str().find("\"ERROR 5000: ***CRITICAL ERROR *** S.M.A.R.T. STATUS FAILURE\""),
              std::string::npos);
}

TEST_F(TerminalAnswererTest, AtATerminalThePersonChooses) {
    EXPECT_EQ(make({}, false, true, "\n").answer(alert(3)), 1);
    EXPECT_EQ(make({}, false, true, "0\n").answer(alert(3)), 0);
    EXPECT_EQ(make({}, false, true, "  -1  \n").answer(alert(3)), -1);
    EXPECT_EQ(make({}, false, true, "don't save\n").answer(alert(3)), -1);
    // A reply that names no button is asked again.
    out.str("");
    EXPECT_EQ(make({}, false, true, "7\n-1\ncancel\n").answer(alert(0)), 0);
    EXPECT_NE(out.str().find("Please answer with one of: 1 = OK, 0 = Cancel"), std::string::npos);
    EXPECT_EQ(exitStatus, -100);
}

TEST_F(TerminalAnswererTest, InstalledItAnswersTheMessageCentre) {
    auto answerer = std::make_shared<TerminalAnswerer>(std::map<int, int>{{16, -1}}, false, in, out,
                                                       err, false);
    answerer->setEndRun([this](int status) { exitStatus = status; });
    MessageCenter::setAnswerer(answerer);
    EXPECT_EQ(MessageCenter::generateAlertDialogWithNumber(16), -1);
    EXPECT_EQ(MessageCenter::generateAlertDialogWithNumber(17), 1); // unanswered: resume, status 3
    EXPECT_EQ(exitStatus, 3);
}

} // namespace tolvarin
