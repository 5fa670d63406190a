#pragma once

#include "cli/CliOptions.h"

namespace tolvarin {

// tolvarin-cli forget UNIT: removes a unit's stored files and header after
// asking (message 1015; in a script --yes or --answer 1015=1 confirms, the
// command itself naming the deletion). Exit 0 when the unit was forgotten or
// had nothing stored, 3 when cancelled or refused (a test holds the unit).
class ForgetCommand {
  public:
    explicit ForgetCommand(CliOptions options) : options_(std::move(options)) {}
    int run();

  private:
    CliOptions options_;
};

} // namespace tolvarin
