#include "cli/ListCommand.h"

#include "app/DriveListLoader.h"
#include "platform/Env.h"
#include "platform/System.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace tolvarin {

namespace {

constexpr size_t kColumns = 7;
using Row = std::array<std::string, kColumns>;

std::string trimmed(const std::string& text) {
    auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return "";
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string orDash(const std::string& text) {
    std::string value = trimmed(text);
    return value.empty() ? "-" : value;
}

// Display width of UTF-8 text: one column per character.
size_t displayWidth(const std::string& text) {
    return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

// A disk's type is its partition scheme; a volume's is what it holds (a
// Linux volume, an encrypted container, swap...) and, when known, its file
// system, which tells an XFS volume from a Btrfs one.
Row rowFor(const Media& m) {
    if (m.isPrimaryDisk()) {
        return {m.primaryDiskID(),
                orDash(m.primaryDiskSize()),
                orDash(m.primaryDiskPartitionType()),
                "-",
                orDash(m.interfaceType()),
                orDash(m.SMARTStatus()),
                "Primary Drive " + m.primaryDiskID()};
    }
    return {"  " + m.volumeDiskID(),         orDash(m.volumePartitionSize()),
            orDash(m.volumePartitionType()), orDash(m.volumeFileSystem()),
            orDash(m.interfaceType()),       orDash(m.SMARTStatus()),
            orDash(m.volumeName())};
}

} // namespace

std::string formatDriveTable(const std::vector<Media>& media) {
    std::vector<Row> rows{
        {"IDENTIFIER", "SIZE", "TYPE", "FILE SYSTEM", "INTERFACE", "SMART", "NAME"}};
    for (const Media& m : media) {
        rows.push_back(rowFor(m));
    }
    std::array<size_t, kColumns> widths{};
    for (const Row& row : rows) {
        for (size_t c = 0; c < kColumns; ++c) {
            widths[c] = std::max(widths[c], displayWidth(row[c]));
        }
    }
    std::string table;
    for (const Row& row : rows) {
        std::string line;
        for (size_t c = 0; c < kColumns; ++c) {
            line += row[c];
            if (c + 1 < kColumns) {
                line.append(widths[c] - displayWidth(row[c]) + 2, ' ');
            }
        }
        table += line + "\n";
    }
    return table;
}

nlohmann::json driveListJson(const std::vector<Media>& media) {
    static const std::array<const char*, kColumns> names = {
        "identifier", "size", "type", "fileSystem", "interface", "smart", "name"};
    nlohmann::json units = nlohmann::json::array();
    for (const Media& m : media) {
        Row row = rowFor(m);
        nlohmann::json unit{{"kind", m.isPrimaryDisk() ? "disk" : "volume"},
                            {"disk", m.primaryDiskID()}};
        for (size_t c = 0; c < kColumns; ++c) {
            // The table's indentation and its dash for "nothing" are for the eye.
            std::string value = trimmed(row[c]);
            unit[names[c]] = value == "-" ? nlohmann::json(nullptr) : nlohmann::json(value);
        }
        units.push_back(std::move(unit));
    }
    return nlohmann::json{{"command", "list"}, {"units", std::move(units)}};
}

int runListCommand(bool json) {
    DriveListLoader loader([](const std::string& reason) {
        std::fprintf(stderr, "tolvarin-cli: %s\n", reason.c_str());
        Env::standard().exitProcess(-1);
    });
    std::vector<Media> media = loader.loadMediaList(System::releaseName(System::kernelRelease()));
    if (media.empty()) {
        std::fprintf(stderr, "tolvarin-cli: no disks found: %s\n", loader.problem().c_str());
        return 3;
    }
    if (json) {
        std::fputs((driveListJson(media).dump(2) + "\n").c_str(), stdout);
    } else {
        std::fputs(formatDriveTable(media).c_str(), stdout);
    }
    std::fflush(stdout);
    return 0;
}

} // namespace tolvarin
