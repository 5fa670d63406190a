#include "tests/support/ScanFixture.h"

#include "logging/Logger.h"
#include "logging/MessageCenter.h"
#include "platform/SafeFile.h"

#include <sstream>

namespace tolvarin {

ScanFixture::ScanFixture() : logPath(dir.path() + "/Log.txt") {
    MessageCenter::resetForTests();
    Logger::resetForTests();
    MessageCenter::setAnswerer(answers);
    Logger::setUserLogFileNameAndPathWithString(logPath);
}

ScanFixture::~ScanFixture() {
    MessageCenter::resetForTests();
    Logger::resetForTests();
}

std::string ScanFixture::log() const {
    return SafeFile::read(logPath).value_or("");
}

std::vector<std::string> ScanFixture::linesWith(const std::string& text,
                                                const std::string& needle) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.find(needle) != std::string::npos) {
            out.push_back(line);
        }
    }
    return out;
}

} // namespace tolvarin
