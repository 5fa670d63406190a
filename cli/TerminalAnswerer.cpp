#include "cli/TerminalAnswerer.h"

#include "platform/System.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <iostream>
#include <mutex>
#include <unistd.h>

namespace tolvarin {

namespace {

const int kAnswerOrder[] = {MessageCenter::kDefaultAnswer, MessageCenter::kAlternateAnswer,
                            MessageCenter::kOtherAnswer};

bool parseInt(const std::string& text, int* out) {
    if (text.empty()) {
        return false;
    }
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, *out);
    return ec == std::errc() && ptr == end;
}

std::string trimmed(const std::string& text) {
    auto begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) {
        return "";
    }
    auto end = text.find_last_not_of(" \t\r\n");
    return text.substr(begin, end - begin + 1);
}

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// One line for the error message: the S.M.A.R.T. title spans two.
std::string oneLine(std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
}

bool isNotice(const Alert& alert) {
    return alert.alternateButton.empty() && alert.otherButton.empty();
}

std::string choices(const Alert& alert) {
    std::string text;
    for (int answer : kAnswerOrder) {
        if (alert.offers(answer)) {
            text += (text.empty() ? "" : ", ") + std::to_string(answer) + " = " +
                    alert.buttonFor(answer);
        }
    }
    return text;
}

} // namespace

TerminalAnswerer::TerminalAnswerer(std::map<int, int> answers, bool yes)
    : TerminalAnswerer(std::move(answers), yes, std::cin, std::cerr, std::cerr,
                       ::isatty(STDIN_FILENO) == 1) {}

TerminalAnswerer::TerminalAnswerer(std::map<int, int> answers, bool yes, std::istream& in,
                                   std::ostream& out, std::ostream& err, bool interactive)
    : answers_(std::move(answers)), yes_(yes), in_(in), out_(out), err_(err),
      interactive_(interactive) {}

std::optional<std::pair<int, int>> TerminalAnswerer::parseAnswer(const std::string& text,
                                                                 std::string* error) {
    auto fail = [&](const std::string& why) -> std::optional<std::pair<int, int>> {
        if (error != nullptr) {
            *error = "--answer " + text + ": " + why;
        }
        return std::nullopt;
    };
    auto eq = text.find('=');
    if (eq == std::string::npos) {
        return fail("takes N=V with V one of 1, 0, -1");
    }
    int number = 0;
    int value = 0;
    if (!parseInt(text.substr(0, eq), &number)) {
        return fail("N must be a message number");
    }
    if (!parseInt(text.substr(eq + 1), &value) ||
        (value != MessageCenter::kDefaultAnswer && value != MessageCenter::kAlternateAnswer &&
         value != MessageCenter::kOtherAnswer)) {
        return fail("V must be one of 1, 0, -1");
    }
    std::optional<Alert> alert = MessageCenter::alertForNumber(number);
    if (!alert) {
        return fail("there is no message " + std::to_string(number));
    }
    if (!alert->offers(value)) {
        return fail("message " + std::to_string(number) + " has no button for " +
                    std::to_string(value) + " (" + choices(*alert) + ")");
    }
    return std::make_pair(number, value);
}

std::string TerminalAnswerer::describe(const Alert& alert) {
    std::string text = "\n=== Message " + std::to_string(alert.number) + ": " +
                       oneLine(alert.title) + " ===\n" + alert.text;
    if (text.back() != '\n') {
        text += "\n";
    }
    text += "Buttons: ";
    bool first = true;
    for (int answer : kAnswerOrder) {
        if (alert.offers(answer)) {
            text += std::string(first ? "" : "  ") + "[" + std::to_string(answer) + "] " +
                    alert.buttonFor(answer);
            first = false;
        }
    }
    return text + "\n";
}

int TerminalAnswerer::answer(const Alert& alert) {
    // One question at a time on the terminal, whichever thread asks.
    static std::mutex asking;
    std::lock_guard<std::mutex> lock(asking);
    out_ << describe(alert);
    auto given = answers_.find(alert.number);
    if (given != answers_.end()) {
        if (alert.offers(given->second)) {
            out_ << "Answered: " << alert.buttonFor(given->second) << " (--answer " << alert.number
                 << "=" << given->second << ")\n";
            out_.flush();
            return given->second;
        }
        err_ << "tolvarin-cli: --answer " << alert.number << "=" << given->second
             << " names no button of this message\n";
    }
    // --yes never deletes stored results: such a default needs --answer.
    if (yes_ && !MessageCenter::defaultDestroys(alert.number)) {
        out_ << "Answered: " << alert.defaultButton << " (--yes)\n";
        out_.flush();
        return MessageCenter::kDefaultAnswer;
    }
    if (interactive_) {
        if (std::optional<int> chosen = askAtTerminal(alert)) {
            return *chosen;
        }
    } else if (isNotice(alert)) {
        out_ << "Answered: " << alert.defaultButton << "\n";
        out_.flush();
        return MessageCenter::kDefaultAnswer;
    }
    return unanswered(alert);
}

std::optional<int> TerminalAnswerer::askAtTerminal(const Alert& alert) {
    for (;;) {
        if (isNotice(alert)) {
            out_ << "Press Enter for " << alert.defaultButton << ": ";
        } else {
            out_ << "Your choice (" << choices(alert) << ") [" << MessageCenter::kDefaultAnswer
                 << "]: ";
        }
        out_.flush();
        std::string line;
        if (!std::getline(in_, line)) {
            out_ << "\n";
            // A notice needs nobody; a question left open at end of input
            // is unanswered.
            if (isNotice(alert)) {
                return MessageCenter::kDefaultAnswer;
            }
            return std::nullopt;
        }
        std::string reply = trimmed(line);
        if (reply.empty()) {
            return MessageCenter::kDefaultAnswer;
        }
        int number = 0;
        for (int answer : kAnswerOrder) {
            if (alert.offers(answer) && ((parseInt(reply, &number) && number == answer) ||
                                         lowered(reply) == lowered(alert.buttonFor(answer)))) {
                return answer;
            }
        }
        out_ << "Please answer with one of: " << choices(alert) << "\n";
    }
}

int TerminalAnswerer::unanswered(const Alert& alert) {
    err_ << "tolvarin-cli: message " << alert.number << " \"" << oneLine(alert.title)
         << "\" needs an answer (--answer " << alert.number << "=V)\n";
    err_.flush();
    if (endRun_) {
        endRun_(3);
    }
    // Only reached when the end did not happen (tests): take the answer
    // that neither deletes nor starts anything.
    return MessageCenter::safeAnswerForNumber(alert.number);
}

} // namespace tolvarin
