#pragma once

#include "app/ButtonTable.h"
#include "app/GUIView.h"

#include <array>
#include <mutex>

namespace tolvarin {

// The states of the ten buttons, changed by the events of the button table
// and shown by the face.
class ButtonPanel {
  public:
    explicit ButtonPanel(GUIView& view) : view_(view) {}

    void apply(ButtonTable::Event event);
    void set(GUIButton button, bool enabled);
    bool enabled(GUIButton button) const;
    std::array<bool, kGUIButtonCount> states() const;

  private:
    GUIView& view_;
    mutable std::mutex mutex_;
    std::array<bool, kGUIButtonCount> buttons_{};
};

} // namespace tolvarin
