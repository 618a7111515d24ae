// What the receiver thread counts: datagrams and bytes taken in, and every loss on the way in.
//
// Threads: written by the receiver thread only (relaxed atomics: each counter has one writer and
// is read as a whole by the main thread, which needs no ordering with anything else).
#pragma once

#include <atomic>
#include <cstdint>

struct IntakeCounters {
    std::atomic<uint64_t> datagrams;        // datagrams received
    std::atomic<uint64_t> bytes;            // their bytes, as sent (a truncated one counts whole)
    std::atomic<uint64_t> droppedSystem;    // datagrams the system dropped before they were read
    std::atomic<uint64_t> droppedQueue;     // datagrams lost because the ring stayed full at a stop
    std::atomic<uint64_t> truncated;        // datagrams cut because they did not fit
    std::atomic<uint64_t> truncatedBytes;   // the bytes cut from them
    std::atomic<uint64_t> forcedLineFeeds;  // lines cut with a forced line feed
};

extern IntakeCounters intakeCounters;

/// Adds to a counter. Receiver thread only.
inline void CountIntake(std::atomic<uint64_t>& counter, uint64_t amount) {
    counter.store(counter.load(std::memory_order_relaxed) + amount, std::memory_order_relaxed);
}

/// Takes in the system's drop counter as a datagram (or a direct query) reported it: a 32-bit
/// count since the socket was opened, which may wrap. A value older than one already seen (a
/// datagram queued before a direct query) changes nothing. Receiver thread only.
void NoteSystemDropCounter(uint32_t systemCounter);

/// Every counter back to zero. For start-up and tests; the receiver thread must not run.
void ResetIntakeCounters();
