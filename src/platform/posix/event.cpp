// Events on POSIX: an eventfd counter, read back to zero by a successful wait.
#include "platform/event.h"

#include <errno.h>
#include <poll.h>
#include <stdint.h>
#include <sys/eventfd.h>
#include <unistd.h>

struct PlatEventObject {
    int fd;
};

PlatEvent PlatEventCreate() {
    int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0) return nullptr;
    return new PlatEventObject{fd};
}

void PlatEventSignal(PlatEvent event) {
    if (event == nullptr) return;
    uint64_t one = 1;
    // A full counter (EAGAIN) already means "signalled"; nothing more to do then.
    while (write(event->fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void PlatEventReset(PlatEvent event) {
    if (event == nullptr) return;
    uint64_t count;
    while (read(event->fd, &count, sizeof count) < 0 && errno == EINTR) {
    }
}

PlatWaitResult PlatEventWait(PlatEvent event, int timeoutMs) {
    if (event == nullptr) return PlatWaitResult::Failed;
    pollfd watched = {event->fd, POLLIN, 0};
    int ready = poll(&watched, 1, timeoutMs < 0 ? 0 : timeoutMs);
    if (ready < 0) return errno == EINTR ? PlatWaitResult::TimedOut : PlatWaitResult::Failed;
    if (ready == 0) return PlatWaitResult::TimedOut;
    uint64_t count;
    if (read(event->fd, &count, sizeof count) < 0) {
        // Another waiter took it, or an interruption: nothing was signalled for this wait.
        return errno == EAGAIN || errno == EINTR ? PlatWaitResult::TimedOut : PlatWaitResult::Failed;
    }
    return PlatWaitResult::Signalled;
}

void PlatEventClose(PlatEvent event) {
    if (event == nullptr) return;
    close(event->fd);
    delete event;
}
