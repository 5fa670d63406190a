#include "tests/support/FakeDiskTool.h"

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>

namespace tolvarin {

FakeDiskTool::FakeDiskTool(const std::string& folder) {
    install("d='" + folder +
            "'\n"
            "case \"$1\" in\n"
            "  list) cat \"$d/list.txt\" ;;\n"
            "  listRAID) cat \"$d/listRAID.txt\" ;;\n"
            "  info) f=\"$d/info-${2##*/}.txt\"; if [ -f \"$f\" ]; then cat \"$f\"; fi ;;\n"
            "esac\n"
            "exit 0\n");
}

FakeDiskTool::FakeDiskTool(Script, const std::string& body) {
    install(body);
}

std::unique_ptr<FakeDiskTool> FakeDiskTool::withScript(const std::string& scriptBody) {
    return std::unique_ptr<FakeDiskTool>(new FakeDiskTool(Script{}, scriptBody));
}

void FakeDiskTool::install(const std::string& body) {
    script_ = dir_.path() + "/disktool";
    {
        std::ofstream out(script_);
        out << "#!/bin/sh\n"
            << "echo \"$*\" >> '" << dir_.path() << "/calls.log'\n"
            << body;
        if (!out) {
            throw std::runtime_error("cannot write " + script_);
        }
    }
    ::chmod(script_.c_str(), 0755);
    env_ = std::make_unique<ScopedEnv>("TOLVARIN_DISKTOOL", script_);
}

std::vector<std::string> FakeDiskTool::calls() const {
    std::ifstream in(dir_.path() + "/calls.log");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

} // namespace tolvarin
