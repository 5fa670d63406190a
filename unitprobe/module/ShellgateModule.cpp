// The Shellgate module: a command runner with the operations of CmdProcessor,
// for the application's system information.
#include "platform/ModuleLoader.h"
#include "unitprobe/CmdProcessor.h"

namespace tolvarin {

TOLVARIN_MODULE_FACTORY(Shellgate, CmdProcessor, new CmdProcessor())

} // namespace tolvarin
