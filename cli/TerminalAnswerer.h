#pragma once

#include "logging/MessageCenter.h"

#include <functional>
#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <utility>

namespace tolvarin {

// The terminal face's answerer. Every message is printed with its title,
// text and buttons, then answered by, in this order: an --answer N=V given
// for it, --yes (the default button), the person at the terminal. A notice
// with a single button needs no choice and is simply acknowledged. Without a
// terminal, a question nothing answers ends the run with status 3: nothing is
// chosen silently.
class TerminalAnswerer : public AlertAnswerer {
  public:
    // Talks on standard input and standard error (standard output stays free
    // for the --json summary); interactive when standard input is a terminal.
    TerminalAnswerer(std::map<int, int> answers, bool yes);
    // The same on given streams; the streams must outlive the answerer.
    TerminalAnswerer(std::map<int, int> answers, bool yes, std::istream& in, std::ostream& out,
                     std::ostream& err, bool interactive);

    int answer(const Alert& alert) override;

    // What ends the run when a question goes unanswered (the hub's end of
    // the program, services first); without one the question takes its
    // safe answer.
    using EndRun = std::function<void(int status)>;
    void setEndRun(EndRun endRun) { endRun_ = std::move(endRun); }

    // "N=V": N a message of the catalogue, V one of 1, 0, -1. Anything else
    // is bad usage, explained in error.
    static std::optional<std::pair<int, int>> parseAnswer(const std::string& text,
                                                          std::string* error = nullptr);

    // The message as printed: a title line, the text, the buttons.
    static std::string describe(const Alert& alert);

  private:
    std::optional<int> askAtTerminal(const Alert& alert);
    int unanswered(const Alert& alert);

    std::map<int, int> answers_;
    bool yes_;
    std::istream& in_;
    std::ostream& out_;
    std::ostream& err_;
    bool interactive_;
    EndRun endRun_;
};

} // namespace tolvarin
