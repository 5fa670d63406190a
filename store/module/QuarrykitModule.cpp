// The Quarrykit module: exports the factory of its principal class, which
// the application calls once at start-up and owns from then on.
#include "platform/ModuleLoader.h"
#include "store/Quarrykit.h"

namespace tolvarin {

TOLVARIN_MODULE_FACTORY(Quarrykit, Quarrykit, new Quarrykit())

} // namespace tolvarin
