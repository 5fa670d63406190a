#include "base/NotificationCenter.h"

#include <algorithm>

namespace tolvarin {

NotificationCenter::Token NotificationCenter::addObserver(const std::string& name,
                                                          Callback callback) {
    std::lock_guard<std::mutex> lock(mutex_);
    Token token = next_++;
    entries_.push_back({token, name, std::move(callback)});
    return token;
}

void NotificationCenter::removeObserver(Token token) {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(),
                                  [token](const Entry& e) { return e.token == token; }),
                   entries_.end());
}

void NotificationCenter::postNotificationName(const std::string& name, const void* object) {
    // Observers run without the lock so that one may post or unregister.
    std::vector<Callback> matching;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& e : entries_) {
            if (e.name == name) {
                matching.push_back(e.callback);
            }
        }
    }
    for (const auto& cb : matching) {
        cb(name, object);
    }
}

} // namespace tolvarin
