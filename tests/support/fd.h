// Closing a descriptor once.
#pragma once

#include <unistd.h>

namespace testing_support {

/// Closes `fd` unless it is already closed (-1), and marks it closed.
inline void CloseFd(int& fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

}  // namespace testing_support
