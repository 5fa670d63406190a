#include "report/TestReport.h"

#include "logging/Logger.h"
#include "platform/Env.h"
#include "report/ReportGenerator.h"

namespace tolvarin {

bool TestReport::generateReport(const TestResults& results) {
    return ReportGenerator::generateReport(results, env_);
}

bool TestReport::displayReport() {
    return ReportGenerator::displayReport(env_);
}

std::string TestReport::problem() const {
    return ReportGenerator::lastProblem();
}

std::string TestReport::reportPath() const {
    return Logger::reportFileNameAndPath();
}

} // namespace tolvarin
