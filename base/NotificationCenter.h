#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace tolvarin {

// A small in-process notification centre: observers register a callback for a
// name; posting calls every matching observer on the posting thread. Faces
// that must redraw on their own thread hop there themselves.
class NotificationCenter {
  public:
    using Callback = std::function<void(const std::string& name, const void* object)>;
    using Token = int;

    Token addObserver(const std::string& name, Callback callback);
    void removeObserver(Token token);
    void postNotificationName(const std::string& name, const void* object);

  private:
    struct Entry {
        Token token;
        std::string name;
        Callback callback;
    };
    std::mutex mutex_;
    std::vector<Entry> entries_;
    Token next_ = 1;
};

} // namespace tolvarin
