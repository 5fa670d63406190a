#include "cli/SurfaceMapFile.h"

#include "app/GUIController.h"
#include "cli/TestRun.h"

namespace tolvarin {

bool writeSurfaceMapFile(const GUIController& hub, const std::string& path) {
    std::string why;
    if (!hub.writeSurfaceMapPicture(path, &why)) {
        TestRun::complain("the surface map was not written to " + path + ": " + why);
        return false;
    }
    TestRun::complain("surface map: " + path);
    return true;
}

} // namespace tolvarin
