#pragma once

#include <string>

namespace tolvarin {

class GUIController;

// --map FILE.png: the surface map of the test just run as a picture. Says on
// standard error where it went, or why there is none; answers whether it
// was written.
bool writeSurfaceMapFile(const GUIController& hub, const std::string& path);

} // namespace tolvarin
