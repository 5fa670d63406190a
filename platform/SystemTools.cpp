#include "platform/SystemTools.h"

#include <array>
#include <unistd.h>

namespace tolvarin {

namespace SystemTools {

std::string find(const char* name) {
    static const std::array<const char*, 6> folders = {
        "/usr/sbin", "/usr/bin", "/sbin", "/bin", "/usr/local/sbin", "/usr/local/bin"};
    for (const char* folder : folders) {
        std::string candidate = std::string(folder) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return std::string("/usr/bin/") + name;
}

} // namespace SystemTools

} // namespace tolvarin
