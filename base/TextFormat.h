#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>

namespace tolvarin {

// printf-style formatting into a string as long as the text needs, for
// console lines, progress texts and records that are not cut. (The log's own
// pieces are cut at 254 characters by Logger.)
std::string formatText(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string vformatText(const char* fmt, va_list args) __attribute__((format(printf, 1, 0)));

// The text "%.3f" gives for bytes / 1e9 (a position in GB), made without
// printf: a scan's progress line is made every tenth read.
std::string gigabytesText(int64_t bytes);

} // namespace tolvarin
