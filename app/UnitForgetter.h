#pragma once

#include <string>

namespace tolvarin {

class GUIController;

// Forgets the selected unit: after asking (message 1015), removes every
// stored file of it, its backups and, last, its drive header, so that its
// next normal test treats it as a unit never tested. Done under the data
// directory's catalogue lock and the unit's own lock, so never while a test
// holds the unit, and never at the same time as a new unit is registered.
class UnitForgetter {
  public:
    enum class Outcome { forgotten, nothingStored, cancelled, refused };
    struct Result {
        Outcome outcome = Outcome::refused;
        std::string prefix;  // the unit's file prefix (empty: none matched)
        int removed = 0;     // files removed
        std::string problem; // why it was refused, or what could not be removed
    };

    explicit UnitForgetter(GUIController& hub) : hub_(hub) {}
    Result forgetSelectedUnit();

  private:
    GUIController& hub_;
};

} // namespace tolvarin
