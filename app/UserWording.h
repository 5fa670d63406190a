#pragma once

#include <string>

namespace tolvarin {

// Texts of the hub that a person reads, in the words of this system: the
// progress notices around a test still name the services of the system the
// program was first designed for (the log keeps those words). A face shows
// what these answer.
namespace UserWording {

// The notice shown while a service is switched; any other text unchanged.
std::string sheetMessage(const std::string& designed);

} // namespace UserWording

} // namespace tolvarin
