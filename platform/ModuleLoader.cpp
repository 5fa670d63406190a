#include "platform/ModuleLoader.h"

#include "platform/Paths.h"

#include <dlfcn.h>
#include <unistd.h>

namespace tolvarin {

namespace ModuleLoader {

std::string modulePath(const std::string& name) {
    // Installed, the modules sit in a folder of their own below the
    // resources (private modules, which the loader's cache must not list); a
    // build tree or TOLVARIN_RESOURCES holds them directly.
    const std::string resources = Paths::resourcesDirectory();
    std::string nested = resources + "/modules/" + name + ".so";
    if (::access(nested.c_str(), F_OK) == 0) {
        return nested;
    }
    return resources + "/" + name + ".so";
}

void* findFactory(const std::string& path, const std::string& className, std::string* error) {
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        if (error != nullptr) {
            const char* text = ::dlerror();
            *error = text != nullptr ? text : path + ": cannot be loaded";
        }
        return nullptr;
    }
    std::string symbol = "tolvarin_create_" + className;
    void* factory = ::dlsym(handle, symbol.c_str());
    if (factory == nullptr) {
        if (error != nullptr) {
            *error = path + ": no principal class " + className;
        }
        ::dlclose(handle);
        return nullptr;
    }
    return factory;
}

} // namespace ModuleLoader

} // namespace tolvarin
