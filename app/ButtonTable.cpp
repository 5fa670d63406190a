#include "app/ButtonTable.h"

namespace tolvarin {

namespace {

constexpr int kKeep = -1;

ButtonTable::Row row(const std::array<int, kGUIButtonCount>& states) {
    ButtonTable::Row out;
    for (int i = 0; i < kGUIButtonCount; ++i) {
        if (states[static_cast<size_t>(i)] != kKeep) {
            out[static_cast<size_t>(i)] = states[static_cast<size_t>(i)] == 1;
        }
    }
    return out;
}

} // namespace

ButtonTable::Row ButtonTable::rowFor(Event event) {
    constexpr int k = kKeep;
    // Columns: normal pause, normal start, normal stop, cursory pause,
    // cursory start, cursory stop, cursory options, configure diagnostics,
    // start diagnostics, stop diagnostics.
    switch (event) {
    case Event::launchComplete:
        return row({0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    case Event::rowSelected:
        return row({k, 1, k, k, 0, k, 1, 1, k, k});
    case Event::normalStartAccepted:
    case Event::resumeFormalTest:
        return row({1, 0, 1, 0, 0, 0, 0, 0, 0, 0});
    case Event::normalPause:
        return row({0, 1, 1, 0, 0, 0, 0, 0, 0, 0});
    case Event::normalStop:
        return row({0, 1, 0, 0, 0, 0, 1, 0, 0, 1});
    case Event::cursoryStartAccepted:
    case Event::resumeCursoryTest:
        return row({0, 0, 0, 1, 0, 1, 0, 0, 0, 0});
    case Event::cursoryPause:
        return row({0, 0, 0, 0, 1, 1, 0, 0, 0, 0});
    case Event::cursoryStop:
        return row({0, 1, 0, 0, 0, 0, 0, 1, 0, 0});
    case Event::resetButtons:
        return row({0, 1, 0, 0, 0, 0, 1, 1, 0, 0});
    case Event::diagnosticsStartAccepted:
        return row({0, 0, 0, 0, 0, 0, 0, 0, 0, 1});
    case Event::cursoryOptionsOpened:
        return row({k, k, k, k, k, k, 0, k, k, k});
    case Event::cursoryOptionsConfirmed:
        return row({k, k, k, k, 1, k, 1, k, k, k});
    case Event::cursoryOptionsCancelled:
        return row({k, k, k, k, 0, k, 1, k, k, k});
    case Event::diagnosticsOptionsOpened:
        return row({k, k, k, k, k, k, k, 0, k, k});
    case Event::diagnosticsOptionsConfirmed:
        return row({k, k, k, k, k, k, k, 1, 1, k});
    case Event::diagnosticsOptionsCancelled:
        return row({k, k, k, k, k, k, k, 1, k, k});
    }
    return row({k, k, k, k, k, k, k, k, k, k});
}

} // namespace tolvarin
