// Event service: an auto-reset wake-up signal between two threads.
#pragma once

struct PlatEventObject;
/// An event handle; nullptr means "no event".
using PlatEvent = PlatEventObject*;

enum class PlatWaitResult { Signalled, TimedOut, Failed };

/// Creates an auto-reset event, initially not signalled; nullptr on failure.
PlatEvent PlatEventCreate();

/// Signals the event; several signals before a wait leave it signalled once. Safe from any thread.
/// A null event is ignored.
void PlatEventSignal(PlatEvent event);

/// Puts the event back to not signalled.
void PlatEventReset(PlatEvent event);

/// Waits at most `timeoutMs` milliseconds (0: just looks) for the event. A successful wait
/// consumes the signal. A null or closed event fails at once.
PlatWaitResult PlatEventWait(PlatEvent event, int timeoutMs);

/// Releases the event. No thread may use it afterwards.
void PlatEventClose(PlatEvent event);
