#include "diagnostics/PossibleTimeouts.h"

#include "base/TextFormat.h"
#include "logging/Logger.h"

namespace tolvarin {

namespace {

bool within(double value, double centre, double window) {
    return value > centre - window && value < centre + window;
}

} // namespace

bool PossibleTimeouts::search(const std::vector<DiagResults>& findings) {
    for (std::size_t i = 0; i < findings.size(); ++i) {
        const double d = findings[i].duration();
        if (!findings[i].isIrregularity() || d <= kLongIrregularity) {
            continue;
        }
        for (std::size_t j = i + 1; j < findings.size(); ++j) {
            const double later = findings[j].duration();
            if (!within(later, d, kWindow)) {
                continue;
            }
            slots_[static_cast<std::size_t>(count_)] = later;
            present_ = true;
            if (count_ < kSlots - 1) {
                ++count_;
            }
        }
    }
    return present_;
}

void PossibleTimeouts::merge() {
    for (std::size_t k = 0; k < slots_.size(); ++k) {
        const double v = slots_[k];
        if (v <= kTimeoutFloor) {
            continue;
        }
        for (std::size_t later = k + 1; later < slots_.size(); ++later) {
            if (within(slots_[later], v, kWindow)) {
                slots_[later] = 0.0;
            }
        }
    }
}

bool PossibleTimeouts::isPossibleTimeout(double duration) const {
    for (double v : slots_) {
        if (v > kTimeoutFloor && within(duration, v, kWindow)) {
            return true;
        }
    }
    return false;
}

std::vector<double> PossibleTimeouts::durations() const {
    std::vector<double> out;
    for (double v : slots_) {
        if (v > kTimeoutFloor) {
            out.push_back(v);
        }
    }
    return out;
}

void PossibleTimeouts::writeNoteToLog() const {
    static const char* const kNote[] = {
        "\n\nNOTE:\n",
        "\tA number of the irregularities detected have abnormally long\n",
        "\tdurations within +/- 1.0 seconds of each other. This  is\n",
        "\tis often a sign that the drive is experiencing excessive head\n",
        "\tparking, drive failure, logic board problems, or significant\n",
        "\tsystem and/or software delays. Tolvarin will monitor the test \n",
        "\tresults during this diagnostic scan to see if they reoccur.\n",
        "\tPlease refer to the users manual for details about this type\n",
        "\tof problem. The timeouts are occurring APPROXIMATELY at the\n",
        "\tfollowing intervals:\n\n ",
    };
    for (const char* piece : kNote) {
        Logger::updateLogWithCRString(piece);
    }
    for (double v : durations()) {
        Logger::updateLogWithCRString(formatText("\t%f Seconds\n\n\n", v));
    }
}

} // namespace tolvarin
