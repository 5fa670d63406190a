#include "cli/HistoryCommand.h"

#include "base/TextFormat.h"
#include "cli/MeasurementJson.h"
#include "cli/TestRun.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <utility>

namespace tolvarin {

namespace {

// An index in at most ten characters: a failed seek scan's can be
// astronomically large.
std::string indexNumber(double value) {
    return std::fabs(value) < 1e5 ? formatText("%.4f", value) : formatText("%.3e", value);
}

std::string indexText(const std::optional<double>& value) {
    return value && std::isfinite(*value) ? formatText("%10s", indexNumber(*value).c_str())
                                          : std::string("       N/A");
}

std::string smartText(const TestMeasurements& m) {
    if (!m.smartBefore.available || !m.smartAfter.available) {
        return "not read";
    }
    if (m.smartChanges.empty()) {
        return "none";
    }
    std::string out;
    for (const SmartChange& c : m.smartChanges) {
        out += (out.empty() ? "" : ", ") + c.name + " " + std::to_string(c.before) + "->" +
               std::to_string(c.after);
    }
    return out;
}

} // namespace

HistoryCommand::HistoryCommand(CliOptions options) : options_(std::move(options)) {}

std::string HistoryCommand::trendLine(const std::vector<std::optional<double>>& values) {
    static const char levels[] = "_.-=^";
    constexpr int kLevels = 5;
    double lo = 0;
    double hi = 0;
    bool any = false;
    for (const auto& v : values) {
        if (v && std::isfinite(*v)) {
            lo = any ? std::min(lo, *v) : *v;
            hi = any ? std::max(hi, *v) : *v;
            any = true;
        }
    }
    std::string line;
    for (const auto& v : values) {
        if (!v || !std::isfinite(*v)) {
            line += '?';
        } else if (hi <= lo) {
            line += '-';
        } else {
            // Indices read back from a file can span more than a double
            // holds: such a span counts as the ends.
            double share = (*v - lo) / (hi - lo);
            if (!std::isfinite(share)) {
                share = *v >= hi ? 1 : 0;
            }
            auto level = static_cast<int>(std::clamp(share, 0.0, 1.0) * (kLevels - 1) + 0.5);
            line += levels[std::clamp(level, 0, kLevels - 1)];
        }
    }
    return line;
}

std::string HistoryCommand::text(const std::string& unit, const UnitHistory& history) {
    if (history.filePrefix.empty()) {
        return "No stored tests of " + unit +
               ": no normal test has kept its files for this unit.\n";
    }
    std::string out = "History of " + unit + " (unit " + history.filePrefix +
                      "): " + std::to_string(history.entries.size()) +
                      (history.entries.size() == 1 ? " test" : " tests") + ", oldest first\n";
    if (history.entries.empty()) {
        return out + "No test of this unit has kept its measurements yet.\n";
    }
    out += formatText("\n%3s  %-28s  %-7s  %-9s  %-26s  %10s %10s %10s %10s  %6s %6s  %s\n", "#",
                      "started", "kind", "outcome", "verdict", "SSLIN", "SSRAT", "SKLIN", "SKRAT",
                      "errors", "irreg", "S.M.A.R.T. changes");
    std::array<std::vector<std::optional<double>>, 4> trend;
    int number = 0;
    for (const MeasurementArchive::Entry& e : history.entries) {
        ++number;
        if (!e.test) {
            out += formatText("%3d  %s cannot be read: %s\n", number,
                              std::filesystem::path(e.path).filename().string().c_str(),
                              e.problem.c_str());
            continue;
        }
        const TestMeasurements& m = *e.test;
        std::string kind = m.kind + (m.initialScan ? "*" : "");
        out += formatText("%3d  %-28s  %-7s  %-9s  %-26s  %s %s %s %s  %6d %6d  %s\n", number,
                          m.startStamp.c_str(), kind.c_str(), m.outcome.c_str(),
                          m.verdict.empty() ? "-" : m.verdict.c_str(),
                          indexText(m.indices[0]).c_str(), indexText(m.indices[1]).c_str(),
                          indexText(m.indices[2]).c_str(), indexText(m.indices[3]).c_str(),
                          m.totalErrors, m.totalIrregularities, smartText(m).c_str());
        for (size_t k = 0; k < trend.size(); ++k) {
            trend[k].push_back(m.indices[k]);
        }
    }
    out += "(* the unit's baseline test)\n";
    out += "\nTrend of the indices, oldest to newest (_ lowest, ^ highest, ? not measured):\n";
    static const std::array<const char*, 4> names = {"surface linear", "surface ratio",
                                                     "seek linear", "seek ratio"};
    for (size_t k = 0; k < trend.size(); ++k) {
        double lo = 0;
        double hi = 0;
        bool any = false;
        for (const auto& v : trend[k]) {
            if (v && std::isfinite(*v)) {
                lo = any ? std::min(lo, *v) : *v;
                hi = any ? std::max(hi, *v) : *v;
                any = true;
            }
        }
        out += formatText("  %-15s %s", names[k], trendLine(trend[k]).c_str());
        out += any ? formatText("   %s .. %s\n", indexNumber(lo).c_str(), indexNumber(hi).c_str())
                   : std::string("   not measured\n");
    }
    return out;
}

int HistoryCommand::run() {
    TestRun::Unit unit = TestRun::resolveUnit(options_.unit, TestRun::listAttachedMedia);
    if (!unit.media) {
        TestRun::complain(unit.error);
        return unit.status;
    }
    TestRun run(options_, *unit.media, unit.mediaArray);
    UnitHistory history = run.hub().unitHistory();
    if (options_.json) {
        run.printSummary(MeasurementJson::ofHistory(options_.unit, history));
    } else {
        run.printResult(text(options_.unit, history));
    }
    return TestRun::kExitPassed;
}

} // namespace tolvarin
