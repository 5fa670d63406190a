#include "cli/ForgetCommand.h"

#include "app/UnitForgetter.h"
#include "cli/TestRun.h"

namespace tolvarin {

int ForgetCommand::run() {
    TestRun::Unit unit = TestRun::resolveUnit(options_.unit, TestRun::listAttachedMedia);
    if (!unit.media) {
        TestRun::complain(unit.error);
        return unit.status;
    }
    TestRun run(options_, *unit.media, unit.mediaArray);
    UnitForgetter::Result result = UnitForgetter(run.hub()).forgetSelectedUnit();
    int status = TestRun::kExitNotRun;
    std::string word;
    switch (result.outcome) {
    case UnitForgetter::Outcome::forgotten:
        status = TestRun::kExitPassed;
        word = "forgotten";
        TestRun::complain("unit " + options_.unit +
                          " forgotten: " + std::to_string(result.removed) + " stored files of " +
                          result.prefix + " removed");
        break;
    case UnitForgetter::Outcome::nothingStored:
        status = TestRun::kExitPassed;
        word = "nothingStored";
        TestRun::complain("nothing is stored for unit " + options_.unit);
        break;
    case UnitForgetter::Outcome::cancelled:
        word = "cancelled";
        TestRun::complain("unit " + options_.unit + " was not forgotten (cancelled)");
        break;
    case UnitForgetter::Outcome::refused:
        word = "refused";
        TestRun::complain("unit " + options_.unit + " was not forgotten: " + result.problem);
        break;
    }
    run.printSummary({{"command", "forget"},
                      {"unit", options_.unit},
                      {"device", run.hub().rawTargetDevice()},
                      {"result", word},
                      {"exitStatus", status},
                      {"filePrefix", TestRun::textOrNull(result.prefix)},
                      {"removed", result.removed},
                      {"problem", TestRun::textOrNull(result.problem)}});
    return status;
}

} // namespace tolvarin
