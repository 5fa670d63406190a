#include "diagnostics/DiagResults.h"

#include "base/TextFormat.h"
#include "platform/System.h"

#include <utility>

namespace tolvarin {

DiagResults::DiagResults(std::string dateOfTest, std::string typeOfTest,
                         std::string errorOrIrregularity, int64_t startRange, int64_t stopRange,
                         double duration)
    : dateOfTest_(std::move(dateOfTest)), typeOfTest_(std::move(typeOfTest)),
      errorOrIrregularity_(std::move(errorOrIrregularity)), startRange_(startRange),
      stopRange_(stopRange), duration_(duration) {}

void DiagResults::printDiagResultsToLogFile() const {
    System::consoleLog("*****Diagnostics Element Data*****");
    System::consoleLog("Date of test: " + dateOfTest_);
    System::consoleLog("Type of test: " + typeOfTest_);
    System::consoleLog("Problem type: " + errorOrIrregularity_);
    System::consoleLog(formatText("Start range: %lld", static_cast<long long>(startRange_)));
    System::consoleLog(formatText("Stop range: %lld", static_cast<long long>(stopRange_)));
    System::consoleLog(formatText("Duration: %f", duration_));
    printSeparatorToLogFile();
}

void DiagResults::printSeparatorToLogFile() {
    System::consoleLog(std::string(65, '-'));
}

} // namespace tolvarin
