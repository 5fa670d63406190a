#pragma once

#include <string>

namespace tolvarin {

namespace SystemTools {

// The path of a system tool, looked up in the system's own folders, never
// through PATH: the program may run with root rights. When it is in none
// of them, /usr/bin/NAME (whose start then fails).
std::string find(const char* name);

} // namespace SystemTools

} // namespace tolvarin
