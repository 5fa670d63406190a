#include "platform/Privileges.h"

#include <unistd.h>

namespace tolvarin {

bool Privileges::acquire() {
    if (::geteuid() == 0) {
        return true;
    }
    return ::seteuid(0) == 0;
}

bool Privileges::dropTo(uid_t uid) {
    if (::geteuid() == uid) {
        return true;
    }
    return ::seteuid(uid) == 0;
}

} // namespace tolvarin
