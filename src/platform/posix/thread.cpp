// Threads on POSIX.
#include "platform/thread.h"

#include <errno.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <time.h>

struct PlatThreadObject {
    pthread_t thread;
    PlatThreadBody body;
    intptr_t argument;
};

namespace {

void* Trampoline(void* raw) {
    PlatThreadObject* self = static_cast<PlatThreadObject*>(raw);
    self->body(self->argument);
    return nullptr;
}

}  // namespace

PlatThread PlatThreadStart(PlatThreadBody body, intptr_t argument) {
    PlatThreadObject* self = new PlatThreadObject{pthread_t(), body, argument};
    if (pthread_create(&self->thread, nullptr, Trampoline, self) == 0) return self;
    delete self;
    return nullptr;
}

void PlatThreadJoin(PlatThread thread) {
    if (thread == nullptr) return;
    pthread_join(thread->thread, nullptr);
    delete thread;
}

void PlatSleepMs(int ms) {
    if (ms <= 0) return;
    timespec left = {ms / 1000, static_cast<long>(ms % 1000) * 1000000};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

void PlatSleepUs(int us) {
    if (us <= 0) return;
    timespec left = {us / 1000000, static_cast<long>(us % 1000000) * 1000};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

void PlatLowerThreadPriority() {
#ifdef SCHED_IDLE
    sched_param parameter = {};
    if (pthread_setschedparam(pthread_self(), SCHED_IDLE, &parameter) == 0) return;
#endif
    // Where there is no idle class, the kindest nice value; on Linux it is the calling thread's.
    (void)setpriority(PRIO_PROCESS, 0, 19);
}
