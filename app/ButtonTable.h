#pragma once

#include "app/GUIView.h"

#include <array>
#include <optional>

namespace tolvarin {

// The enabled state each event of the main window leaves its ten buttons in.
// Kept as data so that the hub and its tests read the same table.
class ButtonTable {
  public:
    enum class Event {
        launchComplete,
        rowSelected, // while no test is under way
        normalStartAccepted,
        normalPause,
        normalStop,
        cursoryStartAccepted,
        cursoryPause,
        cursoryStop,
        resumeFormalTest,
        resumeCursoryTest,
        resetButtons,
        diagnosticsStartAccepted,
        cursoryOptionsOpened,
        cursoryOptionsConfirmed,
        cursoryOptionsCancelled,
        diagnosticsOptionsOpened,
        diagnosticsOptionsConfirmed,
        diagnosticsOptionsCancelled,
    };

    // Per button (in GUIButton order): enabled, disabled, or nullopt for a
    // button the event leaves as it was.
    using Row = std::array<std::optional<bool>, kGUIButtonCount>;

    static Row rowFor(Event event);
};

} // namespace tolvarin
