#pragma once

#include "diagnostics/DiagResults.h"

#include <array>
#include <vector>

namespace tolvarin {

// Clusters of long delays among the recorded findings: when an irregularity
// took more than 9 s and later findings took about as long (within a second
// either way), the delays look like timeouts of the drive or the system
// rather than slow places on the medium. The list is built once per run from
// the findings and then asked about recorded and measured times.
class PossibleTimeouts {
  public:
    static constexpr int kSlots = 50;
    static constexpr double kLongIrregularity = 9.0;
    static constexpr double kTimeoutFloor = 7.0;
    static constexpr double kWindow = 1.0;

    PossibleTimeouts() { slots_.fill(0.0); }

    // Searches the findings: for each irregularity longer than 9 s, every
    // later finding whose duration lies strictly within 1 s of it is stored
    // (once the count reaches 49, later ones overwrite the last slot).
    // Answers whether anything was stored.
    bool search(const std::vector<DiagResults>& findings);
    // Clears every later slot that lies within 1 s of an earlier slot above
    // 7 s, so that each cluster is listed once.
    void merge();
    // isPossibleTimeoutAt:withDuration:fromPossibleTimeouts: whether
    // duration lies strictly within 1 s of a slot above 7 s.
    bool isPossibleTimeout(double duration) const;

    bool timeoutsPresent() const { return present_; }
    int count() const { return count_; }
    // The slot values above 7 s, in slot order.
    std::vector<double> durations() const;
    const std::array<double, kSlots>& list() const { return slots_; }

    // printTimeoutMessage, then the durations (after merge()), to the
    // current log.
    void writeNoteToLog() const;

  private:
    std::array<double, kSlots> slots_{};
    int count_ = 0;
    bool present_ = false;
};

} // namespace tolvarin
