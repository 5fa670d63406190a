#pragma once

#include "engine/ReportWriter.h"

namespace tolvarin {

class Env;

// The report writer a normal test is handed: the rich-text report of
// ReportGenerator, shown with the desktop's viewer started through env.
class TestReport : public ReportWriter {
  public:
    explicit TestReport(Env& env) : env_(env) {}
    bool generateReport(const TestResults& results) override;
    bool displayReport() override;
    std::string reportPath() const override;
    std::string problem() const override;

  private:
    Env& env_;
};

} // namespace tolvarin
