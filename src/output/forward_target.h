// One forward target as its forwarding thread and the main thread share it: the ring between
// them, the stop request, and what the thread tells the main thread (connection state, outages)
// through atomics, so that only the main thread ever writes a notice.
#pragma once

#include <atomic>
#include <cstdint>

#include "output/forward_ring.h"
#include "output/forward_url.h"
#include "platform/event.h"
#include "platform/thread.h"

/// The wait before the first reconnection; each failure doubles it up to kLastBackOffMs.
constexpr int kFirstBackOffMs = 100;
constexpr int kLastBackOffMs = 5000;

/// The wait after `backOffMs`: twice as long, at most kLastBackOffMs.
int NextBackOffMs(int backOffMs);

struct ForwardTarget {
    char url[256];  // as given, for the notices
    ForwardUrl where;
    ForwardRing ring;
    PlatEvent wake;
    PlatThread thread;
    char* batch;  // the thread's own
    std::atomic<int> sleeping{0};  // 1 while the thread waits for messages
    std::atomic<bool> stopping{false};
    std::atomic<int64_t> stopDeadline{0};

    // Written by the forwarding thread, read by the main thread.
    std::atomic<bool> connected{false};
    std::atomic<uint32_t> outageChanges{0};  // each start and end of an outage; odd during one
    std::atomic<int> outageError{0};         // the system's reason for the last failure
    std::atomic<bool> outageWhileConnecting{true};  // the failure was a connection attempt's
    std::atomic<uint64_t> queuedAtReconnect{0};

    // Main thread only (atomic for the statistics line).
    std::atomic<uint64_t> dropped{0};
    uint64_t droppedUnreachable = 0;  // of `dropped`, while no connection was up
    uint64_t droppedShown = 0;
    uint64_t droppedUnreachableShown = 0;
    int64_t lastDropNoticeMs = 0;
    uint32_t outageChangesShown = 0;
};

/// The body of a target's forwarding thread; `argument` is the ForwardTarget.
void ForwardingThread(intptr_t argument);
