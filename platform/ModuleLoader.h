#pragma once

#include <string>

namespace tolvarin {

// Loads a module from the resources folder and finds the factory of its
// principal class: an exported C function named "tolvarin_create_" + the
// class name. Modules stay loaded for the life of the process, since the
// objects they make live as long.
namespace ModuleLoader {

// Answers the factory's address, or nullptr with a message.
void* findFactory(const std::string& modulePath, const std::string& className,
                  std::string* error = nullptr);

// Path of a module named name in the resources folder.
std::string modulePath(const std::string& name);

} // namespace ModuleLoader

// Declares and exports a module's factory for its principal class.
#define TOLVARIN_MODULE_FACTORY(ClassName, ReturnType, Expression)                                 \
    extern "C" __attribute__((visibility("default"))) ReturnType* tolvarin_create_##ClassName() {  \
        return Expression;                                                                         \
    }

} // namespace tolvarin
