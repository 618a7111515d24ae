// Thread service: start, join and sleep.
#pragma once

#include <cstdint>

struct PlatThreadObject;
/// A thread handle; nullptr means "no thread".
using PlatThread = PlatThreadObject*;

using PlatThreadBody = void (*)(intptr_t argument);

/// Starts a thread with default attributes running body(argument); nullptr if it could not be made.
PlatThread PlatThreadStart(PlatThreadBody body, intptr_t argument);

/// Waits until the thread has ended and releases its handle.
void PlatThreadJoin(PlatThread thread);

/// Sleeps for `ms` milliseconds (0: returns at once).
void PlatSleepMs(int ms);

/// Sleeps for about `us` microseconds (0: returns at once), for short waits that let work gather.
/// Where the system timer is too coarse for that (Windows), it only yields the processor.
void PlatSleepUs(int us);

/// Lowers the calling thread's priority to the least there is (idle), so that its work takes only
/// the processor time nothing else wants.
void PlatLowerThreadPriority();
