#include "app/ButtonPanel.h"

namespace tolvarin {

void ButtonPanel::apply(ButtonTable::Event event) {
    ButtonTable::Row row = ButtonTable::rowFor(event);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (size_t i = 0; i < row.size(); ++i) {
            if (row[i]) {
                buttons_[i] = *row[i];
            }
        }
    }
    for (size_t i = 0; i < row.size(); ++i) {
        if (row[i]) {
            view_.setButtonEnabled(static_cast<GUIButton>(i), *row[i]);
        }
    }
}

void ButtonPanel::set(GUIButton button, bool enabled) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        buttons_[static_cast<size_t>(button)] = enabled;
    }
    view_.setButtonEnabled(button, enabled);
}

bool ButtonPanel::enabled(GUIButton button) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return buttons_[static_cast<size_t>(button)];
}

std::array<bool, kGUIButtonCount> ButtonPanel::states() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return buttons_;
}

} // namespace tolvarin
