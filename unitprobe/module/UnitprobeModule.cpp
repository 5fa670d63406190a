// The Unitprobe module: its principal class is made here and initialised by
// the application with initWithOSString, which runs the enumeration.
#include "platform/ModuleLoader.h"
#include "unitprobe/Unitprobe.h"

namespace tolvarin {

TOLVARIN_MODULE_FACTORY(Unitprobe, Unitprobe, new Unitprobe())

} // namespace tolvarin
