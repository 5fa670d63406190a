#include "app/ProgressBoard.h"

#include "engine/ScanRecorder.h"
#include "platform/Env.h"

namespace tolvarin {

ProgressBoard::ProgressBoard(GUIView& view, Env& env, Owner& owner)
    : view_(view), env_(env), owner_(owner) {
    for (int pane = 0; pane < 3; ++pane) {
        for (int scan = 0; scan < 2; ++scan) {
            auto shown = static_cast<GUISpinner>(pane);
            spinners_[static_cast<size_t>(pane * 2 + scan)] = std::make_unique<StallSpinner>(
                env_, [this] { return underTest_.load(); },
                [this, shown](bool animating) { view_.setSpinnerAnimating(shown, animating); });
        }
    }
}

ProgressBoard::~ProgressBoard() {
    stopSpinners();
}

StallSpinner& ProgressBoard::watcher(SpinnerPane pane, SpinnerScan scan) const {
    return *spinners_[static_cast<size_t>(pane) * 2 + static_cast<size_t>(scan)];
}

void ProgressBoard::showProgress(const ScanProgress& progress) {
    std::lock_guard<std::mutex> lock(mutex_);
    progress_ = progress;
}

ScanProgress ProgressBoard::progress() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return progress_;
}

void ProgressBoard::zeroResults() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ScanProgress cleared;
        cleared.deviceBeingTested = progress_.deviceBeingTested;
        cleared.typeOfTest = progress_.typeOfTest;
        cleared.currentTestRange.assign(1, ' ');
        progress_ = cleared;
    }
    view_.testStatsChanged();
}

void ProgressBoard::spinner(SpinnerPane pane, SpinnerScan scan, SpinnerAction action,
                            int64_t location) {
    StallSpinner& s = watcher(pane, scan);
    switch (action) {
    case SpinnerAction::start:
        s.start();
        break;
    case SpinnerAction::stop:
        s.stop();
        break;
    case SpinnerAction::locate:
        s.setLocation(location);
        break;
    }
}

int64_t ProgressBoard::spinnerLocation(SpinnerPane pane, SpinnerScan scan) const {
    return watcher(pane, scan).location();
}

bool ProgressBoard::spinnerActive(SpinnerPane pane, SpinnerScan scan) const {
    return watcher(pane, scan).active();
}

SurfaceMapPicture ProgressBoard::liveSurfaceMap() const {
    return liveMap_ ? liveMap_->snapshot() : SurfaceMapPicture{};
}

uint64_t ProgressBoard::liveSurfaceMapGeneration() const {
    return liveMap_ ? liveMap_->generation() : 0;
}

void ProgressBoard::setLiveSurfaceMap(std::shared_ptr<const LiveSurfaceMap> map) {
    liveMap_ = std::move(map);
}

void ProgressBoard::stopSpinners() {
    for (auto& s : spinners_) {
        s->stop();
    }
}

} // namespace tolvarin
