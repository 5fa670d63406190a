#include "tests/support/ScriptedAnswerer.h"

namespace tolvarin {

int ScriptedAnswerer::answer(const Alert& alert) {
    std::lock_guard<std::mutex> lock(mutex_);
    asked_.push_back(alert);
    auto it = queued_.find(alert.number);
    if (it != queued_.end() && !it->second.empty()) {
        int a = it->second.front();
        it->second.pop_front();
        return a;
    }
    ++unscripted_;
    return fallback_.value_or(MessageCenter::safeAnswerForNumber(alert.number));
}

void ScriptedAnswerer::push(int n, int answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    queued_[n].push_back(answer);
}

void ScriptedAnswerer::setFallback(int answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    fallback_ = answer;
}

std::vector<Alert> ScriptedAnswerer::asked() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return asked_;
}

std::vector<int> ScriptedAnswerer::askedNumbers() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<int> numbers;
    for (const Alert& a : asked_) {
        numbers.push_back(a.number);
    }
    return numbers;
}

int ScriptedAnswerer::unscripted() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return unscripted_;
}

size_t ScriptedAnswerer::pending() const {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t n = 0;
    for (const auto& [number, answers] : queued_) {
        n += answers.size();
    }
    return n;
}

} // namespace tolvarin
