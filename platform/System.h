#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace tolvarin {

// Small operating-system services used across the core.
namespace System {

// Wall-clock time in microseconds since the epoch (gettimeofday).
int64_t wallClockMicros();

// The kernel release (uname -r).
std::string kernelRelease();
// The marketing name of a release of the desktop system the program was first
// designed for; every other release, Linux's included, reads "UNKNOWN".
std::string releaseName(const std::string& kernelRelease);

// Writes one line to the system log (and to standard error when
// TOLVARIN_CONSOLE is set), prefixed "TOLVARIN - ".
void consoleLog(const std::string& text);

// Whether the process has root rights (effective uid 0).
bool isPrivileged();

} // namespace System

} // namespace tolvarin
