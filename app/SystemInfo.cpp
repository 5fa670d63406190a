#include "app/SystemInfo.h"

#include "platform/LaunchingUser.h"
#include "platform/ModuleLoader.h"
#include "platform/Paths.h"
#include "platform/System.h"
#include "unitprobe/CmdProcessor.h"

#include <fstream>
#include <memory>
#include <pwd.h>
#include <sstream>
#include <vector>

namespace tolvarin {

namespace {

using ShellgateFactory = CmdProcessor* (*)();

std::string readText(const std::string& path) {
    std::ifstream in(path);
    if (!in) {
        return "";
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string trimmed(const std::string& text) {
    const char* blanks = " \t\r\n";
    std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) {
        return "";
    }
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// The kernel line, through the command runner of the Shellgate module.
std::string kernelFromRunner() {
    std::string error;
    void* factory =
        ModuleLoader::findFactory(ModuleLoader::modulePath("Shellgate"), "Shellgate", &error);
    if (factory == nullptr) {
        System::consoleLog("********* BUNDLE NOT FOUND!!! **********");
        return "";
    }
    std::unique_ptr<CmdProcessor> runner(reinterpret_cast<ShellgateFactory>(factory)());
    if (!runner) {
        System::consoleLog("CLASS NOT LOADED PROPERLY");
        return "";
    }
    runner->setCommand("uname");
    runner->setArgs({"-srm"});
    runner->processCommand(runner->command(), runner->args());
    return trimmed(runner->returnData());
}

} // namespace

SystemInfo::SystemInfo() {
    Sources sources;
    sources.cpuinfo = readText("/proc/cpuinfo");
    sources.osRelease = readText("/etc/os-release");
    if (sources.osRelease.empty()) {
        sources.osRelease = readText("/usr/lib/os-release");
    }
    sources.kernel = kernelFromRunner();
    fillFrom(sources);
    fillUser();
}

SystemInfo::SystemInfo(const Sources& sources) {
    fillFrom(sources);
    fillUser();
}

void SystemInfo::fillFrom(const Sources& sources) {
    cpuType_ = cpuTypeFromCpuinfo(sources.cpuinfo);
    std::map<std::string, std::string> release = parseOsRelease(sources.osRelease);
    osVersion_ = release["VERSION_ID"];
    osName_ = !release["PRETTY_NAME"].empty() ? release["PRETTY_NAME"] : release["NAME"];
    OSString_ = releaseNameFor(osVersion_);
    kernel_ = trimmed(sources.kernel);
}

void SystemInfo::fillUser() {
    LaunchingUser user = LaunchingUser::current();
    userName_ = user.userName;
    userHomeDir_ = Paths::homeDirectory();
    fullUserName_ = user.userName;
    struct passwd entry {};
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(user.uid, &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_gecos != nullptr) {
        std::string name = fullNameFromGecos(found->pw_gecos);
        if (!name.empty()) {
            fullUserName_ = name;
        }
    }
}

std::string SystemInfo::cpuTypeFromCpuinfo(const std::string& cpuinfo) {
    // In order of preference: x86 names each processor, ARM and others name
    // the board or the core.
    static const char* const keys[] = {"model name", "Hardware", "cpu model", "Processor"};
    for (const char* key : keys) {
        std::istringstream lines(cpuinfo);
        std::string line;
        while (std::getline(lines, line)) {
            std::size_t colon = line.find(':');
            if (colon == std::string::npos || trimmed(line.substr(0, colon)) != key) {
                continue;
            }
            std::string value = trimmed(line.substr(colon + 1));
            if (!value.empty()) {
                return value;
            }
        }
    }
    return "";
}

std::map<std::string, std::string> SystemInfo::parseOsRelease(const std::string& text) {
    std::map<std::string, std::string> values;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        line = trimmed(line);
        std::size_t equals = line.find('=');
        if (line.empty() || line[0] == '#' || equals == std::string::npos || equals == 0) {
            continue;
        }
        std::string key = line.substr(0, equals);
        std::string raw = line.substr(equals + 1);
        std::string value;
        char quote = 0;
        if (!raw.empty() && (raw[0] == '"' || raw[0] == '\'')) {
            quote = raw[0];
            raw = raw.substr(1);
        }
        for (std::size_t i = 0; i < raw.size(); ++i) {
            char c = raw[i];
            if (quote != 0 && c == quote) {
                break;
            }
            if (c == '\\' && quote != '\'' && i + 1 < raw.size()) {
                value += raw[++i];
                continue;
            }
            value += c;
        }
        values[key] = value;
    }
    return values;
}

std::string SystemInfo::releaseNameFor(const std::string& osVersion) {
    static const std::pair<const char*, const char*> names[] = {
        {"10.3", "Panther"},      {"10.4", "Tiger"}, {"10.5", "Leopard"},
        {"10.6", "Snow Leopard"}, {"10.7", "Lion"},  {"10.0", "UNSUPPORTED"},
        {"10.1", "UNSUPPORTED"}};
    for (const auto& [number, name] : names) {
        if (osVersion == number) {
            return name;
        }
    }
    return "UNKNOWN";
}

std::string SystemInfo::fullNameFromGecos(const std::string& gecos) {
    return trimmed(gecos.substr(0, gecos.find(',')));
}

std::vector<std::pair<std::string, std::string>> SystemInfo::rows() const {
    auto orUnknown = [](const std::string& text) { return text.empty() ? "Unknown" : text; };
    return {{"Short User Name:", orUnknown(userName_)},
            {"Full User Name:", orUnknown(fullUserName_)},
            {"User Home Directory:", orUnknown(userHomeDir_)},
            {"Processor:", orUnknown(cpuType_)},
            {"Operating System:", orUnknown(osName_)},
            {"Release:", orUnknown(osVersion_)},
            {"Kernel:", orUnknown(kernel_)}};
}

} // namespace tolvarin
