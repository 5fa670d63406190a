#pragma once

#include "logging/MessageCenter.h"

#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

namespace tolvarin {

// An answerer for tests: answers queued per message number, taken in order;
// a message with no queued answer gets the fallback (the message's safe
// answer unless one is set). Every alert asked is recorded. Safe to call from
// a scan thread while the test thread reads it.
class ScriptedAnswerer : public AlertAnswerer {
  public:
    int answer(const Alert& alert) override;

    // Queues answers for message n.
    void push(int n, int answer);
    // The answer of every message without a queued one.
    void setFallback(int answer);

    std::vector<Alert> asked() const;
    std::vector<int> askedNumbers() const;
    // How many messages were answered by the fallback.
    int unscripted() const;
    // Queued answers not yet used, all numbers together.
    size_t pending() const;

  private:
    mutable std::mutex mutex_;
    std::map<int, std::deque<int>> queued_;
    std::optional<int> fallback_;
    std::vector<Alert> asked_;
    int unscripted_ = 0;
};

} // namespace tolvarin
