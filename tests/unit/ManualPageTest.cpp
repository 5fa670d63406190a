#include "cli/CliOptions.h"

#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace tolvarin {

namespace {

using Options = std::set<std::string>;
using OptionsByCommand = std::map<std::string, Options>;

Options optionsIn(const std::string& text) {
    static const std::regex option("--[a-z][a-z-]*");
    Options found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), option);
         it != std::sregex_iterator(); ++it) {
        found.insert(it->str());
    }
    return found;
}

std::string wordAfter(const std::string& text, const std::string& marker) {
    auto at = text.find(marker);
    if (at == std::string::npos) {
        return "";
    }
    std::istringstream rest(text.substr(at + marker.size()));
    std::string word;
    rest >> word;
    return word;
}

// A roff line as the reader sees it: no macro name, fonts, quotes or escapes.
std::string plain(std::string line) {
    if (!line.empty() && line[0] == '.') {
        auto space = line.find(' ');
        line = space == std::string::npos ? "" : line.substr(space + 1);
    }
    std::string out;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) {
            char next = line[i + 1];
            if (next == 'f' && i + 2 < line.size()) {
                i += 2; // font change
            } else if (next == '-' || next == ' ') {
                out += next;
                ++i;
            } else {
                ++i; // \& and the like print nothing
            }
        } else if (line[i] != '"') {
            out += line[i];
        }
    }
    return out;
}

struct UsageText {
    OptionsByCommand commands;
    Options common;
};

UsageText parseUsage(const std::string& text) {
    UsageText usage;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::string command = wordAfter(line, "tolvarin-cli ");
        if (!command.empty()) {
            usage.commands[command] = optionsIn(line);
        } else if (line.rfind("common options:", 0) == 0) {
            usage.common = optionsIn(line);
        }
    }
    return usage;
}

struct ManualPage {
    OptionsByCommand synopsis;         // each command's line of the synopsis
    Options synopsisCommon;            // the paragraph after them
    Options commandsDescribed;         // the terms of COMMANDS
    OptionsByCommand optionsDescribed; // the terms of OPTIONS, by the commands of their subsection
    Options commonDescribed;           // the terms of OPTIONS' "Common options"
};

ManualPage parseManualPage(const std::string& path) {
    ManualPage page;
    std::ifstream in(path);
    EXPECT_TRUE(in) << path;
    std::string section;
    std::string subsection;
    std::string synopsisCommand;
    bool term = false;
    std::string line;
    while (std::getline(in, line)) {
        const std::string text = plain(line);
        if (line.rfind(".SH", 0) == 0) {
            section = text;
            continue;
        }
        if (line.rfind(".SS", 0) == 0) {
            subsection = text;
            continue;
        }
        if (line.rfind(".TP", 0) == 0) {
            term = true;
            continue;
        }
        const bool isTerm = term;
        term = false;
        if (section == "SYNOPSIS") {
            if (line.rfind(".PP", 0) == 0) {
                synopsisCommand.clear();
            } else if (std::string command = wordAfter(text, "tolvarin-cli "); !command.empty()) {
                synopsisCommand = command;
                page.synopsis[command];
            } else if (synopsisCommand.empty()) {
                page.synopsisCommon.merge(optionsIn(text));
            } else {
                page.synopsis[synopsisCommand].merge(optionsIn(text));
            }
        } else if (section == "COMMANDS" && isTerm) {
            std::istringstream words(text);
            std::string command;
            words >> command;
            page.commandsDescribed.insert(command);
        } else if (section == "OPTIONS" && isTerm) {
            if (subsection == "Common options") {
                page.commonDescribed.merge(optionsIn(text));
                continue;
            }
            std::istringstream words(subsection);
            for (std::string word; words >> word;) {
                if (word != "Options" && word != "of" && word != "and") {
                    page.optionsDescribed[word].merge(optionsIn(text));
                }
            }
        }
    }
    return page;
}

} // namespace

// The manual page and the usage text must name the same commands, each with
// the same options, and the page must describe every one of them.
TEST(ManualPage, ListsTheCommandsAndOptionsOfTheUsageText) {
    const UsageText usage = parseUsage(cliUsage());
    ASSERT_FALSE(usage.commands.empty());
    ASSERT_FALSE(usage.common.empty());
    const ManualPage page =
        parseManualPage(std::string(TOLVARIN_TEST_DATA) + "/../../packaging/man/tolvarin-cli.1");

    EXPECT_EQ(page.synopsis, usage.commands);
    EXPECT_EQ(page.synopsisCommon, usage.common);
    EXPECT_EQ(page.commonDescribed, usage.common);

    Options commands;
    OptionsByCommand withOptions;
    for (const auto& [command, options] : usage.commands) {
        commands.insert(command);
        if (!options.empty()) {
            withOptions[command] = options;
        }
    }
    EXPECT_EQ(page.commandsDescribed, commands);
    EXPECT_EQ(page.optionsDescribed, withOptions);
}

} // namespace tolvarin
