#pragma once

namespace tolvarin {

// What a diagnostics run does. The hub keeps one set for the life of the
// program (never stored); these are its values at start-up.
struct DiagnosticsOptions {
    // The largest iteration count of either test.
    static constexpr int kMaximumIterations = 1000000;

    // Re-test the recorded errors and irregularities.
    bool analyzeErrorsAndIrregularities = true;
    // Every recorded scan set, not only the latest.
    bool historicalAnalysis = true;
    bool performInterfaceTests = false;
    bool performMemoryTests = false;
    int interfaceTestIterations = 10;
    int memoryTestIterations = 10;

    // Whether anything at all is chosen.
    bool anySelected() const {
        return analyzeErrorsAndIrregularities || performInterfaceTests || performMemoryTests;
    }
    // The counts brought into 0..kMaximumIterations.
    void clampIterations() {
        interfaceTestIterations = clamp(interfaceTestIterations);
        memoryTestIterations = clamp(memoryTestIterations);
    }

    bool operator==(const DiagnosticsOptions&) const = default;

  private:
    static int clamp(int n) { return n < 0 ? 0 : n > kMaximumIterations ? kMaximumIterations : n; }
};

} // namespace tolvarin
