#pragma once

#include <sys/types.h>

namespace tolvarin {

// The effective user id around a test. A test reads raw devices with root
// rights; the program may give them up for a while (while the user picks a
// file) and take them back. Only the effective id moves, so what was given
// up can be taken back: the real and saved ids stay as the program started.
class Privileges {
  public:
    Privileges() = delete;

    // Makes the effective user id 0. Answers false when the program has no
    // root rights to take (started without sudo); nothing changes then.
    static bool acquire();
    // Makes the effective user id uid; false when that is refused.
    static bool dropTo(uid_t uid);
};

} // namespace tolvarin
