#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tolvarin {

// One numbered message as the user sees it. An absent button is empty.
struct Alert {
    int number = 0;
    std::string title;
    std::string text;
    std::string defaultButton;   // answer 1
    std::string alternateButton; // answer 0
    std::string otherButton;     // answer -1

    // Whether the alert has the button that gives answer.
    bool offers(int answer) const;
    // The label of the button that gives answer; empty when there is none.
    std::string buttonFor(int answer) const;
};

// Who puts a message to the user: a window in the desktop face, the terminal
// in the CLI, a script in tests. answer() is called on the asking thread and
// returns only when the user has chosen; a face that must show the panel on
// its own thread hops there and waits. Answers: 1 default, 0 alternate,
// -1 other.
class AlertAnswerer {
  public:
    virtual ~AlertAnswerer() = default;
    virtual int answer(const Alert& alert) = 0;
};

// Every question or notice the program puts to the user, by number: 0 to 32
// for scans, options and diagnostics, 1000 to 1015 for sizing and data-file
// integrity errors (1014 files without a drive header, 1015 forgetting a
// unit), 2000 for the adjusted limited range and 5000 for a
// S.M.A.R.T. failure. Callers on any thread ask and wait; one message is
// pending at a time.
class MessageCenter {
  public:
    static constexpr int kDefaultAnswer = 1;
    static constexpr int kAlternateAnswer = 0;
    static constexpr int kOtherAnswer = -1;

    // Puts message n to the user and answers the button chosen. A number
    // outside the catalogue shows nothing and answers the previous choice
    // (0 before any). With no answerer installed the message's safe answer
    // is taken and logged to the console.
    static int generateAlertDialogWithNumber(int n);

    // The message as it would be shown now (2000 carries the current cursory
    // range); nullopt for a number outside the catalogue.
    static std::optional<Alert> alertForNumber(int n);
    // Every number of the catalogue, in order.
    static std::vector<int> messageNumbers();
    // The answer taken when nobody can be asked: the only button of a notice;
    // for a question the button that neither deletes data, nor starts,
    // continues or repairs anything, nor opens anything.
    static int safeAnswerForNumber(int n);
    // Whether the default button of message n deletes stored results (the
    // unit's data files): such a question is never answered for the user.
    static bool defaultDestroys(int n);

    static void setAnswerer(std::shared_ptr<AlertAnswerer> answerer);
    static std::shared_ptr<AlertAnswerer> answerer();

    // The range message 2000 shows.
    static void setCursoryStart(double value);
    static void setCursoryEnd(double value);
    static double cursoryStart();
    static double cursoryEnd();

    // The last number asked, the last alert's answer, the last answer handed back.
    static int inputValue();
    static int choice();
    static int returnValue();

    // No answerer, no previous answer, range 0 to 0.
    static void resetForTests();
};

} // namespace tolvarin
